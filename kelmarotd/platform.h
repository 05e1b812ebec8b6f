// The thin platform layer under the server: sockets, the controller's serial port, waiting
// for any of them, the clock and the stop request. platform_posix.cpp (termios, poll) and
// platform_win32.cpp (Winsock, Win32 serial) implement it; everything above is shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelmarotd::platform {

// A socket or, on POSIX, any pollable descriptor.
using Handle = intptr_t;
constexpr Handle kNoHandle = -1;

bool Startup(std::string* error);
int64_t NowMs();  // a steady clock

// Listens on address:port (port 0: any free port); `boundPort` receives the port taken.
Handle Listen(const std::string& address, uint16_t port, uint16_t* boundPort, std::string* error);
// Answers are short, and a client that does not read them is closed once the server holds more
// than its own bound: a small kernel buffer keeps the kernel from holding megabytes before that.
constexpr int kClientSendBufferBytes = 16 * 1024;
// A connected client, non-blocking, with the send buffer above; kNoHandle when none is waiting.
Handle Accept(Handle listener);
constexpr long kWouldBlock = -1;
constexpr long kFailed = -2;
// Starts a non-blocking connection to host:port (a name or a numeric address; an IPv4 address
// first, where the name has one). The socket turns writable once the connection is made or has
// failed, and ConnectProblem then tells which. kNoHandle and the reason when it cannot start.
Handle StartConnect(const std::string& host, uint16_t port, std::string* error);
// Once the socket is writable: empty when connected, else why not.
std::string ConnectProblem(Handle socket);
// Bytes received (0: the peer closed), kWouldBlock or kFailed. Never blocks.
long Receive(Handle socket, char* buffer, size_t size);
// Bytes sent, kWouldBlock or kFailed. Never blocks.
long Send(Handle socket, const char* bytes, size_t size);
void CloseSocket(Handle socket);

// The controller's port: 9600 bit/s, 8N1, no flow control, DTR off.
class SerialPort {
public:
    virtual ~SerialPort() = default;
    virtual bool Open(const std::string& device, std::string* error) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Writes all bytes (bounded wait); false when the port failed.
    virtual bool Write(std::string_view bytes) = 0;
    // What to wait on for received bytes while open.
    virtual Handle ReadHandle() const = 0;
    // Bytes read (0: the port went away), kWouldBlock or kFailed. Never blocks.
    virtual long Read(char* buffer, size_t size) = 0;
};
std::unique_ptr<SerialPort> MakeSerialPort();

struct Watch {
    Handle handle = kNoHandle;
    bool wantRead = false;
    bool wantWrite = false;
    bool readable = false;  // also set on hang-up or error, so the owner reads and sees it
    bool writable = false;
};
// Waits until a watched handle is ready, the stop is requested or timeoutMs passes (-1: no
// limit).
void Wait(std::vector<Watch>* watches, int timeoutMs);

// SIGINT/SIGTERM, or Ctrl-C/Ctrl-Break and console close on Windows, request the stop; a Wait
// in progress returns.
bool InstallStopHandler(std::string* error);
bool StopRequested();

}  // namespace kelmarotd::platform
