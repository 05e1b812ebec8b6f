// A model of a Windows serial driver behind PortDriver, with the semantics Microsoft documents
// and that Wine cannot show: every call returns only when the driver has done it (a call can be
// made to hang until the driver lets go); WaitCommEvent reports EV_RXCHAR once per arrival and
// ends with an empty mask when the mask changes; after a line error a port with fAbortOnError
// set fails every read and wait until ClearCommError; a write the device does not take ends
// short when the line's write time-out passes, or never without one; CancelIoEx only asks, and a
// driver without a cancel routine never ends the request. The port's threads are real; the test
// keeps the model's line, which outlives the driver, to see when the driver is freed.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "serial/line_settings.h"
#include "serial/port_thread.h"

namespace model {

// The fields of Windows' DCB and COMMTIMEOUTS that the line settings touch.
struct Dcb {
    uint32_t BaudRate = 1200;
    uint8_t ByteSize = 7, Parity = 2, StopBits = 2;
    uint32_t fBinary = 1, fParity = 1, fOutxCtsFlow = 1, fOutxDsrFlow = 1, fDsrSensitivity = 1;
    uint32_t fDtrControl = 2, fRtsControl = 2, fOutX = 1, fInX = 1, fNull = 1;
    uint32_t fAbortOnError = 1;  // as some drivers report it
    char EvtChar = '\n';
};
struct Timeouts {
    uint32_t ReadIntervalTimeout = 0, ReadTotalTimeoutMultiplier = 0, ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0, WriteTotalTimeoutConstant = 0;  // none: writes wait
};

constexpr uint32_t kAborted = 995;  // ERROR_OPERATION_ABORTED
constexpr uint32_t kPending = 997;  // ERROR_IO_PENDING
// Long enough that only a hang reaches it: a test that gets there has failed (someone waited for
// a driver that does not answer, or without a bound for the driver's end).
constexpr std::chrono::seconds kWatchdog{10};

// The device and the driver's state; shared by the test and the driver.
struct Line {
    std::mutex lock;
    std::condition_variable changed;

    // How the driver behaves.
    std::string hangIn;      // the call ("CreateFile", "SetCommState", ...) that does not return
    std::string failIn;      // the call that fails at once
    bool cancelEnds = true;  // false: no cancel routine
    bool honoursTimeouts = true;
    bool eventsFail = false;
    bool deviceTakes = true;

    // What it holds.
    bool letGo = false;  // the hung call returns and every held request ends
    bool open = false;
    int starts[3] = {};
    bool pending[3] = {};
    bool ended[3] = {};
    bool ok[3] = {};
    size_t count[3] = {};
    std::chrono::steady_clock::time_point writeDeadline;
    bool writeDeadlineSet = false;
    Dcb dcb;
    Timeouts timeouts;
    uint32_t mask = 0;
    uint32_t events = 0;
    bool arrival = false;
    bool lineError = false;
    std::string queue;    // received, not read
    std::string written;  // taken by the device
    std::string calls;    // each call's name, one per line
    bool freed = false;

    void Arrive(std::string_view bytes) {
        std::lock_guard<std::mutex> hold(lock);
        queue.append(bytes.data(), bytes.size());
        arrival = true;
        EndWaitIfWatching();
        changed.notify_all();
    }
    // A framing or overrun error on the line.
    void LineError() {
        std::lock_guard<std::mutex> hold(lock);
        lineError = true;
        if (dcb.fAbortOnError) End(static_cast<int>(serial::PortRecord::kWait), false, 0);
        changed.notify_all();
    }
    void LetGo() {
        std::lock_guard<std::mutex> hold(lock);
        letGo = true;
        for (int r = 0; r < 3; ++r) End(r, false, 0);
        changed.notify_all();
    }
    // Runs look(line) under the lock, for what the port's threads may be changing.
    template <typename Look>
    auto Under(Look look) {
        std::lock_guard<std::mutex> hold(lock);
        return look(*this);
    }
    bool Holds(serial::PortRecord record) {
        std::lock_guard<std::mutex> hold(lock);
        return pending[static_cast<int>(record)];
    }
    // Waits (within the watchdog) until the driver has been freed.
    bool WaitFreed() {
        std::unique_lock<std::mutex> hold(lock);
        return changed.wait_for(hold, kWatchdog, [&] { return freed; });
    }

    // Under the lock:
    void End(int r, bool success, size_t bytes) {
        if (!pending[r]) return;
        pending[r] = false;
        ended[r] = true;
        ok[r] = success;
        count[r] = bytes;
    }
    void EndWaitIfWatching() {
        const int w = static_cast<int>(serial::PortRecord::kWait);
        if (!pending[w] || !(mask & serial::kEventRxChar) || !arrival) return;
        arrival = false;
        events = serial::kEventRxChar;
        End(w, true, 0);
    }
    bool Aborting() const { return lineError && dcb.fAbortOnError; }
};

class Driver : public serial::PortDriver {
public:
    explicit Driver(std::shared_ptr<Line> line) : m_line(std::move(line)) {}
    ~Driver() override {
        std::lock_guard<std::mutex> hold(m_line->lock);
        m_line->freed = true;
        m_line->changed.notify_all();
    }

