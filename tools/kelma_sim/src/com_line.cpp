#include "com_line.h"

#include <algorithm>

namespace kelma {

namespace {

constexpr DWORD kBaudRate = 9600;
constexpr DWORD kReadChunk = 4096;

std::string LastError(const char* what) {
    return std::string(what) + " failed, error " + std::to_string(GetLastError());
}

bool Configure(HANDLE port, std::string* error) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        *error = LastError("GetCommState");
        return false;
    }
    dcb.BaudRate = kBaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    // The controller's line has no handshake at all, as the program expects.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    // ReadFile returns at once with what is there: the wait happens in WaitCommEvent.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!SetCommState(port, &dcb) || !SetCommTimeouts(port, &timeouts) ||
        !SetCommMask(port, EV_RXCHAR)) {
        *error = LastError("setting up the port");
        return false;
    }
    return true;
}

// Waits for an overlapped operation that went pending; its byte count, 0 on failure.
DWORD Complete(HANDLE port, OVERLAPPED* overlapped, BOOL started) {
    DWORD count = 0;
    if (!started && GetLastError() != ERROR_IO_PENDING) return 0;
    if (!GetOverlappedResult(port, overlapped, &count, TRUE)) return 0;
    return count;
}

}  // namespace

std::unique_ptr<ComLine> ComLine::Open(const std::string& name, std::string* error) {
    std::unique_ptr<ComLine> line(new ComLine);
    // The device namespace form also reaches COM10 and above.
    const std::string path = "\\\\.\\" + name;
    line->port_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (line->port_ == INVALID_HANDLE_VALUE) {
        *error = LastError(("opening " + name).c_str());
        return nullptr;
    }
    line->waitOverlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    line->ioOverlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!line->waitOverlapped_.hEvent || !line->ioOverlapped_.hEvent) {
        *error = LastError("CreateEvent");
        return nullptr;
    }
    if (!Configure(line->port_, error)) return nullptr;
    PurgeComm(line->port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return line;
}

ComLine::~ComLine() {
    if (port_ != INVALID_HANDLE_VALUE) {
        // Ends a pending wait before its OVERLAPPED goes away.
        SetCommMask(port_, 0);
        if (waiting_) FinishReceive();
        CloseHandle(port_);
    }
    if (waitOverlapped_.hEvent) CloseHandle(waitOverlapped_.hEvent);
    if (ioOverlapped_.hEvent) CloseHandle(ioOverlapped_.hEvent);
}

void ComLine::Write(std::string_view bytes) {
    if (bytes.empty()) return;
    ResetEvent(ioOverlapped_.hEvent);
    const BOOL started =
        WriteFile(port_, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &ioOverlapped_);
    Complete(port_, &ioOverlapped_, started);  // a failed write is a lost line, as on a cable
}

void ComLine::Purge() {
    PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
}

bool ComLine::ArmReceive() {
    if (waiting_) return true;
    ResetEvent(waitOverlapped_.hEvent);
    eventMask_ = 0;
    if (!WaitCommEvent(port_, &eventMask_, &waitOverlapped_) && GetLastError() != ERROR_IO_PENDING)
        return false;
    // Finished at once or pending: either way the event is (or will be) signalled.
    waiting_ = true;
    return true;
}

bool ComLine::FinishReceive() {
    DWORD unused = 0;
    waiting_ = false;
    return GetOverlappedResult(port_, &waitOverlapped_, &unused, TRUE) != FALSE;
}

std::string ComLine::ReadAvailable() {
    std::string bytes;
    char buffer[kReadChunk];
    for (;;) {
        // Only what is queued: Wine lets an overlapped read wait for more despite the timeouts.
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(port_, &errors, &status) || status.cbInQue == 0) return bytes;
        const DWORD wanted = std::min<DWORD>(status.cbInQue, sizeof buffer);
        ResetEvent(ioOverlapped_.hEvent);
        const BOOL started = ReadFile(port_, buffer, wanted, nullptr, &ioOverlapped_);
        const DWORD count = Complete(port_, &ioOverlapped_, started);
        if (count == 0) return bytes;
        bytes.append(buffer, count);
    }
}

}  // namespace kelma
