#include "kelmatrack/options.h"

#include <cmath>

#include "kelmarotd/rotctl_text.h"
#include "sky/targets.h"

namespace kelmatrack {

const char kUsage[] =
    "Usage: kelmatrack -r HOST[:PORT] --elements FILE --station LAT,LON[,HEIGHT_M]\n"
    "                  --track NAME[,NAME...]|sun|moon [options]\n"
    "Follows satellites, the Sun or the Moon with a rotator behind a rotctld-protocol server\n"
    "(kelmarotd, Hamlib's rotctld), planning each pass so that the antenna never crosses its\n"
    "azimuth stop: over the top where the rotator's elevation goes to 180, in the overlap where\n"
    "its azimuth goes beyond 360.\n"
    "  -r HOST[:PORT]         the server (port 4533 unless given)\n"
    "  --elements FILE        two-line element sets (Celestrak, AMSAT, Space-Track files)\n"
    "  --station LAT,LON[,H]  the station: degrees north and east, metres above the ellipsoid\n"
    "  --track NAME[,...]     satellite names or catalogue numbers, sun, moon; of several,\n"
    "                         whichever rises next\n"
    "  --at UTC               start the clock at this time (YYYY-MM-DD HH:MM:SS)\n"
    "  --speed N              run the clock N times as fast (rehearsing a pass)\n"
    "  --lead S               move to the start of a pass S seconds before it (default 60)\n"
    "  --park AZ,EL           park there after each pass (default: stay)\n"
    "  --el-max DEG           the highest elevation to use (90: never over the top)\n"
    "  --plan                 print the passes of the next 24 hours and their plans, and exit\n"
    "                         (without -r: for the KELMA controller's 0..360 and 0..180)\n"
    "  -v, --verbose          show every position sent and the server's answer\n"
    "  -h, --help             this text\n"
    "  -V, --version          the version\n";

namespace {

std::optional<double> Number(const std::string& text) {
    return kelmarotd::ParseNumber(text);
}

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
        parts.push_back(text.substr(start, comma - start));
    parts.push_back(text.substr(start));
    return parts;
}

struct Parser {
    const std::vector<std::string>& args;
    size_t next = 0;
    Options options;
    bool stationGiven = false;

    bool Fail(const std::string& why) {
        options.action = Options::Action::kFail;
        options.error = why;
        return false;
    }

    // The value after "=" or the next argument.
    bool Value(const std::string& name, const std::string& arg, size_t equals, std::string* value) {
        if (equals != std::string::npos) {
            *value = arg.substr(equals + 1);
            return true;
        }
        if (next >= args.size()) return Fail(name + " needs a value");
        *value = args[next++];
        return true;
    }

    bool Server(const std::string& text);
    bool Park(const std::string& text);
    bool Option(const std::string& arg);
    bool Check();
};

bool Parser::Server(const std::string& text) {
    const size_t colon = text.rfind(':');
    options.host = text.substr(0, colon);
    if (colon != std::string::npos) {
        const auto port = Number(text.substr(colon + 1));
        if (!port || *port < 1 || *port > UINT16_MAX || *port != std::floor(*port))
            return Fail("-r: the port must be a number from 1 to 65535");
        options.port = static_cast<uint16_t>(*port);
    }
    if (options.host.empty()) return Fail("-r: no host");
    return true;
}

bool Parser::Park(const std::string& text) {
    const std::vector<std::string> parts = SplitCommas(text);
    const auto az = parts.size() == 2 ? Number(parts[0]) : std::nullopt;
    const auto el = parts.size() == 2 ? Number(parts[1]) : std::nullopt;
    if (!az || !el) return Fail("--park: give AZ,EL in degrees, e.g. --park 180,0");
    options.park = plan::AxisAngles{*az, *el};
    return true;
}

bool Parser::Option(const std::string& arg) {
    if (arg == "-h" || arg == "--help") return options.action = Options::Action::kHelp, true;
    if (arg == "-V" || arg == "--version") return options.action = Options::Action::kVersion, true;
    if (arg == "-v" || arg == "--verbose") return options.verbose = true;
    if (arg == "--plan") return options.action = Options::Action::kPlan, true;
    const size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    const std::string name = arg.substr(0, equals);
    std::string value;
    if (name == "-r" || name == "--rot-host")
        return Value(name, arg, equals, &value) && Server(value);
    if (name == "--park") return Value(name, arg, equals, &value) && Park(value);
    if (name == "--elements") return Value(name, arg, equals, &options.elementsPath);
    if (name == "--station") {
        if (!Value(name, arg, equals, &value)) return false;
        const predict::ParsedStation parsed = predict::ParseStation(value);
        if (!parsed.station) return Fail("--station: " + parsed.error);
        options.station = *parsed.station;
        stationGiven = true;
        return true;
    }
    if (name == "--track") {
        if (!Value(name, arg, equals, &value)) return false;
        options.targets = SplitCommas(value);
        for (const std::string& target : options.targets)
            if (target.empty()) return Fail("--track: an empty name");
        return true;
    }
    if (name == "--at") {
        if (!Value(name, arg, equals, &value)) return false;
        const predict::ParsedUtc parsed = predict::ParseUtc(value);
        if (!parsed.utc) return Fail("--at: " + parsed.error);
        options.at = parsed.utc;
        return true;
    }
    const struct {
        const char* name;
        double low, high;
        const char* what;
    } numbers[] = {{"--speed", 0, kMaxSpeed, "--speed: a number above 0 and at most 100000"},
                   {"--lead", 0, 3600, "--lead: seconds from 0 to 3600"},
                   {"--el-max", 1, 180, "--el-max: degrees from 1 to 180"}};
    for (const auto& n : numbers) {
        if (name != n.name) continue;
        if (!Value(name, arg, equals, &value)) return false;
        const auto number = Number(value);
        const bool zeroAllowed = name != "--speed";
        if (!number || *number > n.high || *number < n.low || (!zeroAllowed && *number == 0))
            return Fail(n.what);
        if (name == "--speed") options.speed = *number;
        if (name == "--lead") options.leadSeconds = *number;
        if (name == "--el-max") options.elevationMax = *number;
        return true;
    }
    return Fail("unknown option " + arg);
}

bool Parser::Check() {
    if (options.targets.empty()) return Fail("nothing to track (--track NAME)");
    if (!stationGiven) return Fail("no station (--station LAT,LON)");
    bool satellites = false;
    for (const std::string& target : options.targets)
        satellites = satellites || !sky::IsSunOrMoon(target);
    if (satellites && options.elementsPath.empty())
        return Fail("no element file for the satellites (--elements FILE)");
    if (options.host.empty() && options.action == Options::Action::kTrack)
        return Fail("no server (-r HOST[:PORT])");
    return true;
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& arguments) {
    Parser parser{arguments, 0, Options{}, false};
    while (parser.next < arguments.size()) {
        if (!parser.Option(arguments[parser.next++])) return parser.options;
        const Options::Action action = parser.options.action;
        if (action == Options::Action::kHelp || action == Options::Action::kVersion)
            return parser.options;
    }
    parser.Check();
    return parser.options;
}

}  // namespace kelmatrack
