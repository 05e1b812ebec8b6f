// Client for the KELMA controller simulator's control connection, for Windows test programs
// run under Wine. tests/harness/wine-run.sh starts one simulator per test program and passes
// its address in KELMA_SIM_CONTROL ("127.0.0.1:<port>"). Commands and replies are single text
// lines; see tools/kelma_sim/README.md.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

class SimClient {
public:
    // Connects to the address in KELMA_SIM_CONTROL.
    SimClient();
    // Connects to "host:port".
    explicit SimClient(const std::string& address);
    ~SimClient();
    SimClient(const SimClient&) = delete;
    SimClient& operator=(const SimClient&) = delete;

    bool Connected() const { return socket_ != kNoSocket; }
    // Why the last connect or command failed.
    const std::string& LastError() const { return error_; }

    // Sends one command line and returns the reply line without its line end; "err ..." when
    // the connection failed or no reply came within the time-out.
    std::string Command(const std::string& line);

    // Exactly these COM ports present (links to fresh simulated ports), the others unplugged.
    bool Ports(std::initializer_list<int> ports);
    // Writes raw bytes to the program on COMn, in one write.
    bool Send(int port, const std::string& bytes);
    // Every byte the program wrote to COMn since the last Clear.
    std::string Received(int port);
    // The same, per read of the simulator, with its CLOCK_MONOTONIC time in microseconds.
    std::vector<std::pair<int64_t, std::string>> Chunks(int port);
    bool Clear(int port);
    bool Unplug(int port);
    bool Plug(int port);
    // Whether the controller stops taking the program's bytes (its writes stay pending).
    bool Stall(int port, bool on);
    // Whether the controller stops reading: the program's writes complete, their bytes wait.
    bool Deaf(int port, bool on);
    // Whether the controller answers position polls by itself.
    bool Auto(int port, bool on);
    // The simulator's CLOCK_MONOTONIC in microseconds, or -1.
    int64_t Now();

    static bool IsOk(const std::string& reply) { return reply.rfind("ok", 0) == 0; }
    // The text after "ok " (empty for a bare "ok").
    static std::string Payload(const std::string& reply);
    static std::string HexEncode(const std::string& bytes);
    static bool HexDecode(const std::string& hex, std::string* bytes);

private:
    static constexpr uintptr_t kNoSocket = ~static_cast<uintptr_t>(0);  // INVALID_SOCKET

    void Connect(const std::string& address);
    bool ReadLine(std::string* line);
    // Remembers reply as the last error and returns it.
    std::string Fail(const std::string& reply);
    bool PortCommand(const char* name, int port, const std::string& rest = {});

    uintptr_t socket_ = kNoSocket;
    std::string buffer_;
    std::string error_;
};
