// The rotator tests' common ground: the controller simulator's control connection (address in
// KELMA_SIM_CONTROL) and a fixture that opens the real operator window on a simulated COM1.
// Header-only so that each test program takes it in by itself.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/win/support/dialog_support.h"
#include "ui/rotator_dlg.h"

namespace rotator_tests {

class SimAccess {
public:
    SimAccess() {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        const char* address = std::getenv("KELMA_SIM_CONTROL");
        if (address == nullptr) return;
        const std::string text = address;
        const size_t colon = text.rfind(':');
        if (colon == std::string::npos) return;
        sockaddr_in peer = {};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(static_cast<u_short>(std::atoi(text.c_str() + colon + 1)));
        peer.sin_addr.s_addr = inet_addr(text.substr(0, colon).c_str());
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (socket_ == INVALID_SOCKET) return;
        if (connect(socket_, reinterpret_cast<sockaddr*>(&peer), sizeof(peer)) != 0) {
            closesocket(socket_);
            socket_ = INVALID_SOCKET;
        }
    }
    ~SimAccess() {
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
        WSACleanup();
    }
    SimAccess(const SimAccess&) = delete;
    SimAccess& operator=(const SimAccess&) = delete;

    bool Connected() const { return socket_ != INVALID_SOCKET; }

    // One command, one reply line (without its line end); "" when the connection failed.
    std::string Command(const std::string& line) {
        if (!Connected()) return "";
        const std::string out = line + "\n";
        if (send(socket_, out.data(), static_cast<int>(out.size()), 0) < 0) return "";
        std::string reply;
        char c;
        while (recv(socket_, &c, 1, 0) == 1 && c != '\n') reply += c;
        if (!reply.empty() && reply.back() == '\r') reply.pop_back();
        return reply;
    }

    bool Ok(const std::string& line) { return Command(line).rfind("ok", 0) == 0; }

    // Everything port n received from the program, decoded.
    std::string Received(int port) { return Decode(Payload(Command(Recv(port, "recv")))); }

    struct Chunk {
        int64_t micros;
        std::string bytes;
    };
    // What port n received, in the pieces the pty delivered, with their arrival times.
    std::vector<Chunk> Chunks(int port) {
        std::vector<Chunk> chunks;
        const std::string list = Payload(Command(Recv(port, "chunks")));
        size_t pos = 0;
        while (pos < list.size()) {
            size_t end = list.find(' ', pos);
            if (end == std::string::npos) end = list.size();
            const std::string item = list.substr(pos, end - pos);
            const size_t colon = item.find(':');
            if (colon != std::string::npos)
                chunks.push_back(
                    {std::atoll(item.substr(0, colon).c_str()), Decode(item.substr(colon + 1))});
            pos = end + 1;
        }
        return chunks;
    }

    // Sends bytes from the controller on port n to the program.
    bool SendToProgram(int port, const std::string& bytes) {
        return Ok("send " + std::to_string(port) + " " + Encode(bytes));
    }

private:
    static std::string Recv(int port, const char* verb) {
        return std::string(verb) + " " + std::to_string(port);
    }
    static std::string Payload(const std::string& reply) {
        return reply.rfind("ok ", 0) == 0 ? reply.substr(3) : "";
    }
    static std::string Encode(const std::string& bytes) {
        static const char kDigits[] = "0123456789abcdef";
        std::string hex;
        for (unsigned char c : bytes) {
            hex += kDigits[c >> 4];
            hex += kDigits[c & 0xf];
        }
        return hex;
    }
    static std::string Decode(const std::string& hex) {
        std::string bytes;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            bytes += static_cast<char>(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16));
        return bytes;
    }

    SOCKET socket_ = INVALID_SOCKET;
};

// Printable form of bytes for failure messages: CR as \r, LF as \n.
inline std::string Visible(const std::string& bytes) {
    std::string text;
    for (char c : bytes) {
        if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else
            text += c;
    }
    return text;
}

// The operator window on COM1, with a controller that answers nothing by itself. The poll
// timer is stopped so that only what a test does reaches the controller; tests of the timer
// call OnTimer or start it again.
class RotatorWindowTest : public ::testing::Test {
protected:
    static constexpr int kPort = 1;
    static constexpr DWORD kWaitMs = 3000;

    void SetUp() override {
        // Without a simulated port the window would end the process at start-up.
        ASSERT_TRUE(sim_.Connected()) << "KELMA_SIM_CONTROL names no running simulator";
        ASSERT_TRUE(sim_.Ok("ports 1"));
        ASSERT_TRUE(sim_.Ok("auto 1 off"));
        dialog_ = testing_support::OpenRotatorDialog(kPort);
        ASSERT_NE(dialog_, nullptr);
        KillTimer(hwnd(), ID_POLL_TIMER);
        testing_support::PumpMessages(100);
        ASSERT_TRUE(sim_.Ok("clear 1"));
    }

    void TearDown() override { dialog_.reset(); }

    HWND hwnd() const { return dialog_->m_hWnd; }
    std::string Text(int id) const { return testing_support::ItemText(hwnd(), id); }
    void SetText(int id, const std::string& text) { SetDlgItemTextA(hwnd(), id, text.c_str()); }
    void Click(int id) { testing_support::ClickButton(hwnd(), id); }

    void SetManual(bool on) {
        const bool checked = IsDlgButtonChecked(hwnd(), IDC_MANUAL) == BST_CHECKED;
        if (checked != on) Click(IDC_MANUAL);
    }

    // One tick of the poll timer, through the window's message table.
    void Tick() { SendMessageA(hwnd(), WM_TIMER, ID_POLL_TIMER, 0); }

    // Waits until the controller has received at least `size` bytes; returns all of them.
    std::string ReceivedAtLeast(size_t size) {
        std::string received;
        testing_support::PumpUntil(
            [&] {
                received = sim_.Received(kPort);
                return received.size() >= size;
            },
            kWaitMs);
        return received;
    }

    // Lets everything in flight arrive, then returns what the controller received.
    std::string ReceivedAfterQuiet(DWORD ms = 300) {
        testing_support::PumpMessages(ms);
        return sim_.Received(kPort);
    }

    // Puts bytes into the receive ring as the receive worker does and notifies the window.
    void Deliver(const std::string& bytes) {
        CRotatorDlg& d = *dialog_;
        EnterCriticalSection(&g_csRxRing);
        for (char c : bytes) {
            *d.m_pRxWrite = c;
            d.m_pRxWrite =
                d.m_pRxWrite + 1 == d.m_rxRing + kRxRingSize ? d.m_rxRing : d.m_pRxWrite + 1;
        }
        LeaveCriticalSection(&g_csRxRing);
        SendMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(ID_SERIAL_DATA, 0), 0);
    }

    SimAccess sim_;
    std::unique_ptr<CRotatorDlg> dialog_;
};

}  // namespace rotator_tests
