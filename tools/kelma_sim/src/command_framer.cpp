#include "command_framer.h"

#include <cctype>
#include <cstdlib>

namespace kelma {

namespace {

bool IsAxisLine(const std::string& line) {
    return line == "A" || line == "E";
}

}  // namespace

std::optional<double> ParseAngleArgument(std::string_view text) {
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) i++;
    const size_t digitsStart = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) i++;
    if (i == digitsStart) return std::nullopt;
    if (i < text.size() && text[i] == '.') {
        const size_t fractionStart = ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) i++;
        if (i == fractionStart) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    return std::strtod(std::string(text).c_str(), nullptr);
}

std::vector<ControllerCommand> CommandFramer::Feed(std::string_view bytes, int64_t nowMicros) {
    std::vector<ControllerCommand> out;
    if (bytes.empty()) return out;
    // A poll whose quiet time ran out before these bytes came stays a poll.
    if (auto poll = Expire(nowMicros)) out.push_back(*poll);
    lastByteMicros_ = nowMicros;
    for (char c : bytes) {
        if (c == '\r' || c == '\n') {
            EndLine(out);
        } else if (line_.size() < kMaxLine) {
            line_ += c;
        } else {
            lineTooLong_ = true;
        }
    }
    return out;
}

void CommandFramer::EndLine(std::vector<ControllerCommand>& out) {
    std::string line;
    line.swap(line_);
    const bool tooLong = lineTooLong_;
    lineTooLong_ = false;
    if (line.empty() && !tooLong) return;
    if (!tooLong && IsAxisLine(line)) {
        if (pendingAxis_) out.push_back({ControllerCommand::Kind::Poll, *pendingAxis_});
        pendingAxis_ = line[0];
        return;
    }
    if (!pendingAxis_) return;  // stray argument line
    const char axis = *pendingAxis_;
    pendingAxis_.reset();
    if (tooLong) return;
    if (line == "S") {
        out.push_back({ControllerCommand::Kind::Stop, axis});
    } else if (auto angle = ParseAngleArgument(line)) {
        out.push_back({ControllerCommand::Kind::Goto, axis, *angle});
    }
}

std::optional<ControllerCommand> CommandFramer::Expire(int64_t nowMicros) {
    if (!pendingAxis_ || nowMicros - lastByteMicros_ < quietMicros_) return std::nullopt;
    ControllerCommand poll{ControllerCommand::Kind::Poll, *pendingAxis_};
    pendingAxis_.reset();
    return poll;
}

std::optional<int64_t> CommandFramer::Deadline() const {
    if (!pendingAxis_) return std::nullopt;
    return lastByteMicros_ + quietMicros_;
}

}  // namespace kelma
