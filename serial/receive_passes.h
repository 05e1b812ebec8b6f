// The receive passes of a port's I/O thread, without the Windows API: when a pass waits for an
// arrival, how much it reads, and when the thread pauses. port_thread.cpp supplies the port
// operations; tests supply a model port.
//
// Windows raises EV_RXCHAR once per arrival of characters, not again for characters already
// queued. A pass reads at most kRxReadMax bytes, so when the driver held more, the next pass
// reads again at once: a wait would leave the rest of a report queued until the next arrival.
#pragma once

#include <cstddef>

#include "serial/rx_ring.h"

namespace serial {

enum class PortIo { kDone, kFailed, kStopped };
enum class PortWait { kCharacters, kOtherEvent, kFailed, kStopped };
enum class PassResult { kStored, kIdle, kFailed, kStopped };

// Pause after a pass that failed, or after several wake-ups in a row that found nothing to
// read (or read nothing of what the driver reported queued), so that a vanished device (every
// call fails at once) or a confused driver does not keep a core busy.
constexpr int kIdleWakeupsBeforePause = 3;

// Port, as the I/O thread gives it:
//   PortWait WaitForCharacters();              an arrival, another event, failure or stop
//   bool QueuedBytes(size_t& queued);          clears the error state; false when that failed
//   PortIo Read(size_t wanted, size_t& count); one read into the driver's buffer
//   void Deliver(size_t count);                to the program that reads the port
//   bool StopRequested();  void Pause();
template <typename Port>
class ReceivePasses {
public:
    explicit ReceivePasses(Port& port) : m_port(port) {}

    // Passes until a stop is requested.
    void Run() {
        int idleWakeups = 0;
        while (!m_port.StopRequested()) {
            const PassResult pass = OnePass();
            idleWakeups = pass == PassResult::kIdle ? idleWakeups + 1 : 0;
            if (pass == PassResult::kFailed || idleWakeups >= kIdleWakeupsBeforePause)
                m_port.Pause();
        }
    }

    PassResult OnePass() {
        if (m_waitFirst) {
            const PortWait waited = m_port.WaitForCharacters();
            if (waited == PortWait::kStopped) return PassResult::kStopped;
            if (waited == PortWait::kFailed) {
                // A port that aborts on errors refuses every wait and read until its error
                // state is cleared.
                size_t ignored = 0;
                m_port.QueuedBytes(ignored);
                return PassResult::kFailed;
            }
            if (waited == PortWait::kOtherEvent) return PassResult::kIdle;
        }
        // Until a read shows otherwise, the next pass waits for an arrival.
        m_waitFirst = true;

        size_t queued = 0;
        if (!m_port.QueuedBytes(queued)) return PassResult::kFailed;
        const size_t wanted = queued < kRxReadMax ? queued : kRxReadMax;
        if (wanted == 0) return PassResult::kIdle;

        size_t count = 0;
        const PortIo read = m_port.Read(wanted, count);
        if (read == PortIo::kStopped) return PassResult::kStopped;
        if (read == PortIo::kDone && count == 0) {
            // Bytes reported but none read: nothing for the window; read again, pausing if it
            // keeps happening.
            m_waitFirst = false;
            return PassResult::kIdle;
        }
        size_t left = queued > count ? queued - count : 0;
        if (read == PortIo::kFailed && !m_port.QueuedBytes(left)) left = 0;
        m_port.Deliver(count);
        m_waitFirst = left == 0;
        return read == PortIo::kFailed ? PassResult::kFailed : PassResult::kStored;
    }

private:
    Port& m_port;
    // The first pass reads what came in before the thread started, which raises no event.
    bool m_waitFirst = false;
};

}  // namespace serial
