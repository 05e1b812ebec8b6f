// kelmatrack's command line:
//   kelmatrack -r HOST[:PORT] --elements FILE --station LAT,LON[,H] --track NAME[,NAME...]
//              [--at UTC --speed N] [--lead S] [--park AZ,EL] [--el-max DEG] [--plan] [-v]
// Each long option takes its value after "=" or as the next argument.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "plan/plan.h"
#include "predict/earth.h"
#include "predict/time.h"
#include "sky/tracker.h"

namespace kelmatrack {

constexpr uint16_t kDefaultPort = 4533;  // rotctld's
constexpr double kMaxSpeed = 100000;     // a week of sky in six seconds

struct Options {
    enum class Action { kTrack, kPlan, kHelp, kVersion, kFail };
    Action action = Action::kTrack;
    std::string error;  // why kFail
    std::string host;   // empty: none given (--plan then plans for the KELMA controller's limits)
    uint16_t port = kDefaultPort;
    std::string elementsPath;  // may stay empty when only the Sun and the Moon are tracked
    predict::Station station{};
    std::vector<std::string> targets;
    std::optional<predict::JulianDate> at;  // none: the time of day
    double speed = 1;
    double leadSeconds = sky::kDefaultLeadSeconds;
    std::optional<plan::AxisAngles> park;
    std::optional<double> elevationMax;  // lower than the server's: no over the top
    bool verbose = false;
};

Options ParseOptions(const std::vector<std::string>& arguments);

extern const char kUsage[];

}  // namespace kelmatrack
