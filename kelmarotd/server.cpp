#include "kelmarotd/server.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "kelmarotd/platform.h"
#include "kelmarotd/station.h"

namespace kelmarotd {
namespace {

constexpr Millis kReopenIntervalMs = 1000;  // how often a missing controller port is retried
constexpr size_t kMaxClients = 32;          // more are refused: select() on Windows has a cap
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

class Log {
public:
    explicit Log(bool verbose) : verbose_(verbose) {}
    void Event(const std::string& text) const { fprintf(stderr, "kelmarotd: %s\n", text.c_str()); }
    void Traffic(const std::string& who, std::string_view bytes) const {
        if (verbose_) Event(who + " " + Printable(bytes));
    }

private:
    bool verbose_;
};

// The station's view of the serial port, logging what is written.
class LoggedPort : public ControllerPort {
public:
    LoggedPort(platform::SerialPort* port, const Log* log) : port_(port), log_(log) {}
    bool IsOpen() const override { return port_->IsOpen(); }
    bool Write(std::string_view bytes) override {
        log_->Traffic("controller <", bytes);
        return port_->Write(bytes);
    }

private:
    platform::SerialPort* port_;
    const Log* log_;
};

struct Client {
    platform::Handle socket = platform::kNoHandle;
    LineReader reader;
    std::string unread;  // received, not yet taken into a line
    std::string output;  // answers not yet sent
    bool peerClosed = false;
    bool quitting = false;  // sent q: closes once its answers are out
};

class Server {
public:
    explicit Server(const Options& options)
        : options_(options),
          log_(options.verbose),
          serial_(platform::MakeSerialPort()),
          port_(serial_.get(), &log_),
          station_(options.station, &port_,
                   [this](ClientId id, const std::string& text) { Answer(id, text); }) {}

    int Run();

private:
    void Answer(ClientId id, const std::string& text);
    void ReopenIfDue(Millis now);
    void NoticePortLoss(Millis now);
    void TakeLines(ClientId id, Client& client, Millis now);
    void AcceptClients();
    void ReadController(Millis now);
    void ReadClient(Client& client);
    void FlushAndReap(Millis now);
    bool IsFinished(ClientId id, const Client& client) const;
    int Timeout(Millis now) const;
    void CloseAll();

