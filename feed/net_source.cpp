#include "feed/net_source.h"

#include <optional>
#include <utility>

#include "feed/net_rotator.h"
#include "kelmarotd/rotctl_server.h"

namespace kelmafeed {

NetSource::NetSource(std::vector<std::string> addresses, uint16_t port, HWND notify)
    : m_addresses(std::move(addresses)),
      m_port(port),
      m_notify(notify),
      m_ready(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

NetSource::~NetSource() {
    // The server may still wait in select() for a stop that never comes: the process's end
    // ends it. Serve touches no member once it has posted kEndedMessage.
    if (m_thread != nullptr) CloseHandle(m_thread);
    CloseHandle(m_ready);
}

bool NetSource::Start() {
    if (m_ready == nullptr) return false;
    m_thread = CreateThread(nullptr, 0, Serve, this, 0, nullptr);
    if (m_thread == nullptr) return false;
    // A quit asked for meanwhile (Ctrl-C before the server's own handler) is kept for the loop.
    std::optional<WPARAM> quit;
    while (MsgWaitForMultipleObjects(1, &m_ready, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = msg.wParam;
            } else {
                DispatchMessageA(&msg);
            }
        }
    }
    if (quit) PostQuitMessage(static_cast<int>(*quit));
    return m_boundPort != 0;
}

std::string NetSource::Name() const {
    std::string name = "network ";
    for (size_t i = 0; i < m_addresses.size(); ++i) name += (i > 0 ? ", " : "") + m_addresses[i];
    return name + " port " + std::to_string(m_boundPort.load());
}

DWORD WINAPI NetSource::Serve(LPVOID parameter) {
    auto* self = static_cast<NetSource*>(parameter);
    const HWND notify = self->m_notify;
    const kelmarotd::ServerLog log("kelmafeed", false);
    kelmarotd::RotctlServer* server = nullptr;  // the backend answers through it once it exists
    NetRotator backend(
        kelmarotd::StationSettings{},
        [&server](kelmarotd::ClientId client, const std::string& answer) {
            server->Deliver(client, answer);
        },
        [notify](rotator::Position position) {
            PostMessageA(notify, kPositionMessage, static_cast<WPARAM>(position.azimuth),
                         static_cast<LPARAM>(position.elevation));
        },
        [notify](size_t clients) { PostMessageA(notify, kClientsMessage, clients, 0); });
    kelmarotd::RotctlServer rotctl(&backend, &log);
    server = &rotctl;
    const int status = rotctl.Run(self->m_addresses, self->m_port, [self](uint16_t port) {
        self->m_boundPort = port;
        SetEvent(self->m_ready);
    });
    SetEvent(self->m_ready);  // a server that never listened ends the wait too
    PostMessageA(notify, kEndedMessage, static_cast<WPARAM>(status), 0);
    return 0;
}

}  // namespace kelmafeed
