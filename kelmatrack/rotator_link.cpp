#include "kelmatrack/rotator_link.h"

#include "kelmarotd/rotctl_text.h"

namespace kelmatrack {
namespace {

constexpr char kDumpStateRequest[] = "\\dump_state\n";
constexpr char kSetAccepted[] = "RPRT 0";
constexpr std::string_view kReportPrefix = "RPRT ";
constexpr const char* kLimitKeys[] = {"min_az", "max_az", "min_el", "max_el"};
constexpr size_t kLimitCount = 4;

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    return text;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

DumpStateReader::Progress DumpStateReader::Fail(const std::string& why) {
    error_ = why;
    return Progress::kInvalid;
}

DumpStateReader::Progress DumpStateReader::Feed(std::string_view line) {
    line = Trimmed(line);
    if (++lines_ > kMaxDumpStateLines)
        return Fail("no end after " + std::to_string(lines_) + " lines");
    if (StartsWith(line, kReportPrefix)) return Fail("the server answered " + std::string(line));
    if (lines_ == 1) {
        const auto version = kelmarotd::ParseNumber(std::string(line));
        if (!version || *version < 0 || *version != static_cast<int>(*version))
            return Fail("no protocol version in \"" + std::string(line) + "\"");
        version_ = static_cast<int>(*version);
        return Progress::kMore;
    }
    if (lines_ == 2) return Progress::kMore;  // the rotator's model number
    if (version_ >= 1 && line == "done") return Finish();
    const size_t equals = line.find('=');
    if (equals != std::string_view::npos) {
        for (size_t i = 0; i < kLimitCount; ++i) {
            if (line.substr(0, equals) != kLimitKeys[i]) continue;
            keyed_[i] = kelmarotd::ParseNumber(std::string(line.substr(equals + 1)));
            if (!keyed_[i]) return Fail("no number in \"" + std::string(line) + "\"");
        }
        return Progress::kMore;
    }
    const auto number = kelmarotd::ParseNumber(std::string(line));
    if (number && plain_.size() < kLimitCount) plain_.push_back(*number);
    if (version_ == 0 && plain_.size() == kLimitCount) return Finish();
    return Progress::kMore;
}

DumpStateReader::Progress DumpStateReader::Finish() {
    double values[kLimitCount];
    for (size_t i = 0; i < kLimitCount; ++i) {
        if (keyed_[i]) {
            values[i] = *keyed_[i];
        } else if (plain_.size() == kLimitCount) {
            values[i] = plain_[i];
        } else {
            return Fail(std::string("no ") + kLimitKeys[i]);
        }
    }
    limits_ = {values[0], values[1], values[2], values[3]};
    if (limits_.min_azimuth_deg >= limits_.max_azimuth_deg ||
        limits_.min_elevation_deg >= limits_.max_elevation_deg)
        return Fail("a lower limit is not below its upper limit");
    return Progress::kDone;
}

std::string SetPositionLine(const rotator::Position& position) {
    return "P " + std::to_string(position.azimuth) + " " + std::to_string(position.elevation) +
           "\n";
}

void RotatorLink::Start(int64_t nowMs) {
    state_ = State::kAwaitingDumpState;
    dumpState_ = DumpStateReader();
    outgoing_ = kDumpStateRequest;
    askedAtMs_ = nowMs;
}

RotatorLink::Outcome RotatorLink::OnLine(std::string_view line, int64_t nowMs) {
    Outcome outcome;
    switch (state_) {
        case State::kAwaitingDumpState:
            switch (dumpState_.Feed(line)) {
                case DumpStateReader::Progress::kMore:
                    break;
                case DumpStateReader::Progress::kDone:
                    state_ = State::kReady;
                    outcome.limitsLearned = true;
                    outcome.sent = SendPending(nowMs);
                    break;
                case DumpStateReader::Progress::kInvalid:
                    state_ = State::kIdle;
                    outcome.failure = "its \\dump_state answer: " + dumpState_.Error();
                    break;
            }
            break;
        case State::kAwaitingSet:
            line = Trimmed(line);
            if (line == kSetAccepted) {
                outcome.set = inFlight_;
            } else if (StartsWith(line, kReportPrefix)) {
                outcome.refused = std::string(line);
            } else {
                state_ = State::kIdle;
                outcome.failure = "\"" + std::string(line) + "\" in answer to a position";
                break;
            }
            state_ = State::kReady;
            outcome.sent = SendPending(nowMs);
            break;
        case State::kIdle:
        case State::kReady:
            state_ = State::kIdle;
            outcome.failure = "\"" + std::string(line) + "\" unasked";
            break;
    }
    return outcome;
}

std::optional<rotator::Position> RotatorLink::Command(const rotator::Position& position,
                                                      int64_t nowMs) {
    pending_ = position;
    return state_ == State::kReady ? SendPending(nowMs) : std::nullopt;
}

std::optional<std::string> RotatorLink::CheckTimeout(int64_t nowMs) const {
    const bool waiting = state_ == State::kAwaitingDumpState || state_ == State::kAwaitingSet;
    if (!waiting || nowMs - askedAtMs_ <= kAnswerWaitMs) return std::nullopt;
    return "no answer within " + std::to_string(kAnswerWaitMs / 1000) + " s";
}

std::optional<rotator::Position> RotatorLink::SendPending(int64_t nowMs) {
    if (!pending_) return std::nullopt;
    inFlight_ = *pending_;
    pending_.reset();
    outgoing_ += SetPositionLine(inFlight_);
    state_ = State::kAwaitingSet;
    askedAtMs_ = nowMs;
    return inFlight_;
}

}  // namespace kelmatrack