    Options options_;
    Log log_;
    std::unique_ptr<platform::SerialPort> serial_;
    LoggedPort port_;
    Station station_;
    platform::Handle listener_ = platform::kNoHandle;
    std::map<ClientId, Client> clients_;
    ClientId nextId_ = 1;
    bool portOpen_ = false;
    Millis nextReopenAt_ = 0;
};

void Server::Answer(ClientId id, const std::string& text) {
    const auto it = clients_.find(id);
    if (it == clients_.end()) return;
    log_.Traffic("client " + std::to_string(id) + " <", text);
    it->second.output += text;
}

void Server::ReopenIfDue(Millis now) {
    if (serial_->IsOpen() || now < nextReopenAt_) return;
    std::string error;
    if (!serial_->Open(options_.device, &error)) {
        // Said once per loss, not at every retry.
        if (nextReopenAt_ == 0 || portOpen_) log_.Event("controller port: " + error);
        nextReopenAt_ = now + kReopenIntervalMs;
        return;
    }
    log_.Event("controller port " + options_.device + " open");
    portOpen_ = true;
    station_.OnPortOpened(now);
}

void Server::NoticePortLoss(Millis now) {
    if (!portOpen_ || serial_->IsOpen()) return;
    log_.Event("controller port " + options_.device + " lost; retrying every second");
    portOpen_ = false;
    nextReopenAt_ = now + kReopenIntervalMs;
    station_.OnPortLost(now);
}

// One line at a time per client: the next is read once the previous one is answered.
void Server::TakeLines(ClientId id, Client& client, Millis now) {
    while (!client.quitting && client.output.empty() && !station_.HasRequest(id) &&
           !client.unread.empty()) {
        client.unread.erase(0, client.reader.Feed(client.unread));
        auto line = client.reader.TakeLine();
        if (!line) break;
        log_.Traffic("client " + std::to_string(id) + " >",
                     line->overlong ? "(overlong line)" : line->text);
        const Request request = line->overlong ? Request{} : ParseRequest(line->text);
        if (request.command == Command::kQuit) {
            client.quitting = true;
        } else {
            station_.Submit(id, request, now);
        }
    }
}

void Server::AcceptClients() {
    for (;;) {
        const platform::Handle socket = platform::Accept(listener_);
        if (socket == platform::kNoHandle) return;
        if (clients_.size() >= kMaxClients) {
            log_.Event("too many clients; one refused");
            platform::CloseSocket(socket);
            continue;
        }
        const ClientId id = nextId_++;
        clients_[id].socket = socket;
        log_.Traffic("client " + std::to_string(id), "connected");
    }
}

void Server::ReadController(Millis now) {
    char buffer[256];
    const long n = serial_->Read(buffer, sizeof(buffer));
    if (n == platform::kWouldBlock) return;
    if (n <= 0) {
        serial_->Close();
        NoticePortLoss(now);
        return;
    }
    const std::string_view bytes(buffer, static_cast<size_t>(n));
    log_.Traffic("controller >", bytes);
    station_.OnControllerBytes(bytes, now);
}

void Server::ReadClient(Client& client) {
    char buffer[kReceiveChunk];
    const long n = platform::Receive(client.socket, buffer, sizeof(buffer));
    if (n > 0) {
        client.unread.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || n == platform::kFailed) {
        client.peerClosed = true;
    }
}

bool Server::IsFinished(ClientId id, const Client& client) const {
    if (!client.output.empty()) return false;
    if (client.quitting) return true;
    return client.peerClosed && client.unread.empty() && !station_.HasRequest(id);
}

void Server::FlushAndReap(Millis now) {
    for (auto it = clients_.begin(); it != clients_.end();) {
        Client& client = it->second;
        TakeLines(it->first, client, now);
        bool failed = false;
        if (!client.output.empty()) {
            const long n =
                platform::Send(client.socket, client.output.data(), client.output.size());
            if (n > 0) client.output.erase(0, static_cast<size_t>(n));
            failed = n == platform::kFailed;
        }
        if (failed || IsFinished(it->first, client)) {
            log_.Traffic("client " + std::to_string(it->first), "gone");
            station_.ForgetClient(it->first);
            platform::CloseSocket(client.socket);
            it = clients_.erase(it);
        } else {
            ++it;
        }
    }
}

int Server::Timeout(Millis now) const {
    std::optional<Millis> next = station_.NextDeadline();
    if (!serial_->IsOpen()) next = next ? std::min(*next, nextReopenAt_) : nextReopenAt_;
    if (!next) return -1;
    return static_cast<int>(std::clamp<Millis>(*next - now, 0, kReopenIntervalMs));
}

int Server::Run() {
    std::string error;
    uint16_t boundPort = 0;
    if (!platform::Startup(&error) || !platform::InstallStopHandler(&error) ||
        (listener_ = platform::Listen(options_.address, options_.port, &boundPort, &error)) ==
            platform::kNoHandle) {
        log_.Event(error);
        return 1;
    }
    log_.Event("listening on " + options_.address + " port " + std::to_string(boundPort));
    std::vector<platform::Watch> watches;
    while (!platform::StopRequested()) {
        Millis now = platform::NowMs();
        ReopenIfDue(now);
        station_.Advance(now);
        NoticePortLoss(now);
        FlushAndReap(now);

        watches.assign(1, platform::Watch{listener_, true});
        if (serial_->IsOpen()) watches.push_back(platform::Watch{serial_->ReadHandle(), true});
        for (const auto& [id, client] : clients_) {
            const bool wantRead = client.unread.empty() && !client.peerClosed;
            watches.push_back(platform::Watch{client.socket, wantRead, !client.output.empty()});
        }
        platform::Wait(&watches, Timeout(now));

        now = platform::NowMs();
        if (watches[0].readable) AcceptClients();
        size_t next = 1;
        if (serial_->IsOpen() && watches[next++].readable) ReadController(now);
        for (auto& [id, client] : clients_) {
            // Clients accepted during this round have no watch yet.
            if (next >= watches.size() || watches[next].handle != client.socket) break;
            if (watches[next++].readable) ReadClient(client);
        }
    }
    log_.Event("stopping");
    CloseAll();
    return 0;
}

void Server::CloseAll() {
    for (auto& [id, client] : clients_) platform::CloseSocket(client.socket);
    clients_.clear();
    platform::CloseSocket(listener_);
    serial_->Close();
}

}  // namespace

int RunServer(const Options& options) {
    Server server(options);
    return server.Run();
}

}  // namespace kelmarotd
