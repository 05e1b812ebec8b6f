#include "kelmarotd/station.h"

#include <algorithm>
#include <climits>

#include "rotator/line_assembly.h"
#include "rotator/tracking_rule.h"

namespace kelmarotd {
namespace {

// Stands for "nothing commanded yet": no angle a client may ask for equals it.
constexpr int32_t kNothingCommanded = INT32_MIN;

rotator::Axis Other(rotator::Axis axis) {
    return axis == rotator::Axis::kAzimuth ? rotator::Axis::kElevation : rotator::Axis::kAzimuth;
}

}  // namespace

bool Station::IsFresh(const AxisReport& report, Millis now) {
    return report.seen && now - report.at <= kReportMaxAgeMs;
}

Station::Station(const StationSettings& settings, ControllerPort* port, AnswerSink answer)
    : settings_(settings), port_(port), answer_(std::move(answer)) {}

void Station::Submit(ClientId client, const Request& request, Millis now) {
    if (request.command == Command::kGetPosition) {
        GetPosition(client, request, now);
        return;
    }
    if (const auto refusal = Refusal(request)) {
        answer_(client, FormatReply(request, Reply{*refusal, {}}));
        return;
    }
    queue_.push_back(Pending{client, request, TargetOf(request)});
    Advance(now);
}

std::optional<Status> Station::Refusal(const Request& request) const {
    switch (request.command) {
        case Command::kSetPosition:
            if (!TargetOf(request)) return Status::kInvalidArgument;
            break;
        case Command::kPark:
        case Command::kStop:
            break;
        default:  // the server answers every other command itself
            return Status::kInvalidArgument;
    }
    if (!port_->IsOpen()) return Status::kIoError;
    return std::nullopt;
}

void Station::ForgetClient(ClientId client) {
    queue_.erase(
        std::remove_if(queue_.begin(), queue_.end(),
                       [client](const Pending& p) { return p.client == client && !p.accepted; }),
        queue_.end());
    positionWaits_.erase(
        std::remove_if(positionWaits_.begin(), positionWaits_.end(),
                       [client](const PositionWait& w) { return w.client == client; }),
        positionWaits_.end());
}

void Station::OnControllerBytes(std::string_view bytes, Millis now) {
    for (char c : bytes) {
        // A full ring holds a run without a line end longer than any report: junk, dropped.
        if ((ringWrite_ + 1) % kRingSize == ringRead_) ringRead_ = ringWrite_;
        ring_[ringWrite_] = c;
        ringWrite_ = (ringWrite_ + 1) % kRingSize;
    }
    for (;;) {
        const rotator::LineWalk walk =
            rotator::WalkOneLine(ring_, kRingSize, ringRead_, ringWrite_);
        if (!walk.complete) break;
        ringRead_ = walk.nextRead;
        const auto report = rotator::ParsePositionReport(std::string_view(walk.text, walk.length));
        if (!report) continue;
        AxisReport& stored =
            report->axis == rotator::Axis::kAzimuth ? azimuthReport_ : elevationReport_;
        stored = AxisReport{report->angle, now, true};
    }
    AnswerWaitingPositions(now);
}

void Station::OnPortOpened(Millis now) {
    lastAzimuth_.reset();
    lastElevation_.reset();
    ringRead_ = ringWrite_ = 0;
    nextPollAt_ = now;
}

void Station::OnPortLost(Millis) {
    lastAzimuth_.reset();
    lastElevation_.reset();
    settling_.reset();
    // The accepted commands can no longer reach the controller; the others are refused.
    const std::deque<Pending> lost = std::move(queue_);
    queue_.clear();
    headStarted_ = false;
    for (const Pending& p : lost) {
        if (!p.accepted) answer_(p.client, FormatReply(p.request, Reply{Status::kIoError, {}}));
    }
    FailWaitingPositions(Status::kIoError);
}

void Station::Advance(Millis now) {
    if (settling_ && now >= settling_->due) {
        const std::string command = settling_->elevationCommand;
        settling_.reset();
        if (WriteOrLose(command, now)) FinishHead();
    }
    AnswerWaitingPositions(now);
    AcceptCommands();
    while (!queue_.empty() && !headStarted_) {
        StartHead(now);
        AcceptCommands();
    }
    if (!settling_ && port_->IsOpen() && now >= nextPollAt_) Poll(now);
}

// In the queue's order, answers each command behind the head whose client has no other command
// waiting to start; the head is accepted as it starts.
void Station::AcceptCommands() {
    std::vector<ClientId> waiting;
    for (size_t i = 0; i < queue_.size(); ++i) {
        Pending& p = queue_[i];
        const bool head = i == 0;
        const bool clientWaits =
            std::find(waiting.begin(), waiting.end(), p.client) != waiting.end();
        if (!head && !p.accepted && !clientWaits) {
            p.accepted = true;
            answer_(p.client, FormatReply(p.request, Reply{}));
        }
        if (head ? !headStarted_ : p.accepted) waiting.push_back(p.client);
    }
}

void Station::AcceptHead() {
    Pending& head = queue_.front();
    if (head.accepted) return;
    head.accepted = true;
    answer_(head.client, FormatReply(head.request, Reply{}));
}

std::optional<Millis> Station::NextDeadline() const {
    std::optional<Millis> next;
    auto consider = [&next](Millis at) { next = next ? std::min(*next, at) : at; };
    if (settling_) consider(settling_->due);
    for (const PositionWait& w : positionWaits_) consider(w.deadline);
    if (port_->IsOpen() && !settling_) consider(nextPollAt_);
    return next;
}

std::optional<Millis> Station::LastReportAt() const {
    if (!azimuthReport_.seen && !elevationReport_.seen) return std::nullopt;
    return std::max(azimuthReport_.seen ? azimuthReport_.at : 0,
                    elevationReport_.seen ? elevationReport_.at : 0);
}

void Station::StartHead(Millis now) {
    headStarted_ = true;
    const std::optional<Target> target = queue_.front().target;
    if (target) {
        Move(*target, now);
    } else {
        Stop(now);
    }
}

void Station::FinishHead() {
    queue_.pop_front();
    headStarted_ = false;
}

std::optional<Station::Target> Station::TargetOf(const Request& request) const {
    if (request.command == Command::kPark)
        return Target{settings_.parkAzimuth, settings_.parkElevation};
    if (request.command != Command::kSetPosition) return std::nullopt;
    const Limits& l = settings_.limits;
    const auto azimuth = WholeDegrees(request.azimuth, l.minAzimuth, l.maxAzimuth);
    const auto elevation = WholeDegrees(request.elevation, l.minElevation, l.maxElevation);
    if (!azimuth || !elevation) return std::nullopt;
    return Target{*azimuth, *elevation};
}

void Station::Move(const Target& target, Millis now) {
    const rotator::TrackingDecision decision = rotator::DecideTracking(
        target.azimuth, target.elevation, lastAzimuth_.value_or(kNothingCommanded),
        lastElevation_.value_or(kNothingCommanded), false);
    if (decision.azimuth) {
        lastAzimuth_ = *decision.azimuth;
        if (!WriteOrLose(rotator::TrackingCommand(rotator::Axis::kAzimuth, *lastAzimuth_), now))
            return;
    }
    if (decision.elevation) {
        lastElevation_ = *decision.elevation;
        const std::string command =
            rotator::TrackingCommand(rotator::Axis::kElevation, *lastElevation_);
        if (decision.azimuth) {
            AcceptHead();
            // The controller needs time to take the azimuth before an elevation command follows.
            settling_ = Settling{command, now + rotator::kAzimuthSettleMs};
            return;
        }
        if (!WriteOrLose(command, now)) return;
    }
    AcceptHead();
    FinishHead();
}

void Station::Stop(Millis now) {
    // After a stop the same angles must command the axes again.
    lastAzimuth_.reset();
    lastElevation_.reset();
    if (!WriteOrLose(rotator::StopCommand(rotator::Axis::kAzimuth), now)) return;
    AcceptHead();
    settling_ =
        Settling{rotator::StopCommand(rotator::Axis::kElevation), now + rotator::kAzimuthSettleMs};
}

void Station::GetPosition(ClientId client, const Request& request, Millis now) {
    if (!port_->IsOpen()) {
        answer_(client, FormatReply(request, Reply{Status::kIoError, {}}));
        return;
    }
    if (const auto reply = FreshPosition(now)) {
        answer_(client, FormatReply(request, *reply));
        return;
    }
    // The first to wait has the stale axis polled at once; the others wait for that poll.
    if (positionWaits_.empty()) nextPollAt_ = std::min(nextPollAt_, now);
    positionWaits_.push_back(PositionWait{client, request, now + kReportWaitMs});
    Advance(now);
}

std::optional<Reply> Station::FreshPosition(Millis now) const {
    if (!IsFresh(azimuthReport_, now) || !IsFresh(elevationReport_, now)) return std::nullopt;
    return PositionReply(azimuthReport_.angle, elevationReport_.angle);
}

// Answers the waiting get_pos requests that have fresh reports now, or whose time is up.
void Station::AnswerWaitingPositions(Millis now) {
    if (positionWaits_.empty()) return;
    const std::optional<Reply> fresh = FreshPosition(now);
    std::vector<PositionWait> waiting;
    for (PositionWait& w : positionWaits_) {
        if (fresh) {
            answer_(w.client, FormatReply(w.request, *fresh));
        } else if (now >= w.deadline) {
            answer_(w.client, FormatReply(w.request, Reply{Status::kTimeout, {}}));
        } else {
            waiting.push_back(std::move(w));
        }
    }
    positionWaits_ = std::move(waiting);
}

void Station::FailWaitingPositions(Status status) {
    std::vector<PositionWait> failed = std::move(positionWaits_);
    positionWaits_.clear();
    for (const PositionWait& w : failed)
        answer_(w.client, FormatReply(w.request, Reply{status, {}}));
}

void Station::Poll(Millis now) {
    rotator::Axis axis = nextPollAxis_;
    // While get_pos waits, the axis whose report is stale goes first.
    const AxisReport& chosen = axis == rotator::Axis::kAzimuth ? azimuthReport_ : elevationReport_;
    if (!positionWaits_.empty() && IsFresh(chosen, now)) axis = Other(axis);
    nextPollAxis_ = Other(axis);
    nextPollAt_ = now + kPollIntervalMs;
    WriteOrLose(rotator::PollCommand(axis), now);
}

bool Station::WriteOrLose(const std::string& bytes, Millis now) {
    if (port_->Write(bytes)) return true;
    OnPortLost(now);
    return false;
}

}  // namespace kelmarotd
