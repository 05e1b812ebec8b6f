#include "kelmarotd/controller_watch.h"

#include <utility>

namespace kelmarotd {

ControllerWatch::ControllerWatch(std::string device)
    : device_(std::move(device)), missingWhy_(device_ + ": not opened yet") {}

void ControllerWatch::PortFailed(std::string why) {
    open_ = false;
    missingWhy_ = std::move(why);
}

void ControllerWatch::PortLost() {
    open_ = false;
    missingWhy_ = device_ + " lost";
}

void ControllerWatch::PortOpened(Millis now) {
    open_ = true;
    openedAt_ = now;
}

void ControllerWatch::ReportSeen(Millis at) {
    lastReport_ = at;
}

bool ControllerWatch::Update(Millis now) {
    ControllerState state = ControllerState::kSilent;
    if (!open_) {
        state = ControllerState::kPortMissing;
    } else if (ReportSinceOpened()) {
        if (now - *lastReport_ < kSilenceMs) state = ControllerState::kAnswering;
    } else if (now - openedAt_ < kSilenceMs) {
        state = ControllerState::kPortOpen;
    }
    const bool changed = !taken_ || state != state_;
    taken_ = true;
    state_ = state;
    return changed;
}

std::string ControllerWatch::Text() const {
    if (state_ == ControllerState::kPortMissing)
        return "port " + missingWhy_ + "; retrying every second";
    if (state_ == ControllerState::kPortOpen) return "port " + device_ + " open, no report yet";
    if (state_ == ControllerState::kSilent)
        return "not answering on " + device_ + ": no position report for " +
               std::to_string(kSilenceMs / 1000) + " s";
    return "answering on " + device_;
}

std::string ControllerWatch::Info() const {
    const std::string name = "KELMA rotator controller: ";
    if (state_ == ControllerState::kPortMissing)
        return name + "port missing, retrying every second";
    if (state_ == ControllerState::kPortOpen) return name + "port open, no report yet";
    if (state_ == ControllerState::kSilent) return name + "not answering";
    return name + "answering";
}

std::optional<Millis> ControllerWatch::NextChange() const {
    if (state_ == ControllerState::kAnswering) return *lastReport_ + kSilenceMs;
    if (state_ == ControllerState::kPortOpen) return openedAt_ + kSilenceMs;
    return std::nullopt;
}

}  // namespace kelmarotd