    bool Probe(const std::string&) override { return Call("CreateFile"); }
    bool Open(const std::string&) override {
        if (!Call("CreateFile")) return false;
        std::lock_guard<std::mutex> hold(m_line->lock);
        if (m_line->eventsFail) return Fail(serial::kNoRecordEvent);
        m_line->open = true;
        return true;
    }
    bool SetLine(uint32_t writeTimeoutMs) override {
        if (!Call("GetCommState")) return false;
        Dcb dcb;
        Timeouts timeouts;
        {
            std::lock_guard<std::mutex> hold(m_line->lock);
            dcb = m_line->dcb;
        }
        serial::SetLineFields(dcb);
        serial::SetLineTimeouts(timeouts, writeTimeoutMs);
        if (!Call("SetCommState")) return false;
        std::lock_guard<std::mutex> hold(m_line->lock);
        m_line->dcb = dcb;
        m_line->timeouts = timeouts;
        return true;
    }
    bool SetMask(uint32_t events) override {
        if (!Call("SetCommMask")) return false;
        std::lock_guard<std::mutex> hold(m_line->lock);
        m_line->mask = events;
        m_line->events = 0;
        m_line->End(static_cast<int>(serial::PortRecord::kWait), true, 0);
        m_line->changed.notify_all();
        return true;
    }
    bool Purge(uint32_t flags) override {
        if (!Call("PurgeComm")) return false;
        std::lock_guard<std::mutex> hold(m_line->lock);
        if (flags & serial::kPurgeRxClear) m_line->queue.clear();
        if ((flags & serial::kPurgeTxAbort) && m_line->cancelEnds)
            m_line->End(static_cast<int>(serial::PortRecord::kWrite), false, 0);
        m_line->changed.notify_all();
        return true;
    }
    bool ClearErrors(size_t& queued) override {
        if (!Call("ClearCommError")) return false;
        std::lock_guard<std::mutex> hold(m_line->lock);
        m_line->lineError = false;
        queued = m_line->queue.size();
        return true;
    }
    void Close() override {
        {
            std::lock_guard<std::mutex> hold(m_line->lock);
            if (!m_line->open) return;
        }
        Call("CloseHandle");
        std::lock_guard<std::mutex> hold(m_line->lock);
        m_line->open = false;
        if (m_line->cancelEnds)
            for (int r = 0; r < 3; ++r) m_line->End(r, false, 0);
        m_line->changed.notify_all();
    }
    uint32_t Error() const override { return m_error; }

