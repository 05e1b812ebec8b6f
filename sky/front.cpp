#include "sky/front.h"

#include <chrono>
#include <cstdio>

#include "kelmarotd/rotctl_text.h"

namespace sky {

const char kSkyOptionsUsage[] =
    "  --elements FILE        two-line element sets (Celestrak, AMSAT, Space-Track files)\n"
    "  --station LAT,LON[,H]  the station: degrees north and east, metres above the ellipsoid\n"
    "  --track NAME[,...]     satellite names or catalogue numbers, sun, moon; of several,\n"
    "                         whichever rises next\n"
    "  --at UTC               start the clock at this time (YYYY-MM-DD HH:MM:SS)\n"
    "  --speed N              run the clock N times as fast (rehearsing a pass)\n"
    "  --lead S               move to the start of a pass S seconds before it (default 60)\n"
    "  --park AZ,EL           park there after each pass (default: stay)\n"
    "  --el-max DEG           the highest elevation to use (90: never over the top)\n";

namespace {

constexpr double kLeadSecondsMax = 3600;

struct NumberOption {
    const char* name;
    double low, high;
    bool zero_allowed;
    const char* refusal;
    void (*store)(double value, SkyOptions* options);
};

const NumberOption kNumberOptions[] = {
    {"--speed", 0, kMaxSpeed, false, "--speed: a number above 0 and at most 100000",
     [](double v, SkyOptions* o) { o->speed = v; }},
    {"--lead", 0, kLeadSecondsMax, true, "--lead: seconds from 0 to 3600",
     [](double v, SkyOptions* o) { o->leadSeconds = v; }},
    {"--el-max", 1, rotator::kElevationMax, true, "--el-max: degrees from 1 to 180",
     [](double v, SkyOptions* o) { o->elevationMax = v; }},
};

const char* const kTextOptions[] = {"--elements", "--station", "--track", "--at", "--park"};

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
        parts.push_back(text.substr(start, comma - start));
    parts.push_back(text.substr(start));
    return parts;
}

std::optional<std::string> ParseNumberOption(const NumberOption& option, const std::string& value,
                                             SkyOptions* options) {
    const auto number = kelmarotd::ParseNumber(value);
    if (!number || *number > option.high || *number < option.low ||
        (!option.zero_allowed && *number == 0))
        return option.refusal;
    option.store(*number, options);
    return std::nullopt;
}

std::optional<std::string> ParsePark(const std::string& value, SkyOptions* options) {
    const std::vector<std::string> parts = SplitCommas(value);
    const auto az = parts.size() == 2 ? kelmarotd::ParseNumber(parts[0]) : std::nullopt;
    const auto el = parts.size() == 2 ? kelmarotd::ParseNumber(parts[1]) : std::nullopt;
    if (!az || !el) return "--park: give AZ,EL in degrees, e.g. --park 180,0";
    options->park = plan::AxisAngles{*az, *el};
    return std::nullopt;
}

}  // namespace

bool IsSkyOption(std::string_view name) {
    for (const char* option : kTextOptions)
        if (name == option) return true;
    for (const NumberOption& option : kNumberOptions)
        if (name == option.name) return true;
    return false;
}

std::optional<std::string> ParseSkyOption(std::string_view name, const std::string& value,
                                          SkyOptions* options) {
    for (const NumberOption& option : kNumberOptions)
        if (name == option.name) return ParseNumberOption(option, value, options);
    if (name == "--park") return ParsePark(value, options);
    if (name == "--elements") {
        options->elementsPath = value;
    } else if (name == "--station") {
        const predict::ParsedStation parsed = predict::ParseStation(value);
        if (!parsed.station) return "--station: " + parsed.error;
        options->station = parsed.station;
    } else if (name == "--track") {
        options->targets = SplitCommas(value);
        for (const std::string& target : options->targets)
            if (target.empty()) return "--track: an empty name";
    } else if (name == "--at") {
        const predict::ParsedUtc parsed = predict::ParseUtc(value);
        if (!parsed.utc) return "--at: " + parsed.error;
        options->at = parsed.utc;
    } else {
        return "unknown option " + std::string(name);
    }
    return std::nullopt;
}

std::optional<std::string> MissingForTracking(const SkyOptions& options) {
    if (options.targets.empty()) return "nothing to track (--track NAME)";
    if (!options.station) return "no station (--station LAT,LON)";
    bool satellites = false;
    for (const std::string& target : options.targets)
        satellites = satellites || !IsSunOrMoon(target);
    if (satellites && options.elementsPath.empty())
        return "no element file for the satellites (--elements FILE)";
    return std::nullopt;
}

plan::RotatorLimits WithElevationMax(plan::RotatorLimits limits, const SkyOptions& options) {
    if (options.elevationMax && *options.elevationMax < limits.max_elevation_deg)
        limits.max_elevation_deg = *options.elevationMax;
    return limits;
}

std::optional<std::string> ReadElementFile(const std::string& path) {
    // C stdio rather than streams: the Windows programs stay small without their locales.
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return std::nullopt;
    std::string text;
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof(chunk), file)) > 0;) text.append(chunk, n);
    const bool failed = ferror(file) != 0;
    fclose(file);
    if (failed) return std::nullopt;
    return text;
}

TargetSetup LoadTargets(const SkyOptions& options) {
    std::string text;
    if (!options.elementsPath.empty()) {
        const std::optional<std::string> read = ReadElementFile(options.elementsPath);
        if (!read) {
            TargetSetup setup;
            setup.error = "cannot read " + options.elementsPath;
            return setup;
        }
        text = *read;
    }
    return SetUpTargets(options.targets, options.elementsPath, text, *options.station);
}

predict::JulianDate UtcNow() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const double seconds = std::chrono::duration<double>(since).count();
    return predict::AddSeconds({predict::kUnixEpochJulianDate, 0}, seconds);
}

std::string Stamped(predict::JulianDate at, std::string_view text) {
    return predict::FormatUtc(at) + "  " + std::string(text);
}

}  // namespace sky
