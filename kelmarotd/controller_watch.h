// What the server tells the station's owner about the controller: its port missing (and tried
// again every second), open and waiting for a first report, open but not answering, or answering.
// The server logs each change once, not every retry, and get_info answers the current state.
//
// Plain C++ without I/O: the server passes in the port's events, the time of the latest position
// report and the time.
#pragma once

#include <optional>
#include <string>

#include "kelmarotd/rotctl_front.h"

namespace kelmarotd {

enum class ControllerState {
    kPortMissing,  // the port could not be opened, or went away; it is tried again
    kPortOpen,     // open, no report yet, not for long enough to call it silent
    kSilent,       // open, but no position report for kSilenceMs
    kAnswering,    // a position report within kSilenceMs
};

// How often a missing port is tried again (the texts say "every second").
constexpr Millis kReopenIntervalMs = 1000;
// The station polls every 0.9 s: this long without a report is several polls unanswered, which a
// busy or slow controller does not do, while a switched-off one or a loose cable does.
constexpr Millis kSilenceMs = 5000;

class ControllerWatch {
public:
    explicit ControllerWatch(std::string device);

    // The port could not be opened; `why` is the platform's text (it names the device).
    void PortFailed(std::string why);
    void PortLost();
    void PortOpened(Millis now);
    // The time of the latest position report.
    void ReportSeen(Millis at);

    // Takes the state at `now`; true when it differs from the one taken before.
    bool Update(Millis now);
    ControllerState State() const { return state_; }
    // The state last taken, for the log: "answering on /dev/ttyUSB0".
    std::string Text() const;
    // The get_info answer: "KELMA rotator controller: answering". Without the device's name,
    // which can be long: Hamlib's network rotator reads the line into 64 bytes with its end
    // (Hamlib 4.5.4, dummy/netrotctl.c, BUF_MAX).
    std::string Info() const;
    // When the state changes by time alone, without another event; nullopt: it does not.
    std::optional<Millis> NextChange() const;

private:
    bool ReportSinceOpened() const { return lastReport_ && *lastReport_ >= openedAt_; }

    std::string device_;
    std::string missingWhy_;
    bool open_ = false;
    Millis openedAt_ = 0;
    std::optional<Millis> lastReport_;
    ControllerState state_ = ControllerState::kPortMissing;
    bool taken_ = false;  // no state taken yet: the first is a change
};

}  // namespace kelmarotd
