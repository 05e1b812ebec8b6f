// kelmarotd's command line, in rotctld's habits: -r DEVICE, -T ADDRESS (more than once for
// several addresses), -t PORT, -v, -h, -V, the long forms --rot-file=, --listen-addr=, --port=,
// --verbose, --help, --version, and our own --park-az=, --park-el=, --min-az=, --max-az=,
// --min-el=, --max-el= (whole degrees).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kelmarotd/listen_address.h"
#include "kelmarotd/station.h"

namespace kelmarotd {

constexpr uint16_t kDefaultPort = 4533;

struct Options {
    enum class Action { kServe, kHelp, kVersion, kFail };
    Action action = Action::kServe;
    std::string error;   // why kFail
    std::string device;  // required: there is no safe default serial device
    std::vector<std::string> addresses{kDefaultAddress};  // each checked when parsed
    uint16_t port = kDefaultPort;  // 0: any free port (the one taken is logged)
    bool verbose = false;
    StationSettings station;
};

Options ParseOptions(const std::vector<std::string>& arguments);

extern const char kUsage[];

}  // namespace kelmarotd
