// How a port's I/O thread writes, without the Windows API: one overlapped write waited for within
// a bound, so a port that stops taking bytes never holds its program. A write that has not been
// taken in time is cancelled, and the cancel is given a bound too: drivers need not support
// cancelling. A write whose cancel does not end is given up for good: its record stays with the
// driver until the driver lets go, and the port counts as failed. port_thread.cpp supplies the
// platform calls; tests supply a model of a driver.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/overlapped_op.h"

namespace serial {

struct WriteBounds {
    uint32_t takenMs;    // a write not taken by then is cancelled
    uint32_t stalledMs;  // the same once a write has stalled, until the port takes one again
    uint32_t graceMs;    // for a cancelled write to end
};

enum class WriteOutcome {
    kRefused,  // not started: nothing to log
    kTaken,    // the port has the whole command
    kFailed,   // started, ended with an error (cleared)
    kStalled,  // not taken within its bound, or only in part (errors cleared)
    kGivenUp,  // not taken, and the cancel did not end it: the port has failed
};

// Port, as the I/O thread gives it: the Io of overlapped_op.h for the write of one command, and
//   size_t Size();        the command's length
//   void ClearErrors();
class CommandWriter {
public:
    explicit CommandWriter(const WriteBounds& bounds) : m_bounds(bounds) {}

    template <typename Port>
    WriteOutcome Write(Port& port) {
        if (m_failed || m_record.InFlight()) return WriteOutcome::kRefused;
        size_t written = 0;
        const uint32_t bound = m_stalled ? m_bounds.stalledMs : m_bounds.takenMs;
        const OpEnd end = m_record.Run(port, bound, m_bounds.graceMs, written);
        if (m_record.InFlight()) {
            m_failed = m_stalled = true;
            return WriteOutcome::kGivenUp;
        }
        if (end == OpEnd::kRefused) {
            port.ClearErrors();
            return WriteOutcome::kRefused;
        }
        // A write the line's own time-out ended short was not taken either.
        const bool whole = end == OpEnd::kDone && written == port.Size();
        m_stalled = end == OpEnd::kTimedOut || (end == OpEnd::kDone && !whole);
        if (whole) return WriteOutcome::kTaken;
        port.ClearErrors();
        return m_stalled ? WriteOutcome::kStalled : WriteOutcome::kFailed;
    }

    // The last write stalled: closing the port drops its unsent output.
    bool Stalled() const { return m_stalled; }
    // A write was given up and the driver still holds its record.
    bool InFlight() const { return m_record.InFlight(); }
    // The driver was seen to let go of the given-up write.
    void Ended() { m_record.Ended(); }

private:
    const WriteBounds m_bounds;
    OverlappedRecord m_record;
    bool m_stalled = false;
    bool m_failed = false;  // a write was given up: the port takes no more
};

}  // namespace serial
