#include "kelmarotd/options.h"

#include <optional>

namespace kelmarotd {

const char kUsage[] =
    "Usage: kelmarotd -r DEVICE [options]\n"
    "A network rotator server (rotctld protocol) for the KELMA rotator controller.\n"
    "  -r, --rot-file=DEVICE     the controller's serial port (/dev/ttyUSB0, COM3); required\n"
    "  -T, --listen-addr=ADDRESS numeric address to listen on (default 127.0.0.1); give -T\n"
    "                            again for more (-T 127.0.0.1 -T 192.168.1.20)\n"
    "  -t, --port=PORT           TCP port (default 4533; 0 takes any free port)\n"
    "  -v, --verbose             log the client and controller traffic on stderr\n"
    "      --park-az=DEG, --park-el=DEG   park position (default 0 0)\n"
    "      --min-az=DEG, --max-az=DEG     azimuth limits (default 0 360)\n"
    "      --min-el=DEG, --max-el=DEG     elevation limits (default 0 180)\n"
    "  -h, --help                this text\n"
    "  -V, --version             the version\n";

namespace {

// A whole number in decimal, nothing else, within low..high.
std::optional<int32_t> ParseWhole(const std::string& text, int32_t low, int32_t high) {
    size_t i = text.size() > 0 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (i == text.size() || text.size() > 7) return std::nullopt;
    int32_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    if (text[0] == '-') value = -value;
    if (value < low || value > high) return std::nullopt;
    return value;
}

struct Parser {
    const std::vector<std::string>& args;
    size_t next = 0;
    Options options;
    ListenAddresses addresses;

    bool Fail(const std::string& why) {
        options.action = Options::Action::kFail;
        options.error = why;
        return false;
    }

    // The value of a short option ("-t4533" or "-t 4533") or a long one ("--port=4533").
    bool Value(const std::string& arg, size_t valueAt, std::string* value) {
        if (valueAt < arg.size()) {
            *value = arg.substr(valueAt);
            return true;
        }
        if (arg.rfind("--", 0) == 0 || next >= args.size()) return Fail(arg + " needs a value");
        *value = args[next++];
        return true;
    }

    bool Angle(const std::string& name, const std::string& text, int32_t high, int32_t* out) {
        const auto value = ParseWhole(text, 0, high);
        if (!value)
            return Fail(name + " must be a whole number of degrees from 0 to " +
                        std::to_string(high));
        *out = *value;
        return true;
    }

    bool Long(const std::string& arg);
    bool Short(const std::string& arg);
    bool Check();
};

bool Parser::Long(const std::string& arg) {
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const size_t valueAt = equals == std::string::npos ? arg.size() : equals + 1;
    if (name == "--help") return options.action = Options::Action::kHelp, true;
    if (name == "--version") return options.action = Options::Action::kVersion, true;
    if (name == "--verbose") return options.verbose = true;
    std::string value;
    StationSettings& s = options.station;
    const struct {
        const char* name;
        int32_t high;
        int32_t* out;
    } angles[] = {{"--park-az", rotator::kAzimuthMax, &s.parkAzimuth},
                  {"--park-el", rotator::kElevationMax, &s.parkElevation},
                  {"--min-az", rotator::kAzimuthMax, &s.limits.minAzimuth},
                  {"--max-az", rotator::kAzimuthMax, &s.limits.maxAzimuth},
                  {"--min-el", rotator::kElevationMax, &s.limits.minElevation},
                  {"--max-el", rotator::kElevationMax, &s.limits.maxElevation}};
    for (const auto& angle : angles) {
        if (name != angle.name) continue;
        return Value(arg, valueAt, &value) && Angle(name, value, angle.high, angle.out);
    }
    if (name == "--rot-file") return Value(arg, valueAt, &options.device);
    if (name == "--listen-addr") {
        if (!Value(arg, valueAt, &value)) return false;
        const auto refused = addresses.Add(value);
        return refused ? Fail(*refused) : true;
    }
    if (name == "--port") {
        if (!Value(arg, valueAt, &value)) return false;
        const auto port = ParseWhole(value, 0, UINT16_MAX);
        if (!port) return Fail("the port must be a number from 0 to 65535");
        options.port = static_cast<uint16_t>(*port);
        return true;
    }
    return Fail("unknown option " + name);
}

bool Parser::Short(const std::string& arg) {
    static const struct {
        char letter;
        const char* longName;
    } kShort[] = {{'r', "--rot-file"}, {'T', "--listen-addr"}, {'t', "--port"},
                  {'v', "--verbose"},  {'h', "--help"},        {'V', "--version"}};
    for (const auto& s : kShort) {
        if (arg[1] != s.letter) continue;
        const bool takesValue = s.letter == 'r' || s.letter == 'T' || s.letter == 't';
        if (!takesValue) return arg.size() == 2 ? Long(s.longName) : Fail("unknown option " + arg);
        std::string value;
        if (!Value(arg, 2, &value)) return false;
        // An empty one ("-r ''") is named as typed, not as the long option it stands for.
        if (value.empty()) return Fail(arg + " needs a value");
        return Long(std::string(s.longName) + "=" + value);
    }
    return Fail("unknown option " + arg);
}

bool Parser::Check() {
    const StationSettings& s = options.station;
    options.addresses = addresses.List();
    if (options.device.empty()) return Fail("no controller port given (-r DEVICE)");
    if (s.limits.minAzimuth > s.limits.maxAzimuth || s.limits.minElevation > s.limits.maxElevation)
        return Fail("a lower limit is above its upper limit");
    if (s.parkAzimuth < s.limits.minAzimuth || s.parkAzimuth > s.limits.maxAzimuth ||
        s.parkElevation < s.limits.minElevation || s.parkElevation > s.limits.maxElevation)
        return Fail("the park position is outside the limits");
    return true;
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& arguments) {
    Parser parser{arguments, 0, Options{}, ListenAddresses{}};
    while (parser.next < arguments.size()) {
        const std::string& arg = arguments[parser.next++];
        const bool ok = arg.rfind("--", 0) == 0            ? parser.Long(arg)
                        : arg.size() >= 2 && arg[0] == '-' ? parser.Short(arg)
                                                           : parser.Fail("unexpected " + arg);
        if (!ok) return parser.options;
        if (parser.options.action != Options::Action::kServe) return parser.options;
    }
    parser.Check();
    return parser.options;
}

}  // namespace kelmarotd
