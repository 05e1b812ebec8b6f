// How a command is written to the port, without the Windows API: one overlapped write that the
// window waits for within a bound, so a port that stops taking bytes never holds the window.
// A write that has not been taken in time is cancelled, and the cancel is given a bound too:
// drivers need not support cancelling. A write whose cancel does not end is given up for good
// (its record goes to whoever frees it once the driver lets go), and the port counts as failed.
// SendCommand supplies the platform calls; tests supply a model of a driver.
#pragma once

#include <cstdint>

#include "serial/overlapped_op.h"

namespace kelma {

// The longest command (8 bytes) is on the wire in 8.3 ms. A port that has not taken a command
// well after that has stalled (a hung adapter, a stopped link); the bound keeps the window
// answering: two stalled writes and the settle pause of one tracking step stay under a second.
constexpr uint32_t kWriteTimeoutMs = 300;
// Once a write has stalled, later writes get this much until the port takes one again, so that
// a tracking step, a poll and an operator's click in a row cannot add up to a second.
constexpr uint32_t kStalledWriteTimeoutMs = 50;
// A cancelled write normally ends at once; a driver that has not ended it by then never may.
constexpr uint32_t kWriteCancelGraceMs = 500;

enum class WriteOutcome {
    kRefused,  // not started: nothing to log
    kTaken,    // the port has the command
    kFailed,   // started, ended with an error (cleared)
    kStalled,  // not taken within its bound and cancelled (errors cleared)
    kGivenUp,  // not taken, and the cancel did not end it: the port has failed
};

// Port, as SendCommand gives it: the Io of overlapped_op.h for the write of one command, and
//   void ClearErrors();
//   void GiveUp();       hands the write's record over; the next write needs a new one
class CommandWriter {
public:
    template <typename Port>
    WriteOutcome Write(Port& port) {
        if (m_failed) return WriteOutcome::kRefused;
        OverlappedRecord record;
        size_t written = 0;
        const uint32_t bound = m_stalled ? kStalledWriteTimeoutMs : kWriteTimeoutMs;
        const OpEnd end = record.Run(port, bound, kWriteCancelGraceMs, written);
        if (record.InFlight()) {
            port.GiveUp();
            m_failed = m_stalled = true;
            return WriteOutcome::kGivenUp;
        }
        if (end == OpEnd::kRefused) {
            port.ClearErrors();
            return WriteOutcome::kRefused;
        }
        m_stalled = end == OpEnd::kTimedOut;
        if (end == OpEnd::kDone) return WriteOutcome::kTaken;
        port.ClearErrors();
        return m_stalled ? WriteOutcome::kStalled : WriteOutcome::kFailed;
    }

    // A port has been opened: its writes start with the full bound.
    void PortOpened() { m_failed = m_stalled = false; }
    // The last write stalled: closing the port drops its unsent output.
    bool Stalled() const { return m_stalled; }

private:
    bool m_stalled = false;
    bool m_failed = false;  // a write was given up: the port takes no more until another opens
};

}  // namespace kelma
