// How a caller waits for a port's threads to end, without the Windows API. The window's wait
// lets messages sent by other threads through, since a thread may be blocked in its synchronous
// notification, which only the window's thread can handle. Windows holds a thread's exit until
// its I/O requests have ended, and a driver that ignores cancelling can take minutes: past a
// bound the threads are left to end on their own. Only the threads' own word says that they have
// ended: a wait that failed or woke early says nothing of it. Tests supply a model thread.
#pragma once

#include <cstdint>

namespace serial {

// The longest the caller waits between looks at whether the threads have ended.
constexpr uint32_t kWorkerCheckMs = 10;

enum class WorkerWait { kWoken, kTimedOut, kFailed };
enum class WorkerEnd { kEnded, kLeftBehind };

// Worker, as the caller gives it:
//   uint32_t Now();               milliseconds, wrapping
//   bool Ended();                 the threads have said that they ended
//   WorkerWait Wait(uint32_t ms); at most ms, for a message sent to this thread
//   void Pause(uint32_t ms);      a plain sleep, after a wait that failed
//   void LetSentMessagesThrough();
template <typename Worker>
WorkerEnd WaitForWorkerEnd(Worker& worker, uint32_t boundMs) {
    const uint32_t start = worker.Now();
    while (!worker.Ended()) {
        const uint32_t waited = worker.Now() - start;
        if (waited >= boundMs) return WorkerEnd::kLeftBehind;
        const uint32_t left = boundMs - waited;
        const uint32_t slice = left < kWorkerCheckMs ? left : kWorkerCheckMs;
        // A failed wait returns at once: without the pause the loop would spin.
        if (worker.Wait(slice) == WorkerWait::kFailed) worker.Pause(slice);
        worker.LetSentMessagesThrough();
    }
    return WorkerEnd::kEnded;
}

}  // namespace serial
