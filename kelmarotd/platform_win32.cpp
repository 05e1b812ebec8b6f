// Windows: Winsock sockets waited on with select(). A serial handle cannot join select(), so
// while the port is open a reader thread waits for its bytes (overlapped WaitCommEvent and
// ReadFile) and passes them through a loopback socket pair, whose read end the main loop
// watches like any socket. Threads:
//   - main thread: everything else; it writes to the port (overlapped, waited for) and reads
//     the pair's read end.
//   - reader thread (one per opening): owns the pair's write end. It ends when the port fails
//     or the stop event is set, and then shuts the write end down, so the main loop reads end
//     of file and takes the port as lost.
// Close() sets the stop event and joins the reader before closing the handle, so the thread
// never touches a closed handle. Ctrl-C, Ctrl-Break and console close set the stop flag and
// write to a second socket pair that every wait watches.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "kelmarotd/platform.h"

namespace kelmarotd::platform {
namespace {

constexpr DWORD kWriteTimeoutMs = 1000;  // a controller that takes no bytes for this long is lost
constexpr DWORD kReadChunk = 256;

std::atomic<bool> g_stop{false};
SOCKET g_stopRead = INVALID_SOCKET;
SOCKET g_stopWrite = INVALID_SOCKET;

bool SetNonBlocking(SOCKET s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}

// Two connected loopback sockets: what is sent on `write` arrives on `read`.
bool MakeSocketPair(SOCKET* read, SOCKET* write) {
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    *read = *write = INVALID_SOCKET;
    if (listener == INVALID_SOCKET) return false;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        listen(listener, 1) == 0 &&
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        *write = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (*write != INVALID_SOCKET &&
            connect(*write, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
            *read = accept(listener, nullptr, nullptr);
        }
    }
    closesocket(listener);
    if (*read != INVALID_SOCKET && SetNonBlocking(*read)) return true;
    if (*read != INVALID_SOCKET) closesocket(*read);
    if (*write != INVALID_SOCKET) closesocket(*write);
    *read = *write = INVALID_SOCKET;
    return false;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    g_stop = true;
    const char byte = 0;
    send(g_stopWrite, &byte, 1, 0);
    return TRUE;
}

std::string ErrorText(DWORD code) {
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, sizeof(text), nullptr);
    std::string s = text;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s.empty() ? "error " + std::to_string(code) : s;
}

// Waits for an overlapped operation; false when it failed.
bool Finish(HANDLE port, OVERLAPPED* ov, DWORD* done) {
    return GetOverlappedResult(port, ov, done, TRUE) != 0;
}

class Win32SerialPort : public SerialPort {
public:
    ~Win32SerialPort() override { Close(); }

    bool Open(const std::string& device, std::string* error) override {
        // "\\.\" lets COM10 and above open too.
        const std::string path = device.rfind("\\\\.\\", 0) == 0 ? device : "\\\\.\\" + device;
        port_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
        if (port_ == INVALID_HANDLE_VALUE) return Fail(device, error);
        if (!Configure()) return Fail(device, error);
        stopEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (stopEvent_ == nullptr || !MakeSocketPair(&readEnd_, &writeEnd_))
            return Fail(device, error);
        reader_ = std::thread([this] { ReaderLoop(); });
        return true;
    }

    void Close() override {
        if (reader_.joinable()) {
            SetEvent(stopEvent_);
            reader_.join();
        }
        if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
        if (stopEvent_ != nullptr) CloseHandle(stopEvent_);
        if (readEnd_ != INVALID_SOCKET) closesocket(readEnd_);
        if (writeEnd_ != INVALID_SOCKET) closesocket(writeEnd_);
        port_ = INVALID_HANDLE_VALUE;
        stopEvent_ = nullptr;
        readEnd_ = writeEnd_ = INVALID_SOCKET;
    }

    bool IsOpen() const override { return port_ != INVALID_HANDLE_VALUE; }

    bool Write(std::string_view bytes) override {
        if (!IsOpen()) return false;
        OVERLAPPED ov{};
        ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DWORD done = 0;
        bool ok = ov.hEvent != nullptr;
        if (ok && !WriteFile(port_, bytes.data(), static_cast<DWORD>(bytes.size()), &done, &ov))
            ok = GetLastError() == ERROR_IO_PENDING && Finish(port_, &ov, &done);
        if (ov.hEvent != nullptr) CloseHandle(ov.hEvent);
        if (ok && done == bytes.size()) return true;
        Close();
        return false;
    }