    bool StartWait() override {
        return Start(serial::PortRecord::kWait, [&](Line& l) {
            l.events = 0;
            if (l.arrival && (l.mask & serial::kEventRxChar)) {
                l.arrival = false;
                l.events = serial::kEventRxChar;
                return true;
            }
            return false;
        });
    }
    uint32_t WaitEvents() const override {
        std::lock_guard<std::mutex> hold(m_line->lock);
        return m_line->events;
    }
    bool StartRead(size_t count) override {
        return Start(serial::PortRecord::kRead, [&](Line& l) {
            m_read = l.queue.substr(0, count);
            l.queue.erase(0, m_read.size());
            return true;  // reads return at once with what has arrived
        });
    }
    const char* ReadBuffer() const override { return m_read.data(); }
    bool StartWrite(std::string_view bytes) override {
        m_writeSize = bytes.size();
        return Start(serial::PortRecord::kWrite, [&](Line& l) {
            if (l.deviceTakes) {
                l.written.append(bytes.data(), bytes.size());
                return true;
            }
            l.writeDeadlineSet = l.honoursTimeouts && l.timeouts.WriteTotalTimeoutConstant != 0;
            l.writeDeadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(l.timeouts.WriteTotalTimeoutConstant);
            return false;
        });
    }
    bool Pending() const override { return m_error == kPending; }
    serial::PortWoke WaitFor(serial::PortRecord record, uint32_t ms) override {
        return Await(record, ms, true);
    }
    bool Settle(serial::PortRecord record, uint32_t ms) override {
        return Await(record, ms, false) == serial::PortWoke::kRecord;
    }
    bool Finished(serial::PortRecord record, size_t& count) override {
        std::lock_guard<std::mutex> hold(m_line->lock);
        const int r = static_cast<int>(record);
        count = m_line->count[r];
        return m_line->ended[r] && m_line->ok[r];
    }
    void Cancel(serial::PortRecord record) override {
        std::lock_guard<std::mutex> hold(m_line->lock);
        if (m_line->cancelEnds) m_line->End(static_cast<int>(record), false, 0);
        m_line->changed.notify_all();
    }
    void Wake() override {
        std::lock_guard<std::mutex> hold(m_line->lock);
        m_woken = true;
        m_line->changed.notify_all();
    }
    bool WaitForWake(uint32_t ms) override {
        std::unique_lock<std::mutex> hold(m_line->lock);
        const bool woken = m_line->changed.wait_for(hold, Duration(ms), [&] { return m_woken; });
        if (!woken && ms == serial::kNoBound)
            ADD_FAILURE() << "a wake waited for until the watchdog";
        m_woken = false;
        return woken;
    }

private:
    static std::chrono::milliseconds Duration(uint32_t ms) {
        return ms == serial::kNoBound
                   ? std::chrono::duration_cast<std::chrono::milliseconds>(kWatchdog)
                   : std::chrono::milliseconds(ms);
    }
    // A call that the driver does not answer returns only when it lets go.
    bool Call(const char* name) {
        std::unique_lock<std::mutex> hold(m_line->lock);
        m_line->calls += std::string(name) + "\n";
        if (m_line->failIn == name) return Fail(kAborted);
        if (m_line->hangIn != name) return true;
        if (!m_line->changed.wait_for(hold, kWatchdog, [&] { return m_line->letGo; }))
            ADD_FAILURE() << name << " was held until the watchdog";
        return Fail(kAborted);
    }
    bool Fail(uint32_t error) {
        m_error = error;
        return false;
    }
    template <typename Starts>
    bool Start(serial::PortRecord record, Starts startsAtOnce) {
        std::lock_guard<std::mutex> hold(m_line->lock);
        const int r = static_cast<int>(record);
        ++m_line->starts[r];
        m_line->ended[r] = false;
        if (m_line->Aborting()) {
            m_error = kAborted;
            return false;
        }
        if (startsAtOnce(*m_line)) {
            m_line->ended[r] = m_line->ok[r] = true;
            m_line->count[r] = record == serial::PortRecord::kRead ? m_read.size() : m_writeSize;
            return true;
        }
        m_line->pending[r] = true;
        m_error = kPending;
        return false;
    }
    serial::PortWoke Await(serial::PortRecord record, uint32_t ms, bool wakes) {
        std::unique_lock<std::mutex> hold(m_line->lock);
        const int r = static_cast<int>(record);
        const auto deadline = std::chrono::steady_clock::now() + Duration(ms);
        for (;;) {
            if (record == serial::PortRecord::kWrite && m_line->pending[r] &&
                m_line->writeDeadlineSet &&
                std::chrono::steady_clock::now() >= m_line->writeDeadline)
                m_line->End(r, true, 0);  // the line's write time-out: done, nothing taken
            if (!m_line->pending[r]) return serial::PortWoke::kRecord;
            if (wakes && m_woken) {
                m_woken = false;
                return serial::PortWoke::kWake;
            }
            auto until = deadline;
            if (record == serial::PortRecord::kWrite && m_line->writeDeadlineSet &&
                m_line->writeDeadline < until)
                until = m_line->writeDeadline;
            if (m_line->changed.wait_until(hold, until) == std::cv_status::timeout &&
                std::chrono::steady_clock::now() >= deadline) {
                if (ms == serial::kNoBound)
                    ADD_FAILURE() << "an operation waited for until the watchdog";
                return serial::PortWoke::kTimedOut;
            }
        }
    }

    std::shared_ptr<Line> m_line;
    uint32_t m_error = 0;
    bool m_woken = false;
    std::string m_read;
    size_t m_writeSize = 0;
};

// Keeps what the port thread stores.
class Sink : public serial::PortSink {
public:
    bool Store(const char* bytes, size_t count) override {
        std::lock_guard<std::mutex> hold(m_lock);
        m_bytes.append(bytes, count);
        m_changed.notify_all();
        return true;
    }
    bool WaitFor(const std::string& bytes) {
        std::unique_lock<std::mutex> hold(m_lock);
        return m_changed.wait_for(hold, kWatchdog, [&] { return m_bytes == bytes; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::string m_bytes;
};

// The caller's bounds are reached only where the driver never answers, and there it is the test
// that lets the driver go on, so how soon they pass changes only how long a case takes: short
// ones, for the requests a case expects to hang, and long ones that a busy machine cannot reach
// on the way to an answer, for the rest. The line's own write time-out ends a stalled write well
// before the port thread's bound.
constexpr uint32_t kShortMs = 200;
constexpr uint32_t kLongMs = 5000;

inline serial::PortSettings Settings() {
    return {"COM1", 10, {kLongMs, 50, 50}, 0, {kLongMs, kLongMs, kLongMs}};
}

inline serial::OpenResult Open(serial::PortThread& port, const std::shared_ptr<Line>& line,
                               Sink& sink, const serial::PortSettings& settings = Settings()) {
    return port.Open(std::make_unique<Driver>(line), sink, nullptr, settings);
}

}  // namespace model
