#include "kelmarotd/rotctl_front.h"

#include <utility>

namespace kelmarotd {

RotctlFront::RotctlFront(RotatorBackend* backend, TrafficSink traffic)
    : backend_(backend), traffic_(std::move(traffic)) {}

ClientId RotctlFront::Connect() {
    const ClientId id = nextId_++;
    sessions_[id];
    return id;
}

void RotctlFront::Disconnect(ClientId client) {
    if (sessions_.erase(client) > 0) backend_->ForgetClient(client);
}

void RotctlFront::Receive(ClientId client, std::string_view bytes) {
    const auto it = sessions_.find(client);
    if (it != sessions_.end()) it->second.unread.append(bytes);
}

void RotctlFront::PeerClosed(ClientId client) {
    const auto it = sessions_.find(client);
    if (it != sessions_.end()) it->second.peerClosed = true;
}

void RotctlFront::Deliver(ClientId client, const std::string& answer) {
    const auto it = sessions_.find(client);
    if (it == sessions_.end()) return;
    it->second.waiting = false;
    Answer(client, it->second, answer);
}

void RotctlFront::TakeLines(ClientId client, Millis now) {
    const auto it = sessions_.find(client);
    if (it == sessions_.end()) return;
    Session& s = it->second;
    while (!s.waiting && !s.quitting && s.output.size() <= kMaxQueuedAnswerBytes &&
           !s.unread.empty()) {
        s.unread.erase(0, s.reader.Feed(s.unread));
        if (const auto line = s.reader.TakeLine()) Take(client, s, *line, now);
    }
}

void RotctlFront::Take(ClientId id, Session& session, const LineReader::Line& line, Millis now) {
    if (traffic_) traffic_(Who(id, ">"), line.overlong ? "(overlong line)" : line.text);
    const Request request = line.overlong ? Request{} : ParseRequest(line.text);
    switch (request.command) {
        case Command::kSetPosition:
        case Command::kGetPosition:
        case Command::kStop:
        case Command::kPark:
            // Set first: the backend may answer before Submit returns.
            session.waiting = true;
            backend_->Submit(id, request, now);
            return;
        case Command::kGetInfo:
            Answer(id, session,
                   FormatReply(request, Reply{Status::kOk, {{"Info", backend_->Info(), ""}}}));
            return;
        case Command::kDumpState:
            Answer(id, session, FormatReply(request, DumpStateReply(backend_->AngleLimits())));
            return;
        case Command::kQuit:
            session.quitting = true;
            return;
        case Command::kBlank:
            return;
        case Command::kNotAvailable:
            Answer(id, session, FormatReply(request, Reply{Status::kNotAvailable, {}}));
            return;
        case Command::kInvalid:
            Answer(id, session, FormatReply(request, Reply{Status::kInvalidArgument, {}}));
            return;
    }
}

void RotctlFront::Answer(ClientId id, Session& session, const std::string& text) {
    if (traffic_) traffic_(Who(id, "<"), text);
    session.output += text;
}

std::string RotctlFront::Who(ClientId id, const char* direction) const {
    return "client " + std::to_string(id) + " " + direction;
}

std::string_view RotctlFront::Output(ClientId client) const {
    const auto it = sessions_.find(client);
    return it == sessions_.end() ? std::string_view() : std::string_view(it->second.output);
}

void RotctlFront::Sent(ClientId client, size_t count) {
    const auto it = sessions_.find(client);
    if (it != sessions_.end()) it->second.output.erase(0, count);
}

bool RotctlFront::WantsInput(ClientId client) const {
    const auto it = sessions_.find(client);
    if (it == sessions_.end()) return false;
    const Session& s = it->second;
    return s.unread.empty() && !s.peerClosed && !s.quitting;
}

RotctlFront::Ending RotctlFront::EndingOf(ClientId client) const {
    const auto it = sessions_.find(client);
    if (it == sessions_.end()) return Ending::kGone;
    const Session& s = it->second;
    if (s.output.size() > kMaxQueuedAnswerBytes) return Ending::kNotReading;
    if (!s.output.empty()) return Ending::kNone;
    if (s.quitting) return Ending::kQuit;
    if (s.peerClosed && s.unread.empty() && !s.waiting) return Ending::kGone;
    return Ending::kNone;
}

}  // namespace kelmarotd
