#include "tests/win/support/sim_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>

namespace {

constexpr DWORD kReplyTimeoutMillis = 10000;  // a command never waits longer than this

// Winsock wants one WSAStartup per process before any socket call.
bool StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

}  // namespace

SimClient::SimClient() {
    const char* address = std::getenv("KELMA_SIM_CONTROL");
    if (!address || !*address) {
        error_ =
            "KELMA_SIM_CONTROL is not set (run under tests/harness/wine-run.sh with KELMA_SIM)";
        return;
    }
    Connect(address);
}

SimClient::SimClient(const std::string& address) {
    Connect(address);
}

SimClient::~SimClient() {
    if (Connected()) closesocket(static_cast<SOCKET>(socket_));
}

void SimClient::Connect(const std::string& address) {
    const size_t colon = address.rfind(':');
    if (colon == std::string::npos || !StartWinsock()) {
        error_ = "bad address or no winsock: " + address;
        return;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(std::atoi(address.c_str() + colon + 1)));
    addr.sin_addr.s_addr = inet_addr(address.substr(0, colon).c_str());
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        error_ = "socket failed";
        return;
    }
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        error_ = "cannot connect to " + address;
        closesocket(s);
        return;
    }
    const DWORD timeout = kReplyTimeoutMillis;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    socket_ = static_cast<uintptr_t>(s);
}

bool SimClient::ReadLine(std::string* line) {
    size_t eol;
    while ((eol = buffer_.find('\n')) == std::string::npos) {
        char chunk[4096];
        const int n = recv(static_cast<SOCKET>(socket_), chunk, sizeof chunk, 0);
        if (n <= 0) return false;  // closed, failed or timed out
        buffer_.append(chunk, static_cast<size_t>(n));
    }
    *line = buffer_.substr(0, eol);
    buffer_.erase(0, eol + 1);
    return true;
}

std::string SimClient::Command(const std::string& line) {
    if (!Connected()) return "err not connected: " + error_;
    const std::string text = line + "\n";
    size_t sent = 0;
    while (sent < text.size()) {
        const int n = send(static_cast<SOCKET>(socket_), text.data() + sent,
                           static_cast<int>(text.size() - sent), 0);
        if (n <= 0) return Fail("err send failed");
        sent += static_cast<size_t>(n);
    }
    std::string reply;
    if (!ReadLine(&reply)) return Fail("err no reply to: " + line);
    if (!IsOk(reply)) error_ = reply;
    return reply;
}

std::string SimClient::Fail(const std::string& reply) {
    error_ = reply;
    return reply;
}

bool SimClient::PortCommand(const char* name, int port, const std::string& rest) {
    std::string line = std::string(name) + " " + std::to_string(port);
    if (!rest.empty()) line += " " + rest;
    return IsOk(Command(line));
}

bool SimClient::Ports(std::initializer_list<int> ports) {
    std::string line = "ports";
    for (int port : ports) line += " " + std::to_string(port);
    return IsOk(Command(line));
}

bool SimClient::Send(int port, const std::string& bytes) {
    return PortCommand("send", port, HexEncode(bytes));
}

std::string SimClient::Received(int port) {
    std::string bytes;
    const std::string reply = Command("recv " + std::to_string(port));
    if (!IsOk(reply) || !HexDecode(Payload(reply), &bytes)) return {};
    return bytes;
}

std::vector<std::pair<int64_t, std::string>> SimClient::Chunks(int port) {
    std::vector<std::pair<int64_t, std::string>> chunks;
    const std::string reply = Command("chunks " + std::to_string(port));
    if (!IsOk(reply)) return chunks;
    const std::string payload = Payload(reply);
    size_t start = 0;
    while (start < payload.size()) {
        size_t end = payload.find(' ', start);
        if (end == std::string::npos) end = payload.size();
        const std::string item = payload.substr(start, end - start);
        const size_t colon = item.find(':');
        std::string bytes;
        if (colon != std::string::npos && HexDecode(item.substr(colon + 1), &bytes))
            chunks.emplace_back(std::strtoll(item.c_str(), nullptr, 10), bytes);
        start = end + 1;
    }
    return chunks;
}

bool SimClient::Clear(int port) {
    return PortCommand("clear", port);
}
bool SimClient::Unplug(int port) {
    return PortCommand("unplug", port);
}
bool SimClient::Plug(int port) {
    return PortCommand("plug", port);
}
bool SimClient::Stall(int port, bool on) {
    return PortCommand("stall", port, on ? "on" : "off");
}
bool SimClient::Deaf(int port, bool on) {
    return PortCommand("deaf", port, on ? "on" : "off");
}
bool SimClient::Auto(int port, bool on) {
    return PortCommand("auto", port, on ? "on" : "off");
}

int64_t SimClient::Now() {
    const std::string reply = Command("now");
    return IsOk(reply) ? std::strtoll(Payload(reply).c_str(), nullptr, 10) : -1;
}

std::string SimClient::Payload(const std::string& reply) {
    return reply.size() > 3 ? reply.substr(3) : std::string();
}

std::string SimClient::HexEncode(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 0xf];
    }
    return hex;
}

bool SimClient::HexDecode(const std::string& hex, std::string* bytes) {
    auto value = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (hex.size() % 2) return false;
    bytes->clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = value(hex[i]), low = value(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes->push_back(static_cast<char>(high << 4 | low));
    }
    return true;
}
