#include "pty_port.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace kelma {

namespace {

constexpr size_t kReadChunk = 4096;

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Points linkPath at target atomically, replacing any old link of that name.
bool ReplaceLink(const std::string& target, const std::string& linkPath, std::string* error) {
    const std::string temporary = linkPath + ".new." + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
        *error = Errno("symlink");
        return false;
    }
    if (rename(temporary.c_str(), linkPath.c_str()) != 0) {
        *error = Errno("rename");
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<PtyPort> PtyPort::Open(const std::string& linkPath, std::string* error) {
    std::unique_ptr<PtyPort> port(new PtyPort());
    port->master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[PATH_MAX];
    if (port->master_ < 0 || grantpt(port->master_) != 0 || unlockpt(port->master_) != 0 ||
        ptsname_r(port->master_, name, sizeof name) != 0) {
        *error = Errno("pty");
        return nullptr;
    }
    port->slavePath_ = name;
    port->slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio;
    if (port->slave_ < 0 || tcgetattr(port->slave_, &tio) != 0) {
        *error = Errno("pty slave");
        return nullptr;
    }
    cfmakeraw(&tio);  // bytes pass unchanged both ways, no echo
    cfsetspeed(&tio, B9600);
    if (tcsetattr(port->slave_, TCSANOW, &tio) != 0) {
        *error = Errno("tcsetattr");
        return nullptr;
    }
    if (!ReplaceLink(port->slavePath_, linkPath, error)) return nullptr;
    port->linkPath_ = linkPath;
    return port;
}

bool PtyPort::Hold(std::string* error) {
    if (Held()) return true;
    const int locked = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[PATH_MAX];
    // No unlockpt: the slave of this pty cannot be opened.
    if (locked < 0 || grantpt(locked) != 0 || ptsname_r(locked, name, sizeof name) != 0) {
        *error = Errno("pty");
        if (locked >= 0) close(locked);
        return false;
    }
    if (!ReplaceLink(name, linkPath_, error)) {
        close(locked);
        return false;
    }
    lockedMaster_ = locked;
    lockedPath_ = name;
    return true;
}

bool PtyPort::Release(std::string* error) {
    if (!Held()) return true;
    if (!ReplaceLink(slavePath_, linkPath_, error)) return false;
    close(lockedMaster_);
    lockedMaster_ = -1;
    lockedPath_.clear();
    return true;
}

PtyPort::~PtyPort() {
    if (!linkPath_.empty()) {
        char target[PATH_MAX];
        const ssize_t n = readlink(linkPath_.c_str(), target, sizeof target - 1);
        const std::string current = n > 0 ? std::string(target, static_cast<size_t>(n)) : "";
        if (!current.empty() && (current == slavePath_ || current == lockedPath_))
            unlink(linkPath_.c_str());
    }
    if (lockedMaster_ >= 0) close(lockedMaster_);
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
}

void PtyPort::Write(std::string_view bytes) {
    pending_.append(bytes.data(), bytes.size());
    Flush();
}

void PtyPort::Flush() {
    if (pending_.empty()) return;
    const ssize_t n = write(master_, pending_.data(), pending_.size());
    if (n > 0) pending_.erase(0, static_cast<size_t>(n));
    // EAGAIN: the program is not reading; the rest waits for the next Flush.
}

bool PtyPort::Stall(bool on, std::string* error) {
    if (tcflow(slave_, on ? TCOOFF : TCOON) != 0) {
        *error = Errno("tcflow");
        return false;
    }
    stalled_ = on;
    return true;
}

void PtyPort::Purge() {
    pending_.clear();
    tcflush(slave_, TCIOFLUSH);
    tcflush(master_, TCIOFLUSH);
}

std::string PtyPort::Read() {
    char buf[kReadChunk];
    const ssize_t n = read(master_, buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

}  // namespace kelma
