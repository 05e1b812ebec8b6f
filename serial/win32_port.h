// Windows' serial calls on one port, for its I/O thread (port_thread.h).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "serial/port_thread.h"
#include "serial/rx_ring.h"

namespace serial {

// The one function that sets the controller's line: line_settings.h on the port's DCB and
// time-outs. False when the port refused either.
bool ConfigureLine(HANDLE port, uint32_t writeTimeoutMs);

class Win32Port : public PortDriver {
public:
    Win32Port();
    ~Win32Port() override;
    Win32Port(const Win32Port&) = delete;
    Win32Port& operator=(const Win32Port&) = delete;

    bool Probe(const std::string& device) override;
    bool Open(const std::string& device) override;
    bool SetLine(uint32_t writeTimeoutMs) override;
    bool SetMask(uint32_t events) override;
    bool Purge(uint32_t flags) override;
    bool ClearErrors(size_t& queued) override;
    void Close() override;
    uint32_t Error() const override { return m_error; }

    bool StartWait() override;
    uint32_t WaitEvents() const override { return m_events; }
    bool StartRead(size_t count) override;
    const char* ReadBuffer() const override { return m_readBuffer; }
    bool StartWrite(std::string_view bytes) override;
    bool Pending() const override { return m_pending; }
    PortWoke WaitFor(PortRecord record, uint32_t ms) override;
    bool Settle(PortRecord record, uint32_t ms) override;
    bool Finished(PortRecord record, size_t& count) override;
    void Cancel(PortRecord record) override;

    void Wake() override;
    bool WaitForWake(uint32_t ms) override;

    // Read by the owner once the open has been answered; both stay the same until the end.
    HANDLE Handle() const { return m_port; }
    DWORD ThreadId() const { return m_threadId; }

private:
    OVERLAPPED& Of(PortRecord record) { return m_records[static_cast<int>(record)]; }
    // After a platform call: true as given, or false with the reason noted.
    bool Note(BOOL ok);
    // Starts an operation on a record; started() is the platform call.
    template <typename Start>
    bool StartOn(PortRecord record, Start started);

    HANDLE m_port = INVALID_HANDLE_VALUE;
    OVERLAPPED m_records[3] = {};
    const HANDLE m_wake;  // auto-reset: a request or the stop for the I/O thread
    DWORD m_events = 0;
    char m_readBuffer[kRxReadMax] = {};
    std::string m_writeBytes;
    bool m_pending = false;
    DWORD m_error = 0;
    DWORD m_threadId = 0;
};

}  // namespace serial
