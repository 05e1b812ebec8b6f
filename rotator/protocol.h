// The conversation with the KELMA rotator controller: every command text the program sends,
// the operator's angle rule for the Set buttons, and the controller's position reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rotator {

enum class Axis { kAzimuth, kElevation };

constexpr int32_t kAzimuthMax = 360;
constexpr int32_t kElevationMax = 180;
// Read count of a Set box including its terminator: at most 19 characters are converted.
constexpr int kSetTextReadCount = 20;

// "A\r\nS\r\n" or "E\r\nS\r\n".
std::string StopCommand(Axis axis);
// The position poll: "A\r\n" or "E\r\n".
std::string PollCommand(Axis axis);
// A manual Set: "A\r\n%d\r\n" or "E\r\n%d\r\n" (no leading zeros).
std::string ManualCommand(Axis axis, int32_t angle);
// An automatic tracking command: "A\r\n%03d\r\n" or "E\r\n%03d\r\n".
std::string TrackingCommand(Axis axis, int32_t angle);

// The angle of a Set box's text: its first 19 characters read as a decimal number (none gives
// 0, beyond 32 bits saturates), then clamped to 0..360 (azimuth) or 0..180 (elevation).
int32_t ManualAngle(Axis axis, std::string_view boxText);

// "%03d": at least three characters, zero-filled after any minus sign.
std::string FormatAngle(int32_t angle);

struct PositionReport {
    Axis axis;
    int32_t angle;
    bool moving;  // "MV" from the fifth character on
};

// A received line (without its line end) that is a position report: 12 characters or more,
// "A" or "E" first, "P" third, the angle read from the fifth character. The line's text ends
// at a NUL.
std::optional<PositionReport> ParsePositionReport(std::string_view line);

// The position display's text: "%03d", or "<%03d>" while the rotator moves.
std::string FormatPositionDisplay(const PositionReport& report);

}  // namespace rotator
