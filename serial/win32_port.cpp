#include "serial/win32_port.h"

#include "serial/line_settings.h"

namespace serial {
namespace {

DWORD WaitMs(uint32_t ms) {
    return ms == kNoBound ? INFINITE : ms;
}

}  // namespace

bool ConfigureLine(HANDLE port, uint32_t writeTimeoutMs) {
    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(port, &dcb)) return false;
    SetLineFields(dcb);
    COMMTIMEOUTS timeouts = {};
    SetLineTimeouts(timeouts, writeTimeoutMs);
    return SetCommState(port, &dcb) && SetCommTimeouts(port, &timeouts);
}

Win32Port::Win32Port() : m_wake(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

Win32Port::~Win32Port() {
    Close();
    for (OVERLAPPED& record : m_records)
        if (record.hEvent != nullptr) CloseHandle(record.hEvent);
    if (m_wake != nullptr) CloseHandle(m_wake);
}

bool Win32Port::Note(BOOL ok) {
    if (!ok) m_error = GetLastError();
    return ok != FALSE;
}

bool Win32Port::Probe(const std::string& device) {
    const HANDLE probe = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    if (!Note(probe != INVALID_HANDLE_VALUE)) return false;
    CloseHandle(probe);
    return true;
}

bool Win32Port::Open(const std::string& device) {
    m_threadId = GetCurrentThreadId();
    // An operation without its own event could not be waited for, nor told from the others.
    for (OVERLAPPED& record : m_records)
        record.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (const OVERLAPPED& record : m_records) {
        if (record.hEvent != nullptr && m_wake != nullptr) continue;
        m_error = kNoRecordEvent;
        return false;
    }
    m_port = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
    return Note(m_port != INVALID_HANDLE_VALUE);
}

bool Win32Port::SetLine(uint32_t writeTimeoutMs) {
    return Note(ConfigureLine(m_port, writeTimeoutMs));
}

bool Win32Port::SetMask(uint32_t events) {
    return Note(SetCommMask(m_port, events));
}

bool Win32Port::Purge(uint32_t flags) {
    return Note(PurgeComm(m_port, flags));
}

bool Win32Port::ClearErrors(size_t& queued) {
    DWORD errors = 0;
    COMSTAT status = {};
    const bool ok = Note(ClearCommError(m_port, &errors, &status));
    queued = ok ? status.cbInQue : 0;
    return ok;
}

void Win32Port::Close() {
    if (m_port == INVALID_HANDLE_VALUE) return;
    CloseHandle(m_port);  // nothing to do should it fail: the handle is given up either way
    m_port = INVALID_HANDLE_VALUE;
}

template <typename Start>
bool Win32Port::StartOn(PortRecord record, Start started) {
    OVERLAPPED& ov = Of(record);
    const HANDLE event = ov.hEvent;
    ov = OVERLAPPED{};
    ov.hEvent = event;
    ResetEvent(event);
    const bool done = Note(started(ov));
    m_pending = !done && m_error == ERROR_IO_PENDING;
    return done;
}

bool Win32Port::StartWait() {
    m_events = 0;
    return StartOn(PortRecord::kWait,
                   [&](OVERLAPPED& ov) { return WaitCommEvent(m_port, &m_events, &ov); });
}

bool Win32Port::StartRead(size_t count) {
    const DWORD wanted =
        static_cast<DWORD>(count < sizeof(m_readBuffer) ? count : sizeof(m_readBuffer));
    return StartOn(PortRecord::kRead, [&](OVERLAPPED& ov) {
        return ReadFile(m_port, m_readBuffer, wanted, nullptr, &ov);
    });
}

bool Win32Port::StartWrite(std::string_view bytes) {
    m_writeBytes.assign(bytes.data(), bytes.size());
    return StartOn(PortRecord::kWrite, [&](OVERLAPPED& ov) {
        return WriteFile(m_port, m_writeBytes.data(), static_cast<DWORD>(m_writeBytes.size()),
                         nullptr, &ov);
    });
}

PortWoke Win32Port::WaitFor(PortRecord record, uint32_t ms) {
    const HANDLE waits[] = {Of(record).hEvent, m_wake};
    switch (WaitForMultipleObjects(2, waits, FALSE, WaitMs(ms))) {
        case WAIT_OBJECT_0:
            return PortWoke::kRecord;
        case WAIT_OBJECT_0 + 1:
            return PortWoke::kWake;
        case WAIT_TIMEOUT:
            return PortWoke::kTimedOut;
        default:
            return PortWoke::kFailed;
    }
}

bool Win32Port::Settle(PortRecord record, uint32_t ms) {
    return WaitForSingleObject(Of(record).hEvent, WaitMs(ms)) == WAIT_OBJECT_0;
}

bool Win32Port::Finished(PortRecord record, size_t& count) {
    DWORD done = 0;
    const bool ok = Note(GetOverlappedResult(m_port, &Of(record), &done, FALSE));
    count = done;
    return ok;
}

// Unlike CancelIo, which waits on Windows NT until the driver has ended the requests, this asks
// and returns: a driver without a cancel routine never ends them.
void Win32Port::Cancel(PortRecord record) {
    CancelIoEx(m_port, &Of(record));  // an operation that has already ended has nothing to cancel
}

void Win32Port::Wake() {
    SetEvent(m_wake);
}

bool Win32Port::WaitForWake(uint32_t ms) {
    const DWORD woke = WaitForSingleObject(m_wake, WaitMs(ms));
    // A wait that cannot be made is a pause all the same, so that no caller spins.
    if (woke == WAIT_FAILED) Sleep(ms == kNoBound ? kWorkerCheckMs : ms);
    return woke == WAIT_OBJECT_0;
}

}  // namespace serial
