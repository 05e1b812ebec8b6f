// The simulated KELMA controller behind one COM port: two axes and the command framer.
// Time comes in from outside (CLOCK_MONOTONIC microseconds), so the model runs the same in tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "axis.h"
#include "command_framer.h"

namespace kelma {

struct ControllerSettings {
    double azimuthRate = 6.0;    // degrees per second
    double elevationRate = 4.0;  // degrees per second
    int64_t quietMicros = 30000;
};

constexpr double kAzimuthMax = 360.0;
constexpr double kElevationMax = 180.0;

class Controller {
public:
    Controller(const ControllerSettings& settings, int64_t nowMicros);

    // Bytes from the program; returns what the controller sends back (reports to polls).
    std::string Receive(std::string_view bytes, int64_t nowMicros);
    // Lets time pass: turns the axes and answers a poll whose quiet time ran out.
    std::string Tick(int64_t nowMicros);
    // When Tick has something to do next, if ever.
    std::optional<int64_t> Deadline() const { return framer_.Deadline(); }

    // The current report of an axis ('A' or 'E').
    std::string Report(char axis, int64_t nowMicros);

    Axis& AxisOf(char axis) { return axis == 'A' ? azimuth_ : elevation_; }
    Axis& Azimuth() { return azimuth_; }
    Axis& Elevation() { return elevation_; }
    void SetAutoAnswer(bool on) { autoAnswer_ = on; }
    void SetQuietMicros(int64_t micros) { framer_.SetQuietMicros(micros); }
    // Moves both axes up to nowMicros.
    void Advance(int64_t nowMicros);

private:
    std::string Apply(const ControllerCommand& command, int64_t nowMicros);

    Axis azimuth_;
    Axis elevation_;
    CommandFramer framer_;
    bool autoAnswer_ = true;
    int64_t lastMicros_;
};

}  // namespace kelma
