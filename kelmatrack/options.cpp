#include "kelmatrack/options.h"

#include <cmath>

#include "kelmarotd/rotctl_text.h"

namespace kelmatrack {

const std::string kUsage =
    std::string(
        "Usage: kelmatrack -r HOST[:PORT] --elements FILE --station LAT,LON[,HEIGHT_M]\n"
        "                  --track NAME[,NAME...]|sun|moon [options]\n"
        "Follows satellites, the Sun or the Moon with a rotator behind a rotctld-protocol server\n"
        "(kelmarotd, Hamlib's rotctld), planning each pass so that the antenna never crosses its\n"
        "azimuth stop: over the top where the rotator's elevation goes to 180, in the overlap\n"
        "where its azimuth goes beyond 360.\n"
        "  -r HOST[:PORT]         the server (port 4533 unless given)\n") +
    sky::kSkyOptionsUsage +
    "  --plan                 print the passes of the next 24 hours and their plans, and exit\n"
    "                         (without -r: for the KELMA controller's 0..360 and 0..180)\n"
    "  -v, --verbose          show every position sent and the server's answer\n"
    "  -h, --help             this text\n"
    "  -V, --version          the version\n";

namespace {

struct Parser {
    const std::vector<std::string>& args;
    size_t next = 0;
    Options options;

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
    bool Option(const std::string& arg);
    bool Check();
};

bool Parser::Server(const std::string& text) {
    const size_t colon = text.rfind(':');
    options.host = text.substr(0, colon);
    if (colon != std::string::npos) {
        const auto port = kelmarotd::ParseNumber(text.substr(colon + 1));
        if (!port || *port < 1 || *port > UINT16_MAX || *port != std::floor(*port))
            return Fail("-r: the port must be a number from 1 to 65535");
        options.port = static_cast<uint16_t>(*port);
    }
    if (options.host.empty()) return Fail("-r: no host");
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
    if (sky::IsSkyOption(name)) {
        if (!Value(name, arg, equals, &value)) return false;
        const auto refused = sky::ParseSkyOption(name, value, &options.sky);
        return refused ? Fail(*refused) : true;
    }
    return Fail("unknown option " + arg);
}

bool Parser::Check() {
    if (const auto missing = sky::MissingForTracking(options.sky)) return Fail(*missing);
    if (options.host.empty() && options.action == Options::Action::kTrack)
        return Fail("no server (-r HOST[:PORT])");
    return true;
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& arguments) {
    Parser parser{arguments, 0, Options{}};
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
