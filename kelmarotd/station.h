// The KELMA controller as the server's clients share it. Commands from all clients (set_pos,
// stop, park) wait in one queue and reach the controller one at a time, in order. Toward the
// controller the station behaves as the operator program's tracking: whole degrees, only a
// changed axis commanded, azimuth first and the elevation 100 ms later, the same command texts.
// Between commands it polls the two axes by turns so that get_pos can answer with a report at
// most 2 s old; a get_pos that waits for one waits beside the queue, holding no command up.
//
// A command is answered as soon as it is accepted, not once the controller has had both axes:
// a client that sends stop from one thread while another polls on the same socket (Gpredict)
// must get each answer before its next request. One that must wait behind another command is
// accepted at once; one the controller can take now, once its first command is written, so a
// port that has just gone away still answers "RPRT -6". A client may have one accepted command
// waiting; its next is accepted when that one starts, which bounds the queue. An accepted
// command reaches the controller even if its client leaves meanwhile.
//
// Plain C++ without I/O: the shell passes in the time, the controller's bytes and the port's
// state, and writes what the station hands to ControllerPort.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kelmarotd/rotctl_front.h"
#include "kelmarotd/rotctl_text.h"
#include "rotator/protocol.h"

namespace kelmarotd {

constexpr Millis kPollIntervalMs = 900;   // one axis per poll: each axis every 1.8 s
constexpr Millis kReportMaxAgeMs = 2000;  // get_pos never answers with an older report
// How long get_pos waits for fresh reports: well inside the 2 s after which Hamlib's client
// gives up, so its answer never arrives when the client already waits for the next one.
constexpr Millis kReportWaitMs = 1500;

struct StationSettings {
    // The angles clients may ask for, within the controller's 0..360 and 0..180.
    Limits limits{0, rotator::kAzimuthMax, 0, rotator::kElevationMax};
    int32_t parkAzimuth = 0;
    int32_t parkElevation = 0;
};

// The controller's serial port as the station sees it.
class ControllerPort {
public:
    virtual ~ControllerPort() = default;
    virtual bool IsOpen() const = 0;
    // Writes the bytes in one piece; false when the port failed (the shell then closes it).
    virtual bool Write(std::string_view bytes) = 0;
};

class Station {
public:
    using AnswerSink = std::function<void(ClientId, const std::string&)>;

    Station(const StationSettings& settings, ControllerPort* port, AnswerSink answer);

    const StationSettings& Settings() const { return settings_; }
    // set_pos, get_pos, stop and park; each is answered once through the sink.
    void Submit(ClientId client, const Request& request, Millis now);
    // A client went away: its requests not yet accepted are dropped, never answered; its
    // accepted ones still reach the controller.
    void ForgetClient(ClientId client);
    void OnControllerBytes(std::string_view bytes, Millis now);
    void OnPortOpened(Millis now);
    void OnPortLost(Millis now);
    // Does whatever is due at `now`: the next request's writes, a poll, a time-out.
    void Advance(Millis now);
    // When Advance next has something to do; nullopt: only new input can change anything.
    std::optional<Millis> NextDeadline() const;
    // When the latest position report came; nullopt before the first.
    std::optional<Millis> LastReportAt() const;

private:
    // Where a set_pos or park sends the antenna, in whole degrees within the limits.
    struct Target {
        int32_t azimuth;
        int32_t elevation;
    };
    struct Pending {
        ClientId client;
        Request request;
        std::optional<Target> target;  // none: a stop
        bool accepted = false;         // answered "RPRT 0"
    };
    // A get_pos waiting for fresh reports until its deadline.
    struct PositionWait {
        ClientId client;
        Request request;
        Millis deadline;
    };
    struct AxisReport {
        int32_t angle = 0;
        Millis at = 0;
        bool seen = false;
    };
    // The second half of a two-axis request, written once the azimuth has settled.
    struct Settling {
        std::string elevationCommand;
        Millis due = 0;
    };

    static bool IsFresh(const AxisReport& report, Millis now);
    // Why a set_pos, stop or park cannot be carried out; nothing when it can.
    std::optional<Status> Refusal(const Request& request) const;
    void AcceptCommands();
    void AcceptHead();
    void StartHead(Millis now);
    void FinishHead();
    void Move(const Target& target, Millis now);
    void Stop(Millis now);
    void GetPosition(ClientId client, const Request& request, Millis now);
    void AnswerWaitingPositions(Millis now);
    void FailWaitingPositions(Status status);
    std::optional<Reply> FreshPosition(Millis now) const;
    bool WriteOrLose(const std::string& bytes, Millis now);
    void Poll(Millis now);
    // Where the request sends the antenna: none for a stop, or for a set_pos outside the limits.
    std::optional<Target> TargetOf(const Request& request) const;

    StationSettings settings_;
    ControllerPort* port_;
    AnswerSink answer_;
    std::deque<Pending> queue_;
    bool headStarted_ = false;
    std::optional<Settling> settling_;
    std::vector<PositionWait> positionWaits_;
    // The angles last commanded; none after a stop or a reopen, so the next request commands
    // both axes again even when its angles did not change.
    std::optional<int32_t> lastAzimuth_;
    std::optional<int32_t> lastElevation_;
    AxisReport azimuthReport_;
    AxisReport elevationReport_;
    rotator::Axis nextPollAxis_ = rotator::Axis::kAzimuth;
    Millis nextPollAt_ = 0;
    // The controller's bytes until their line ends: far more than one report's 14 bytes.
    static constexpr size_t kRingSize = 128;
    char ring_[kRingSize] = {};
    size_t ringRead_ = 0;
    size_t ringWrite_ = 0;
};

}  // namespace kelmarotd
