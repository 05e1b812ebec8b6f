// How ClosePort waits for the receive worker to end, without the Windows API. The worker may be
// blocked in its synchronous notification, which only this thread can handle, so the wait lets
// messages sent by other threads through; a worker that could not start shows an error box,
// which the wait closes. Windows holds a thread's exit until its I/O requests have ended, and a
// driver that ignores cancelling can take minutes: past a bound the worker is left to end on
// its own (see worker_tie.h). ClosePort supplies the platform calls; tests supply a model thread.
#pragma once

#include <cstdint>

namespace kelma {

// While waiting, how often to look for the worker's error box.
constexpr uint32_t kWorkerCheckMs = 100;
// The longest the window waits for a worker: its own cancels are given 2 s.
constexpr uint32_t kCloseBoundMs = 3000;

enum class WorkerWait { kEnded, kMessage, kTimedOut };
enum class WorkerEnd { kEnded, kLeftBehind };

// Worker, as ClosePort gives it:
//   uint32_t Now();               milliseconds, wrapping
//   WorkerWait Wait(uint32_t ms); for the thread's end or a message sent to this thread
//   void LetSentMessagesThrough();
//   void CloseErrorBox();
template <typename Worker>
WorkerEnd WaitForWorkerEnd(Worker& worker) {
    const uint32_t start = worker.Now();
    for (;;) {
        const uint32_t waited = worker.Now() - start;
        if (waited >= kCloseBoundMs) return WorkerEnd::kLeftBehind;
        const uint32_t left = kCloseBoundMs - waited;
        const WorkerWait woke = worker.Wait(left < kWorkerCheckMs ? left : kWorkerCheckMs);
        if (woke == WorkerWait::kEnded) return WorkerEnd::kEnded;
        worker.LetSentMessagesThrough();
        if (woke == WorkerWait::kTimedOut) worker.CloseErrorBox();
    }
}

}  // namespace kelma