    Handle ReadHandle() const override { return static_cast<Handle>(readEnd_); }

    long Read(char* buffer, size_t size) override {
        const int n = recv(readEnd_, buffer, static_cast<int>(size), 0);
        if (n >= 0) return n;
        return WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kFailed;
    }

private:
    bool Fail(const std::string& device, std::string* error) {
        *error = device + ": " + ErrorText(GetLastError());
        Close();
        return false;
    }

    bool Configure() {
        DCB dcb{};
        dcb.DCBlength = sizeof(dcb);
        if (!GetCommState(port_, &dcb)) return false;
        dcb.BaudRate = CBR_9600;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = dcb.fInX = FALSE;
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;  // no handshake: RTS simply stays on
        dcb.fAbortOnError = FALSE;
        // Reads return at once with what has arrived; the reader waits with WaitCommEvent.
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
        // Bytes that waited in the port while it was closed are from before: dropped.
        return SetCommState(port_, &dcb) && SetCommTimeouts(port_, &timeouts) &&
               SetCommMask(port_, EV_RXCHAR) && PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    }

    // Passes every byte waiting in the port to the socket pair; false when either failed.
    bool Drain(OVERLAPPED* ov) {
        for (;;) {
            DWORD errors = 0;
            COMSTAT status{};
            if (!ClearCommError(port_, &errors, &status)) return false;
            if (status.cbInQue == 0) return true;
            char buffer[kReadChunk];
            DWORD got = 0;
            const DWORD want = status.cbInQue < kReadChunk ? status.cbInQue : kReadChunk;
            ResetEvent(ov->hEvent);
            if (!ReadFile(port_, buffer, want, &got, ov) &&
                (GetLastError() != ERROR_IO_PENDING || !Finish(port_, ov, &got)))
                return false;
            if (got > 0 &&
                send(writeEnd_, buffer, static_cast<int>(got), 0) != static_cast<int>(got))
                return false;
        }
    }

    // One pending WaitCommEvent at a time; bytes are drained after it is issued, so none that
    // arrive just before it can wait unseen.
    void ReaderLoop() {
        OVERLAPPED waitOv{};
        OVERLAPPED readOv{};
        waitOv.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        readOv.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        for (bool running = waitOv.hEvent && readOv.hEvent; running;) {
            DWORD mask = 0;
            ResetEvent(waitOv.hEvent);
            const bool pending = !WaitCommEvent(port_, &mask, &waitOv);
            if (pending && GetLastError() != ERROR_IO_PENDING) break;
            running = Drain(&readOv);
            if (!pending) continue;
            const HANDLE events[2] = {waitOv.hEvent, stopEvent_};
            const DWORD woke = running ? WaitForMultipleObjects(2, events, FALSE, INFINITE) : 1;
            DWORD unused = 0;
            if (woke != WAIT_OBJECT_0) {
                CancelIo(port_);
                GetOverlappedResult(port_, &waitOv, &unused, TRUE);  // the cancelled wait's end
                break;
            }
            running = GetOverlappedResult(port_, &waitOv, &unused, FALSE) != 0;
        }
        if (waitOv.hEvent) CloseHandle(waitOv.hEvent);
        if (readOv.hEvent) CloseHandle(readOv.hEvent);
        shutdown(writeEnd_, SD_SEND);
    }

    HANDLE port_ = INVALID_HANDLE_VALUE;
    HANDLE stopEvent_ = nullptr;
    SOCKET readEnd_ = INVALID_SOCKET;
    SOCKET writeEnd_ = INVALID_SOCKET;
    std::thread reader_;
};

}  // namespace

bool Startup(std::string* error) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) == 0) return true;
    *error = "Winsock did not start";
    return false;
}

int64_t NowMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return counter.QuadPart / (frequency.QuadPart / 1000);
}

