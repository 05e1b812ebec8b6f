// Runs the kelma_sim binary against a scratch prefix folder and drives it as the Windows tests
// do: control commands over TCP, the program's side through the pty behind dosdevices/comN.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

constexpr int kReadTimeoutMillis = 2000;

std::string ReadFor(int fd, size_t wanted, int timeoutMillis = kReadTimeoutMillis) {
    std::string out;
    while (out.size() < wanted) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMillis) <= 0) break;
        char buf[256];
        const ssize_t n = read(fd, buf, std::min(sizeof buf, wanted - out.size()));
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

class SimulatorProcess : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/kelma-sim-test.XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        scratch_ = dir;
        prefix_ = scratch_ + "/prefix";
        ASSERT_EQ(mkdir(prefix_.c_str(), 0700), 0);
        ASSERT_EQ(mkdir((prefix_ + "/dosdevices").c_str(), 0700), 0);
    }
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (control_ >= 0) close(control_);
        std::system(("rm -rf " + scratch_).c_str());
    }

    // Starts the simulator with WINEPREFIX and HOME as given; returns its stdout pipe.
    int Start(const char* prefix, const std::string& home) {
        int out[2];
        if (pipe(out) != 0) return -1;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            if (prefix)
                setenv("WINEPREFIX", prefix, 1);
            else
                unsetenv("WINEPREFIX");
            setenv("HOME", home.c_str(), 1);
            execl(KELMA_SIM_BINARY, KELMA_SIM_BINARY, "--control-port", "0", (char*)nullptr);
            _exit(127);
        }
        close(out[1]);
        return out[0];
    }

    int ExitStatus() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void StartAndConnect() {
        const int out = Start(prefix_.c_str(), scratch_);
        std::string first;
        for (std::string c; (c = ReadFor(out, 1)).size() == 1 && c != "\n";) first += c;
        close(out);
        ASSERT_EQ(first.rfind("control ", 0), 0u) << first;
        control_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(std::atoi(first.c_str() + 8)));
        ASSERT_EQ(connect(control_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }

    std::string Command(const std::string& line) {
        const std::string text = line + "\n";
        EXPECT_EQ(write(control_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        std::string reply;
        for (std::string c; (c = ReadFor(control_, 1)).size() == 1 && c != "\n";) reply += c;
        return reply;
    }

    std::string Link(int n) const { return prefix_ + "/dosdevices/com" + std::to_string(n); }

    std::string LinkTarget(int n) const {
        char target[256];
        const ssize_t len = readlink(Link(n).c_str(), target, sizeof target);
        return len > 0 ? std::string(target, static_cast<size_t>(len)) : std::string();
    }

    int OpenPort(int n) { return open(Link(n).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK); }

    std::string scratch_, prefix_;
    pid_t pid_ = -1;
    int control_ = -1;
};

TEST_F(SimulatorProcess, PortsCommandLinksComPortsToPseudoTerminals) {
    StartAndConnect();
    const std::string reply = Command("ports 1 3");
    EXPECT_EQ(reply, "ok 1:" + LinkTarget(1) + " 3:" + LinkTarget(3));
    EXPECT_EQ(LinkTarget(1).rfind("/dev/pts/", 0), 0u);
    EXPECT_EQ(LinkTarget(3).rfind("/dev/pts/", 0), 0u);
    EXPECT_EQ(LinkTarget(2), "");

    const std::string second = Command("ports 2");
    EXPECT_EQ(second, "ok 2:" + LinkTarget(2));
    EXPECT_EQ(LinkTarget(1), "");
    EXPECT_EQ(LinkTarget(3), "");
    EXPECT_EQ(Command("ports"), "ok");
    EXPECT_EQ(LinkTarget(2), "");
}

TEST_F(SimulatorProcess, AnswersAPollOnThePortAndRecordsTheBytes) {
    StartAndConnect();
    Command("ports 1");
    const int fd = OpenPort(1);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "A\r\n", 3), 3);
    EXPECT_EQ(ReadFor(fd, 14), "AZP 000.0 ST\r\n");
    EXPECT_EQ(Command("recv 1"), "ok 410d0a");
    const std::string chunks = Command("chunks 1");
    EXPECT_EQ(chunks.substr(chunks.find(':')), ":410d0a");
    EXPECT_EQ(Command("clear 1"), "ok");
    EXPECT_EQ(Command("recv 1"), "ok");
    close(fd);
}

TEST_F(SimulatorProcess, SendWritesRawBytesAndAutoOffSilencesPolls) {
    StartAndConnect();
    Command("ports 2");
    const int fd = OpenPort(2);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Command("send 2 41000d0a"), "ok 4");
    EXPECT_EQ(ReadFor(fd, 4), std::string("A\0\r\n", 4));
    EXPECT_EQ(Command("auto 2 off"), "ok");
    ASSERT_EQ(write(fd, "E\r\n", 3), 3);
    EXPECT_EQ(ReadFor(fd, 1, 300), "");
    close(fd);
}

TEST_F(SimulatorProcess, StallHoldsTheProgramsWritesUntilOffButKeepsSending) {
    StartAndConnect();
    Command("ports 1");
    const int fd = OpenPort(1);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Command("stall 1 on"), "ok");
    errno = 0;
    EXPECT_EQ(write(fd, "A\r\n", 3), -1);
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(Command("send 1 410d0a"), "ok 3");
    EXPECT_EQ(ReadFor(fd, 3), "A\r\n");
    EXPECT_EQ(Command("stall 1 off"), "ok");
    ASSERT_EQ(write(fd, "E\r\n", 3), 3);
    EXPECT_EQ(ReadFor(fd, 14), "ELP 000.0 ST\r\n");
    EXPECT_EQ(Command("recv 1"), "ok 450d0a");
    EXPECT_EQ(Command("stall 1 maybe"), "err bad command: stall");
    close(fd);
}

