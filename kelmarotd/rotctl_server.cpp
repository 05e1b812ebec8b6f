#include "kelmarotd/rotctl_server.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <utility>
#include <vector>

#include "kelmarotd/listen_address.h"

namespace kelmarotd {
namespace {

constexpr size_t kMaxClients = 32;  // more are refused: select() on Windows has a cap
constexpr size_t kReceiveChunk = 4096;

// Bytes as text for the traffic log: control characters and non-ASCII escaped.
std::string Printable(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (u < 0x20 || u >= 0x7f || c == '\\') {
            char hex[8];
            snprintf(hex, sizeof(hex), "\\x%02x", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::string ClientName(ClientId id) {
    return "client " + std::to_string(id);
}

}  // namespace

ServerLog::ServerLog(std::string program, bool verbose)
    : program_(std::move(program)), verbose_(verbose) {}

void ServerLog::Event(const std::string& text) const {
    fprintf(stderr, "%s: %s\n", program_.c_str(), text.c_str());
}

void ServerLog::Traffic(const std::string& who, std::string_view bytes) const {
    if (verbose_) Event(who + " " + Printable(bytes));
}

RotctlServer::RotctlServer(ServedBackend* backend, const ServerLog* log)
    : backend_(backend),
      log_(log),
      front_(backend,
             [log](const std::string& who, std::string_view text) { log->Traffic(who, text); }) {}

void RotctlServer::Deliver(ClientId client, const std::string& answer) {
    front_.Deliver(client, answer);
}

void RotctlServer::AcceptClients(platform::Handle listener) {
    for (;;) {
        const platform::Handle socket = platform::Accept(listener);
        if (socket == platform::kNoHandle) return;
        if (sockets_.size() >= kMaxClients) {
            log_->Event("too many clients; one refused");
            platform::CloseSocket(socket);
            continue;
        }
        const ClientId id = front_.Connect();
        sockets_[id] = socket;
        log_->Traffic(ClientName(id), "connected");
    }
}

void RotctlServer::ReadClient(ClientId id, platform::Handle socket) {
    char buffer[kReceiveChunk];
    const long n = platform::Receive(socket, buffer, sizeof(buffer));
    if (n > 0) {
        front_.Receive(id, std::string_view(buffer, static_cast<size_t>(n)));
    } else if (n == 0 || n == platform::kFailed) {
        front_.PeerClosed(id);
    }
}

// Takes each client's lines, sends what its answers hold and closes the clients that are done.
void RotctlServer::ServeClients(Millis now) {
    for (auto it = sockets_.begin(); it != sockets_.end();) {
        const ClientId id = it->first;
        front_.TakeLines(id, now);
        bool failed = false;
        const std::string_view output = front_.Output(id);
        if (!output.empty()) {
            const long n = platform::Send(it->second, output.data(), output.size());
            if (n > 0) front_.Sent(id, static_cast<size_t>(n));
            failed = n == platform::kFailed;
        }
        const RotctlFront::Ending ending = front_.EndingOf(id);
        if (!failed && ending == RotctlFront::Ending::kNone) {
            ++it;
            continue;
        }
        if (ending == RotctlFront::Ending::kNotReading) {
            log_->Event(ClientName(id) + " does not read its answers; closed");
        } else {
            log_->Traffic(ClientName(id), "gone");
        }
        front_.Disconnect(id);
        platform::CloseSocket(it->second);
        it = sockets_.erase(it);
    }
}

int RotctlServer::Timeout(Millis now) const {
    const std::optional<Millis> next = backend_->NextDeadline();
    if (!next) return -1;
    return static_cast<int>(std::clamp<Millis>(*next - now, 0, INT_MAX));
}

bool RotctlServer::ListenAll(const std::vector<std::string>& addresses, uint16_t port,
                             std::string* error) {
    port_ = port;
    for (const std::string& address : addresses) {
        const platform::Handle listener = platform::Listen(address, port_, &port_, error);
        if (listener == platform::kNoHandle) {
            *error = "cannot listen on " + *error;
            return false;
        }
        listeners_.push_back(listener);
        log_->Event("listening on " + address + " port " + std::to_string(port_));
        if (const auto warning = ExposureWarning(address)) log_->Event(*warning);
    }
    return true;
}

int RotctlServer::Run(const std::vector<std::string>& addresses, uint16_t port,
                      const std::function<void(uint16_t)>& listening) {
    std::string error;
    if (!platform::Startup(&error) || !platform::InstallStopHandler(&error) ||
        !ListenAll(addresses, port, &error)) {
        log_->Event(error);
        CloseAll();
        return 1;
    }
    if (listening) listening(port_);
    std::vector<platform::Watch> watches;
    while (!platform::StopRequested()) {
        Millis now = platform::NowMs();
        backend_->Advance(now);
        ServeClients(now);

        const platform::Handle backendHandle = backend_->ReadHandle();
        watches.clear();
        for (const platform::Handle listener : listeners_)
            watches.push_back(platform::Watch{listener, true});
        if (backendHandle != platform::kNoHandle) {
            watches.push_back(platform::Watch{backendHandle, true});
        }
        for (const auto& [id, socket] : sockets_) {
            watches.push_back(
                platform::Watch{socket, front_.WantsInput(id), !front_.Output(id).empty()});
        }
        platform::Wait(&watches, Timeout(now));

        now = platform::NowMs();
        size_t next = 0;
        for (const platform::Handle listener : listeners_) {
            if (watches[next++].readable) AcceptClients(listener);
        }
        if (backendHandle != platform::kNoHandle && watches[next++].readable) {
            backend_->OnReadable(now);
        }
        for (const auto& [id, socket] : sockets_) {
            // Clients accepted during this round have no watch yet.
            if (next >= watches.size() || watches[next].handle != socket) break;
            if (watches[next++].readable) ReadClient(id, socket);
        }
    }
    log_->Event("stopping");
    CloseAll();
    return 0;
}

void RotctlServer::CloseAll() {
    for (const auto& [id, socket] : sockets_) {
        front_.Disconnect(id);
        platform::CloseSocket(socket);
    }
    sockets_.clear();
    for (const platform::Handle listener : listeners_) platform::CloseSocket(listener);
    listeners_.clear();
}

}  // namespace kelmarotd
