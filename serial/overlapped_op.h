// One overlapped operation on one record (an OVERLAPPED and its buffer), without the Windows
// API: start it, wait for it within a bound, and cancel it when the bound passes or a stop comes.
// The record belongs to the driver from the start until the operation has ended; a cancel that
// has not ended it within its grace leaves the record in flight. The port thread's writer and its
// I/O thread's receive passes supply the platform calls; tests supply a model of a driver.
#pragma once

#include <cstddef>
#include <cstdint>

namespace serial {

// A wait without a bound (INFINITE).
constexpr uint32_t kNoBound = 0xFFFFFFFF;

enum class OpWait { kFinished, kTimedOut, kStopped, kFailed };
enum class OpEnd { kDone, kRefused, kFailed, kTimedOut, kStopped };

// Io, as the writer or the receive passes give it:
//   bool Start();                 true when the operation completed at once
//   bool StartedPending();        after a false Start: it runs on (ERROR_IO_PENDING)
//   OpWait Wait(uint32_t ms);     for the operation to end, at most ms (a stop ends a receive)
//   bool Settle(uint32_t ms);     for the operation alone to end, at most ms
//   void Cancel();
//   bool Finished(size_t& count); an ended operation's outcome and byte count
class OverlappedRecord {
public:
    // Runs one operation. On any end but kDone and kRefused it has been cancelled; InFlight()
    // then tells whether the cancel has ended it. While the record is in flight, a run first
    // waits for that operation (within the bound) and starts nothing until it has ended.
    template <typename Io>
    OpEnd Run(Io& io, uint32_t boundMs, uint32_t graceMs, size_t& count) {
        count = 0;
        if (m_inFlight) {
            // An earlier cancel has not ended its operation yet: nothing may start on the
            // record until it has; what it brought is of no use now.
            const OpWait earlier = io.Wait(boundMs);
            if (earlier != OpWait::kFinished) return EndOf(earlier);
        }
        m_inFlight = true;
        if (io.Start()) {
            m_inFlight = false;
            io.Finished(count);
            return OpEnd::kDone;
        }
        if (!io.StartedPending()) {
            m_inFlight = false;
            return OpEnd::kRefused;
        }
        const OpWait waited = io.Wait(boundMs);
        if (waited == OpWait::kFinished) {
            m_inFlight = false;
            return io.Finished(count) ? OpEnd::kDone : OpEnd::kFailed;
        }
        io.Cancel();
        if (!io.Settle(graceMs)) return EndOf(waited);
        m_inFlight = false;
        if (waited == OpWait::kTimedOut && io.Finished(count)) return OpEnd::kDone;
        return EndOf(waited);
    }

    // The driver still holds the record: no operation may start on it.
    bool InFlight() const { return m_inFlight; }
    // The operation was seen to end after all.
    void Ended() { m_inFlight = false; }

private:
    static OpEnd EndOf(OpWait waited) {
        if (waited == OpWait::kTimedOut) return OpEnd::kTimedOut;
        if (waited == OpWait::kStopped) return OpEnd::kStopped;
        return OpEnd::kFailed;
    }

    bool m_inFlight = false;
};

}  // namespace serial