Handle Listen(const std::string& address, uint16_t port, uint16_t* boundPort, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        *error = address + ": not a numeric address";
        return kNoHandle;
    }
    const SOCKET s = socket(found->ai_family, SOCK_STREAM, IPPROTO_TCP);
    const BOOL on = TRUE;
    // Exclusive: on Windows a plain reuse would let another program take over the port.
    bool ok = s != INVALID_SOCKET &&
              setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                         sizeof(on)) == 0 &&
              bind(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0 &&
              listen(s, SOMAXCONN) == 0 && SetNonBlocking(s);
    freeaddrinfo(found);
    sockaddr_storage bound{};
    int length = sizeof(bound);
    ok = ok && getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length) == 0;
    if (!ok) {
        const DWORD code = static_cast<DWORD>(WSAGetLastError());
        *error = address + " port " + std::to_string(port) + ": socket error " +
                 std::to_string(code) + " (" + ErrorText(code) + ")";
        if (s != INVALID_SOCKET) closesocket(s);
        return kNoHandle;
    }
    *boundPort =
        ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                          : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return static_cast<Handle>(s);
}

Handle Accept(Handle listener) {
    const SOCKET s = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) return kNoHandle;
    if (!SetNonBlocking(s)) {
        closesocket(s);
        return kNoHandle;
    }
    // Refused, the system's own buffer serves: the server's bound still closes a deaf client.
    setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&kClientSendBufferBytes),
               sizeof(kClientSendBufferBytes));
    return static_cast<Handle>(s);
}

Handle StartConnect(const std::string& host, uint16_t port, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        *error = host + ": " + ErrorText(WSAGetLastError());
        return kNoHandle;
    }
    const addrinfo* chosen = found;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next)
        if (a->ai_family == AF_INET) {
            chosen = a;
            break;
        }
    SOCKET s = socket(chosen->ai_family, SOCK_STREAM, IPPROTO_TCP);
    const bool started = s != INVALID_SOCKET && SetNonBlocking(s) &&
                         (connect(s, chosen->ai_addr, static_cast<int>(chosen->ai_addrlen)) == 0 ||
                          WSAGetLastError() == WSAEWOULDBLOCK);
    freeaddrinfo(found);
    if (!started) {
        *error = host + " port " + std::to_string(port) + ": " + ErrorText(WSAGetLastError());
        if (s != INVALID_SOCKET) closesocket(s);
        return kNoHandle;
    }
    return static_cast<Handle>(s);
}

std::string ConnectProblem(Handle socket) {
    int code = 0;
    int length = sizeof(code);
    if (getsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_ERROR,
                   reinterpret_cast<char*>(&code), &length) != 0)
        code = WSAGetLastError();
    return code == 0 ? "" : ErrorText(static_cast<DWORD>(code));
}

long Receive(Handle socket, char* buffer, size_t size) {
    const int n = recv(static_cast<SOCKET>(socket), buffer, static_cast<int>(size), 0);
    if (n >= 0) return n;
    return WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kFailed;
}

long Send(Handle socket, const char* bytes, size_t size) {
    const int n = send(static_cast<SOCKET>(socket), bytes, static_cast<int>(size), 0);
    if (n >= 0) return n;
    return WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kFailed;
}

void CloseSocket(Handle socket) {
    closesocket(static_cast<SOCKET>(socket));
}

std::unique_ptr<SerialPort> MakeSerialPort() {
    return std::make_unique<Win32SerialPort>();
}

void Wait(std::vector<Watch>* watches, int timeoutMs) {
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(g_stopRead, &readable);
    for (const Watch& w : *watches) {
        const SOCKET s = static_cast<SOCKET>(w.handle);
        if (w.wantRead) FD_SET(s, &readable);
        if (w.wantWrite) FD_SET(s, &writable);
        FD_SET(s, &failed);
    }
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (select(0, &readable, &writable, &failed, timeoutMs < 0 ? nullptr : &limit) <= 0) return;
    for (Watch& w : *watches) {
        const SOCKET s = static_cast<SOCKET>(w.handle);
        w.readable = w.wantRead && (FD_ISSET(s, &readable) || FD_ISSET(s, &failed));
        w.writable = w.wantWrite && (FD_ISSET(s, &writable) || FD_ISSET(s, &failed));
    }
}

bool InstallStopHandler(std::string* error) {
    if (!MakeSocketPair(&g_stopRead, &g_stopWrite) ||
        !SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) {
        *error = "cannot watch for Ctrl-C";
        return false;
    }
    return true;
}

bool StopRequested() {
    return g_stop;
}

}  // namespace kelmarotd::platform