TEST_F(SimulatorProcess, DeafLeavesTheProgramsBytesInThePtyUntilOff) {
    StartAndConnect();
    Command("ports 1");
    Command("auto 1 off");
    const int fd = OpenPort(1);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Command("deaf 1 on"), "ok");
    ASSERT_EQ(write(fd, "E\r\n", 3), 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Command("recv 1"), "ok") << "a deaf port reads nothing";
    EXPECT_EQ(Command("deaf 1 off"), "ok");
    std::string received;
    for (int i = 0; i < 100 && (received = Command("recv 1")) == "ok"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(received, "ok 450d0a");
    close(fd);
}

TEST_F(SimulatorProcess, SetposRateAndGetDescribeTheAxes) {
    StartAndConnect();
    Command("ports 1");
    EXPECT_EQ(Command("setpos 1 100 20"), "ok");
    EXPECT_EQ(Command("get 1"), "ok 100.0 20.0 100.0 20.0 0 0");
    EXPECT_EQ(Command("rate 1 1000 1000"), "ok");
    const int fd = OpenPort(1);
    ASSERT_EQ(write(fd, "A\r\n120\r\n", 8), 8);
    // 20 degrees take 20 ms at this rate and over 3 s at the default one. A busy machine can hold
    // the simulator back for a while, so its state is asked until the axis arrives, for 2 s.
    const std::string arrived = "ok 120.0 20.0 120.0 20.0 0 0";
    std::string state;
    for (int i = 0; i < 200 && (state = Command("get 1")) != arrived; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(state, arrived);
    close(fd);
}

TEST_F(SimulatorProcess, UnplugBreaksTheLineAndPlugOffersANewOne) {
    StartAndConnect();
    Command("ports 1");
    const std::string before = LinkTarget(1);
    const int fd = OpenPort(1);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Command("unplug 1"), "ok");
    EXPECT_EQ(LinkTarget(1), "");
    char c;
    EXPECT_EQ(read(fd, &c, 1), 0);  // hung up: nothing will ever come again
    EXPECT_EQ(write(fd, "A", 1), -1);
    EXPECT_EQ(errno, EIO);
    close(fd);
    EXPECT_EQ(Command("send 1 41"), "err port 1 unplugged");
    const std::string plugged = Command("plug 1");
    EXPECT_EQ(plugged, "ok " + LinkTarget(1));
}

TEST_F(SimulatorProcess, HoldMakesThePortUnopenableUntilRelease) {
    StartAndConnect();
    Command("ports 1");
    const int opened = OpenPort(1);
    ASSERT_GE(opened, 0);
    EXPECT_EQ(Command("hold 1"), "ok");
    EXPECT_EQ(OpenPort(1), -1);
    EXPECT_EQ(errno, EIO);
    ASSERT_EQ(write(opened, "A\r\n", 3), 3);  // a handle opened before keeps working
    EXPECT_EQ(ReadFor(opened, 14), "AZP 000.0 ST\r\n");
    EXPECT_EQ(Command("release 1"), "ok");
    const int again = OpenPort(1);
    EXPECT_GE(again, 0);
    close(again);
    close(opened);
}

TEST_F(SimulatorProcess, RejectsBadCommandsWithErr) {
    StartAndConnect();
    for (const char* bad : {"frobnicate", "ports 0", "ports 10", "recv 4", "send", "send 1 4",
                            "rate 1 0 1", "plug x"}) {
        EXPECT_EQ(Command(bad).rfind("err ", 0), 0u) << bad;
    }
    Command("ports 1");
    EXPECT_EQ(Command("send 1 4g"), "err bad hex");
}

TEST_F(SimulatorProcess, TermSignalRemovesItsLinks) {
    StartAndConnect();
    Command("ports 1 2");
    ASSERT_NE(LinkTarget(1), "");
    kill(pid_, SIGTERM);
    EXPECT_EQ(ExitStatus(), 0);
    EXPECT_EQ(LinkTarget(1), "");
    EXPECT_EQ(LinkTarget(2), "");
}

TEST_F(SimulatorProcess, QuitEndsTheSimulator) {
    StartAndConnect();
    EXPECT_EQ(Command("quit"), "ok");
    EXPECT_EQ(ExitStatus(), 0);
}

TEST_F(SimulatorProcess, RefusesToRunWithoutAPrivatePrefix) {
    close(Start(nullptr, scratch_));
    EXPECT_EQ(ExitStatus(), 2) << "no WINEPREFIX";
    close(Start((scratch_ + "/missing").c_str(), scratch_));
    EXPECT_EQ(ExitStatus(), 2) << "no such prefix";
    ASSERT_EQ(symlink(prefix_.c_str(), (scratch_ + "/.wine").c_str()), 0);
    close(Start(prefix_.c_str(), scratch_));  // HOME=scratch, so the prefix is ~/.wine
    EXPECT_EQ(ExitStatus(), 2) << "~/.wine";
    EXPECT_EQ(LinkTarget(1), "");
}

}  // namespace
