// POSIX: sockets and the serial port are descriptors waited on together with poll(); the stop
// signals write to a pipe that is watched as well, so a wait never misses one.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "kelmarotd/address_choice.h"
#include "kelmarotd/platform.h"

namespace kelmarotd::platform {
namespace {

constexpr int kListenBacklog = 16;
constexpr int kWriteWaitMs = 1000;  // a controller that takes no bytes for this long is lost

std::atomic<bool> g_stop{false};
int g_stopPipe[2] = {-1, -1};

void OnStopSignal(int) {
    g_stop = true;
    const char byte = 0;
    // Nothing to do when the pipe is full: a wake-up is already waiting in it.
    (void)!write(g_stopPipe[1], &byte, 1);
}

bool SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

std::string ErrorText() {
    return strerror(errno);
}

class PosixSerialPort : public SerialPort {
public:
    ~PosixSerialPort() override { Close(); }

    bool Open(const std::string& device, std::string* error) override {
        fd_ = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return Fail(device, error);
        termios tio{};
        if (tcgetattr(fd_, &tio) != 0) return Fail(device, error);
        cfmakeraw(&tio);
        cfsetispeed(&tio, B9600);
        cfsetospeed(&tio, B9600);
        tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_iflag &= ~(IXON | IXOFF | IXANY);
        if (tcsetattr(fd_, TCSANOW, &tio) != 0) return Fail(device, error);
        const int dtr = TIOCM_DTR;
        // Pseudo-terminals have no modem lines and refuse this: nothing to lower there.
        (void)ioctl(fd_, TIOCMBIC, &dtr);
        return true;
    }

    void Close() override {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

    bool IsOpen() const override { return fd_ >= 0; }

    bool Write(std::string_view bytes) override {
        while (!bytes.empty() && fd_ >= 0) {
            const ssize_t n = write(fd_, bytes.data(), bytes.size());
            if (n > 0) {
                bytes.remove_prefix(static_cast<size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{fd_, POLLOUT, 0};
                if (poll(&p, 1, kWriteWaitMs) <= 0 || (p.revents & (POLLERR | POLLHUP))) Close();
            } else {
                Close();
            }
        }
        return fd_ >= 0;
    }

    Handle ReadHandle() const override { return fd_; }

    long Read(char* buffer, size_t size) override {
        const ssize_t n = read(fd_, buffer, size);
        if (n >= 0) return n;
        if (errno == EAGAIN || errno == EINTR) return kWouldBlock;
        return kFailed;  // EIO: the device (or the pty's other side) went away
    }

private:
    bool Fail(const std::string& device, std::string* error) {
        *error = device + ": " + ErrorText();
        Close();
        return false;
    }

    int fd_ = -1;
};

}  // namespace

bool Startup(std::string*) {
    // A client that goes away while we write must not end the server.
    signal(SIGPIPE, SIG_IGN);
    return true;
}

int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

Handle Listen(const std::string& address, uint16_t port, uint16_t* boundPort, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0) {
        *error = address + ": " + gai_strerror(rc);
        return kNoHandle;
    }
    const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    bool ok = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) == 0 &&
              bind(fd, found->ai_addr, found->ai_addrlen) == 0 && listen(fd, kListenBacklog) == 0 &&
              SetNonBlocking(fd);
    freeaddrinfo(found);
    sockaddr_storage bound{};
    socklen_t length = sizeof(bound);
    ok = ok && getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0;
    if (!ok) {
        *error = address + " port " + std::to_string(port) + ": " + ErrorText();
        if (fd >= 0) close(fd);
        return kNoHandle;
    }
    *boundPort =
        ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                          : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return fd;
}

Handle Accept(Handle listener) {
    const int fd = accept(static_cast<int>(listener), nullptr, nullptr);
    if (fd < 0) return kNoHandle;
    if (!SetNonBlocking(fd)) {
        close(fd);
        return kNoHandle;
    }
    // Refused, the kernel's own buffer serves: the server's bound still closes a deaf client.
    (void)setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kClientSendBufferBytes,
                     sizeof(kClientSendBufferBytes));
    return fd;
}

Handle StartConnect(const std::string& host, uint16_t port, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0) {
        *error = host + ": " + gai_strerror(rc);
        return kNoHandle;
    }
    const addrinfo* chosen = FirstIpv4OrFirst(found);
    int fd = socket(chosen->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool started =
        fd >= 0 && SetNonBlocking(fd) &&
        (connect(fd, chosen->ai_addr, chosen->ai_addrlen) == 0 || errno == EINPROGRESS);
    freeaddrinfo(found);
    if (!started) {
        *error = host + " port " + std::to_string(port) + ": " + ErrorText();
        if (fd >= 0) close(fd);
        fd = -1;
    }
    return fd;
}

std::string ConnectProblem(Handle socket) {
    int code = 0;
    socklen_t length = sizeof(code);
    if (getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_ERROR, &code, &length) != 0)
        code = errno;
    return code == 0 ? "" : strerror(code);
}

long Receive(Handle socket, char* buffer, size_t size) {
    const ssize_t n = recv(static_cast<int>(socket), buffer, size, 0);
    if (n >= 0) return n;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? kWouldBlock : kFailed;
}

long Send(Handle socket, const char* bytes, size_t size) {
    const ssize_t n = send(static_cast<int>(socket), bytes, size, MSG_NOSIGNAL);
    if (n >= 0) return n;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? kWouldBlock : kFailed;
}

void CloseSocket(Handle socket) {
    close(static_cast<int>(socket));
}

std::unique_ptr<SerialPort> MakeSerialPort() {
    return std::make_unique<PosixSerialPort>();
}

void Wait(std::vector<Watch>* watches, int timeoutMs) {
    std::vector<pollfd> fds;
    fds.reserve(watches->size() + 1);
    fds.push_back(pollfd{g_stopPipe[0], POLLIN, 0});
    for (const Watch& w : *watches) {
        const short events =
            static_cast<short>((w.wantRead ? POLLIN : 0) | (w.wantWrite ? POLLOUT : 0));
        fds.push_back(pollfd{static_cast<int>(w.handle), events, 0});
    }
    if (poll(fds.data(), fds.size(), timeoutMs) <= 0) return;
    for (size_t i = 0; i < watches->size(); ++i) {
        const short revents = fds[i + 1].revents;
        Watch& w = (*watches)[i];
        w.readable = w.wantRead && (revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL));
        w.writable = w.wantWrite && (revents & (POLLOUT | POLLERR | POLLHUP));
    }
}

bool InstallStopHandler(std::string* error) {
    if (pipe(g_stopPipe) != 0 || !SetNonBlocking(g_stopPipe[0]) || !SetNonBlocking(g_stopPipe[1])) {
        *error = "stop pipe: " + ErrorText();
        return false;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

bool StopRequested() {
    return g_stop;
}

}  // namespace kelmarotd::platform
