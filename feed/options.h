// kelmafeed's command line: --source=orbitron|satpc32|dde:SERVICE/TOPIC/ITEM|net[:PORT]|sky (-s),
// -T/--listen-addr=ADDRESS (the network source's addresses, as kelmarotd takes them),
// --log=FILE, the tracking engine's options (sky/front.h: --elements, --station, --track, --at,
// --speed, --lead, --park, --el-max), -h/--help, -V/--version. Without --source the relay takes
// whichever of the known programs runs; that is also how a tracking program that starts its
// drivers without arguments (Orbitron) starts it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sky/front.h"

namespace kelmafeed {

// A program that publishes a tracking text as one DDE item.
struct DdeSource {
    std::string name;  // for the console: "Orbitron", "SatPC32", "dde:SERVICE/TOPIC/ITEM"
    std::string service;
    std::string topic;
    std::string item;
};

struct Options {
    enum class Action { kRelay, kHelp, kVersion, kFail };
    Action action = Action::kRelay;
    std::string error;  // why kFail
    // The sources to look for, in order; the first that answers is taken while it runs.
    std::vector<DdeSource> sources;
    // The network source instead: a rotctld-protocol server at this port (0: any free port) on
    // these addresses (kelmarotd's default, 127.0.0.1, unless -T gives others).
    std::optional<uint16_t> netPort;
    std::vector<std::string> netAddresses;
    // Our own prediction of sky.targets instead of a source.
    bool skySource = false;
    // What the sky source tracks, and what plans a relayed satellite's passes (sky.station set).
    sky::SkyOptions sky;
    std::string logPath;  // the "WinOrbit" service's DDE events; none when empty
};

Options ParseOptions(const std::vector<std::string>& arguments);

// The programs the relay knows by name, in the order it looks for them.
std::vector<DdeSource> KnownSources();

// "Orbitron, SatPC32 or SatPC32ISS": what the relay looks for.
std::string SourcesName(const std::vector<DdeSource>& sources);

extern const std::string kUsage;

}  // namespace kelmafeed
