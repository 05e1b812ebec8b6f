// kelmatrack's conversation with a rotctld-protocol server (kelmarotd, Hamlib's rotctld): on
// connecting it asks for \dump_state to learn the rotator's limits, then sends each new position
// as "P AZ EL" and waits for its "RPRT" before the next, so that only the latest position is ever
// queued. An answer that does not come within kAnswerWaitMs, or one that makes no sense, ends
// the connection; the shell then connects again. Plain C++: the shell passes in the clock and
// the lines received and sends what Take hands out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plan/plan.h"
#include "rotator/position.h"

namespace kelmatrack {

constexpr int64_t kAnswerWaitMs = 5000;
// An answer to \dump_state longer than this is not one.
constexpr int kMaxDumpStateLines = 64;

// The answer to \dump_state, one line at a time. Protocol 1 (Hamlib 4.5.4's rotctld, from
// tests/rotctl_parse.c): the version, the model, then "key=value" lines up to "done";
// protocol 0 (older Hamlib releases, the same file): the version, the model and the four
// limits as plain numbers. kelmarotd sends the four plain numbers before the protocol 1 lines.
class DumpStateReader {
public:
    enum class Progress { kMore, kDone, kInvalid };

    Progress Feed(std::string_view line);
    // Once done.
    const plan::RotatorLimits& Limits() const { return limits_; }
    // Once invalid: why.
    const std::string& Error() const { return error_; }

private:
    Progress Fail(const std::string& why);
    Progress Finish();

    int lines_ = 0;
    int version_ = -1;
    std::vector<double> plain_;  // the plain numbers after the model
    std::optional<double> keyed_[4];
    plan::RotatorLimits limits_;
    std::string error_;
};

// "P 182 36\n".
std::string SetPositionLine(const rotator::Position& position);

class RotatorLink {
public:
    struct Outcome {
        bool limitsLearned = false;             // Limits() holds the server's limits
        std::optional<rotator::Position> set;   // the server took this position
        std::optional<rotator::Position> sent;  // the position waiting went out after this line
        std::string refused;                    // the server refused a position: why ("RPRT -1")
        std::string failure;                    // the connection is no good: why; the shell ends it
    };

    // A new connection: the dump_state request goes out first.
    void Start(int64_t nowMs);
    // One line the server sent, without its line end.
    Outcome OnLine(std::string_view line, int64_t nowMs);
    // The position to command; it goes out once the server has answered what came before (a
    // newer one takes the place of one still waiting). Returns it when it goes out at once.
    std::optional<rotator::Position> Command(const rotator::Position& position, int64_t nowMs);
    // A failure when an answer is overdue.
    std::optional<std::string> CheckTimeout(int64_t nowMs) const;
    // The bytes to send now.
    std::string Take() { return std::exchange(outgoing_, std::string()); }

    bool Ready() const { return state_ == State::kReady || state_ == State::kAwaitingSet; }
    const plan::RotatorLimits& Limits() const { return dumpState_.Limits(); }

private:
    enum class State { kIdle, kAwaitingDumpState, kReady, kAwaitingSet };

    std::optional<rotator::Position> SendPending(int64_t nowMs);

    State state_ = State::kIdle;
    DumpStateReader dumpState_;
    std::optional<rotator::Position> pending_;
    rotator::Position inFlight_{0, 0};
    int64_t askedAtMs_ = 0;
    std::string outgoing_;
};

}  // namespace kelmatrack
