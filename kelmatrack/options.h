// kelmatrack's command line:
//   kelmatrack -r HOST[:PORT] --elements FILE --station LAT,LON[,H] --track NAME[,NAME...]
//              [--at UTC --speed N] [--lead S] [--park AZ,EL] [--el-max DEG] [--plan] [-v]
// Each long option takes its value after "=" or as the next argument.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sky/front.h"

namespace kelmatrack {

constexpr uint16_t kDefaultPort = 4533;  // rotctld's

struct Options {
    enum class Action { kTrack, kPlan, kHelp, kVersion, kFail };
    Action action = Action::kTrack;
    std::string error;  // why kFail
    std::string host;   // empty: none given (--plan then plans for the KELMA controller's limits)
    uint16_t port = kDefaultPort;
    sky::SkyOptions sky;  // what to track, from where and how
    bool verbose = false;
};

Options ParseOptions(const std::vector<std::string>& arguments);

extern const std::string kUsage;

}  // namespace kelmatrack
