// The relay's network source on a thread of its own: the shared rotctld-protocol server, whose
// select() cannot wait for window messages, with NetRotator as its backend. Positions and the
// number of commanding clients reach the relay's thread as messages to its control window. The
// server's console handler takes Ctrl-C, Ctrl-Break and closing the console; when the server
// ends, the relay ends with it (kEndedMessage).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace kelmafeed {

class NetSource {
public:
    static constexpr UINT kPositionMessage = WM_APP + 1;  // wParam azimuth, lParam elevation
    static constexpr UINT kClientsMessage = WM_APP + 2;   // wParam how many are commanding
    static constexpr UINT kEndedMessage = WM_APP + 3;     // wParam the server's exit status

    // notify: the relay's control window.
    NetSource(std::vector<std::string> addresses, uint16_t port, HWND notify);
    ~NetSource();
    NetSource(const NetSource&) = delete;
    NetSource& operator=(const NetSource&) = delete;

    // Starts the server and waits, letting the thread's messages through, until it listens;
    // false when it could not (the server has said why on stderr).
    bool Start();
    // "network 127.0.0.1 port 4533", every address, with the port taken.
    std::string Name() const;

private:
    static DWORD WINAPI Serve(LPVOID self);

    const std::vector<std::string> m_addresses;
    const uint16_t m_port;
    const HWND m_notify;
    HANDLE m_ready;
    HANDLE m_thread = nullptr;
    std::atomic<uint16_t> m_boundPort{0};
};

}  // namespace kelmafeed
