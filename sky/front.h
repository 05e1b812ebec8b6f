// What the fronts of the tracking engine (kelmatrack, kelmafeed's sky source and its planning of
// relayed passes) share: the options that say what to track, from where and how (--elements,
// --station, --track, --at, --speed, --lead, --park, --el-max), the element file read into
// targets, the KELMA controller's limits, the time of day and the way messages are stamped.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plan/plan.h"
#include "predict/earth.h"
#include "predict/time.h"
#include "rotator/protocol.h"
#include "sky/targets.h"
#include "sky/tracker.h"

namespace sky {

constexpr double kMaxSpeed = 100000;  // a week of sky in six seconds

// The KELMA controller's angles: azimuth 0..360 with its stop at north, elevation 0..180.
constexpr plan::RotatorLimits kKelmaLimits{0, rotator::kAzimuthMax, 0, rotator::kElevationMax};

struct SkyOptions {
    std::string elementsPath;  // may stay empty when only the Sun and the Moon are tracked
    std::optional<predict::Station> station;
    std::vector<std::string> targets;
    std::optional<predict::JulianDate> at;  // none: the time of day
    double speed = 1;
    double leadSeconds = kDefaultLeadSeconds;
    std::optional<plan::AxisAngles> park;
    std::optional<double> elevationMax;  // below the rotator's limit: never over the top
};

// The options' lines of a program's help.
extern const char kSkyOptionsUsage[];

// Whether `name` ("--station") is one of these options; each takes a value.
bool IsSkyOption(std::string_view name);

// Takes the value of one of these options; the message for the command line when it is refused.
std::optional<std::string> ParseSkyOption(std::string_view name, const std::string& value,
                                          SkyOptions* options);

// What following targets still lacks (a target, the station, the element file for satellites),
// as a message for the command line; none when nothing is missing.
std::optional<std::string> MissingForTracking(const SkyOptions& options);

// The rotator's limits, with --el-max where it is lower.
plan::RotatorLimits WithElevationMax(plan::RotatorLimits limits, const SkyOptions& options);

// The text of an element file; none when it cannot be read.
std::optional<std::string> ReadElementFile(const std::string& path);

// The targets of --track at --station from --elements, read from the file ("cannot read FILE"
// as the error when it cannot be).
TargetSetup LoadTargets(const SkyOptions& options);

// The time of day, UTC, from the system clock.
predict::JulianDate UtcNow();

// "2024-02-12 11:35:08  text": a message with the sky clock's time.
std::string Stamped(predict::JulianDate at, std::string_view text);

}  // namespace sky
