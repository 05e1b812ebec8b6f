// One open serial port and its I/O thread, the one serial layer of the window, kelmarotd and
// kelma_sim. Plain C++: PortDriver stands for Windows' serial calls (win32_port.cpp makes them;
// the native tests give a model of a driver).
//
// Threads:
// - the caller (the window's UI thread, kelmarotd's or kelma_sim's main thread): opens, writes,
//   purges and closes through PortThread, one call at a time. It never calls the driver: it
//   hands the I/O thread its request and waits for the answer within a bound.
// - the I/O thread: makes every call that reaches the driver (open, line settings, event mask,
//   event waits, reads, writes, purges, error clearing, cancels, close). Between requests it
//   receives: it waits for characters, reads at most kRxReadMax bytes per pass and gives them to
//   the PortSink (receive_passes.h); every wait of its own also ends when a request comes.
// - the notifier, when the caller gives one: runs the caller's notification after each block
//   the sink stored (the window's synchronous ID_SERIAL_DATA), on a thread of its own, so that
//   the I/O thread serves requests while the notification waits for the caller's thread. The
//   I/O thread reads nothing more until the notification has returned.
//
// Shared: the Session (requests, answers, the stop flag, the driver and the records it holds) is
// held by the caller and both threads, and freed by the last to let go. Its lock guards the
// request, the answers and the notifier's words; the stop flag and the ends are atomic. The sink
// is reached only through the session's tie (worker_tie.h).
//
// A driver that never answers a call holds the I/O thread, never the caller: a request not
// answered within its bound fails the port. The failure is reported once (the write's outcome,
// or the open's), later writes are refused at once, and the program goes on. Closing sets the
// stop flag and waits for both threads within a bound; past it they are left to end on their
// own, the sink let go. Once the port is closed the caller goes on; the I/O thread ends only once
// the driver has let go of every record it was given (a cancelled operation may still write
// into it), and the last holder then frees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "serial/command_write.h"
#include "serial/worker_close.h"

namespace serial {

// Port events and purge flags, as winbase.h defines them.
constexpr uint32_t kEventRxChar = 0x0001;  // EV_RXCHAR
// A port event the controller never raises (EV_RING): changing the mask to it ends an event wait.
constexpr uint32_t kEventStop = 0x0100;
constexpr uint32_t kPurgeTxAbort = 0x0001;
constexpr uint32_t kPurgeRxAbort = 0x0002;
constexpr uint32_t kPurgeTxClear = 0x0004;
constexpr uint32_t kPurgeRxClear = 0x0008;

// The I/O thread's overlapped operations, one record each.
enum class PortRecord { kWait, kRead, kWrite };
enum class PortWoke { kRecord, kWake, kTimedOut, kFailed };

// Windows' serial calls on one port. Only the port's I/O thread calls them, except Wake().
class PortDriver {
public:
    virtual ~PortDriver() = default;

    // Calls that return when the driver has done them; false on failure, Error() says why.
    // Open also makes each record's event; a port whose records get none is not opened
    // (kNoRecordEvent). Probe opens the device and closes it again at once, setting nothing.
    virtual bool Probe(const std::string& device) = 0;
    virtual bool Open(const std::string& device) = 0;
    virtual bool SetLine(uint32_t writeTimeoutMs) = 0;  // line_settings.h
    virtual bool SetMask(uint32_t events) = 0;
    virtual bool Purge(uint32_t flags) = 0;
    virtual bool ClearErrors(size_t& queued) = 0;  // the bytes received and not yet read
    virtual void Close() = 0;                      // nothing when not open
    virtual uint32_t Error() const = 0;

    // Overlapped operations: true when done at once; otherwise Pending() tells whether it runs
    // on. The driver keeps the event mask, the read buffer and a copy of the bytes written.
    virtual bool StartWait() = 0;
    virtual uint32_t WaitEvents() const = 0;
    virtual bool StartRead(size_t count) = 0;
    virtual const char* ReadBuffer() const = 0;
    virtual bool StartWrite(std::string_view bytes) = 0;
    virtual bool Pending() const = 0;
    // The record's end or a Wake(), at most ms (kNoBound: no limit).
    virtual PortWoke WaitFor(PortRecord record, uint32_t ms) = 0;
    // The record's end alone; true when it ended.
    virtual bool Settle(PortRecord record, uint32_t ms) = 0;
    virtual bool Finished(PortRecord record, size_t& count) = 0;
    virtual void Cancel(PortRecord record) = 0;  // that record's operation alone (CancelIoEx)

    // Any thread: ends the I/O thread's WaitFor or WaitForWake in progress, or its next one.
    virtual void Wake() = 0;
    virtual bool WaitForWake(uint32_t ms) = 0;  // true when woken
};

// What the program does with received bytes, on the I/O thread. Store returns true when the
// notification (if any) should run; it may take a lock, never wait for the caller's thread.
class PortSink {
public:
    virtual ~PortSink() = default;
    virtual bool Store(const char* bytes, size_t count) = 0;
    // A receive pass failed (the port may be gone); receiving goes on after a pause.
    virtual void ReceiveFailed() {}
};

// How long a caller waits for its port's I/O thread; the same for every program.
struct CallerBounds {
    uint32_t openMs = 5000;   // opening a Bluetooth serial port connects it, which takes seconds
    uint32_t callMs = 1000;   // other calls take microseconds; one not done by then may never be
    uint32_t closeMs = 3000;  // the I/O thread's own cancels get 2 s of it
};

struct PortSettings {
    std::string device;       // "COM1", "\\.\COM12"
    uint32_t writeTimeoutMs;  // the line's own write time-out
    WriteBounds writes;
    uint32_t purgeOnOpen;  // purge flags at the open, 0 for none
    CallerBounds bounds;
};

struct OpenResult {
    bool ok;
    uint32_t error;  // the driver's, when it refused; kOpenTimedOut when it did not answer
};
constexpr uint32_t kOpenTimedOut = 1460;  // ERROR_TIMEOUT
// The driver's error when the records' events could not be made (an application's own code).
constexpr uint32_t kNoRecordEvent = 0x20000001;

// How the caller's thread waits for the port's threads to end; WaitForWorkerEnd's worker
// without Now() and Ended(), which the port supplies.
class CloseWait {
public:
    virtual ~CloseWait() = default;
    virtual WorkerWait Wait(uint32_t ms) = 0;
    virtual void Pause(uint32_t ms) = 0;
    virtual void LetSentMessagesThrough() = 0;
};

// Which devices can be opened now: each probed on a thread of its own, all within one bound. A
// device whose driver has not answered by then counts as absent; its thread ends when it does.
std::vector<bool> ProbePorts(const std::vector<std::string>& devices,
                             const std::function<std::unique_ptr<PortDriver>()>& makeDriver,
                             uint32_t boundMs);

class PortThread {
public:
    PortThread();
    ~PortThread();  // closes without letting messages through
    PortThread(const PortThread&) = delete;
    PortThread& operator=(const PortThread&) = delete;

    // Opens the port on a new I/O thread. notify, when given, runs on the notifier after each
    // block stored. The sink must stay until Close.
    OpenResult Open(std::unique_ptr<PortDriver> driver, PortSink& sink,
                    std::function<void()> notify, const PortSettings& settings);
    bool IsOpen() const { return m_session != nullptr; }
    // Hands a write to the I/O thread and waits for its outcome. kGivenUp once when the port
    // fails (the driver kept the write, or the I/O thread did not answer in time); kRefused
    // from then on.
    WriteOutcome Write(std::string_view bytes);
    bool Purge(uint32_t flags);
    // Ends both threads; true when they ended within the bound, false when they were left
    // behind. Without a CloseWait the caller's thread simply blocks.
    bool Close(CloseWait* wait = nullptr);

    // What the caller and the port's threads share (port_thread.cpp).
    struct Session;

private:
    void LeaveBehind();

    std::shared_ptr<Session> m_session;
    bool m_failed = false;  // a request was not answered in time, or a write was given up
    std::thread m_io;
    std::thread m_notifier;
};

}  // namespace serial
