#include "feed/options.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "kelmarotd/listen_address.h"
#include "kelmarotd/options.h"

namespace kelmafeed {

const std::string kUsage =
    std::string(
        "Usage: kelmafeed [--source=SOURCE] [--log=FILE] [--elements FILE --station LAT,LON]\n"
        "       kelmafeed --source=sky --elements FILE --station LAT,LON --track NAME [...]\n"
        "Offers a tracking program's positions, or our own prediction's, as the DDE service\n"
        "\"WinOrbit\" that KelmaRotator follows.\n"
        "  -s, --source=SOURCE    orbitron   Orbitron (Orbitron/Tracking/TrackingData)\n"
        "                         satpc32    SatPC32 (SatPC32/SatPcDdeConv/SatPcDdeItem) or its\n"
        "                                    ISS edition (SatPC32ISS/SatPcDdeConv/SatPcDdeItem)\n"
        "                         dde:SERVICE/TOPIC/ITEM  another program with the same text\n"
        "                         net[:PORT] rotctld protocol (port 4533; 0: any free)\n"
        "                         sky        our own prediction of --track\n"
        "                         default: whichever of the first three programs runs\n"
        "  -T, --listen-addr=ADDRESS  with net: numeric address to listen on (default\n"
        "                         127.0.0.1); give -T again for more\n"
        "      --log=FILE         log the \"WinOrbit\" service's DDE events to FILE\n"
        "  -h, --help             this text\n"
        "  -V, --version          the version\n"
        "Passes planned so that the antenna never crosses its stop at north, going over the top\n"
        "(elevation up to 180) unless --el-max says not: those of --source=sky, and those of a\n"
        "relayed satellite found in --elements, with --station (--track, --at and --speed are\n"
        "for --source=sky only):\n") +
    sky::kSkyOptionsUsage;

namespace {

constexpr char kDdePrefix[] = "dde:";
constexpr char kNetName[] = "net";
constexpr char kSkyName[] = "sky";
constexpr unsigned long kPortMax = 65535;
constexpr size_t kPortDigitsMax = 5;

const DdeSource kOrbitron = {"Orbitron", "Orbitron", "Tracking", "TrackingData"};
const DdeSource kSatPc32 = {"SatPC32", "SatPC32", "SatPcDdeConv", "SatPcDdeItem"};
// SatPC32's ISS edition serves the same topic and item under its own name (SatPC32 12.9, as
// github.com/nigelfenton/shack-track DDE-FORMAT.md records it: "SatPC32ISS for the ISS build").
const DdeSource kSatPc32Iss = {"SatPC32ISS", "SatPC32ISS", "SatPcDdeConv", "SatPcDdeItem"};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// "dde:SERVICE/TOPIC/ITEM", each part non-empty; the item may hold further slashes.
bool ParseDdeSource(const std::string& text, DdeSource* source) {
    const std::string names = text.substr(sizeof kDdePrefix - 1);
    const size_t first = names.find('/');
    const size_t second = first == std::string::npos ? first : names.find('/', first + 1);
    if (second == std::string::npos) return false;
    *source = {text, names.substr(0, first), names.substr(first + 1, second - first - 1),
               names.substr(second + 1)};
    return !source->service.empty() && !source->topic.empty() && !source->item.empty();
}

// "net" or "net:PORT", PORT a whole number 0..65535.
std::optional<uint16_t> ParseNetSource(const std::string& lower) {
    if (lower == kNetName) return kelmarotd::kDefaultPort;
    const std::string prefix = std::string(kNetName) + ":";
    if (lower.rfind(prefix, 0) != 0) return std::nullopt;
    const std::string port = lower.substr(prefix.size());
    if (port.empty() || port.size() > kPortDigitsMax ||
        port.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const unsigned long value = std::stoul(port);
    if (value > kPortMax) return std::nullopt;
    return static_cast<uint16_t>(value);
}

bool ParseSource(const std::string& text, Options* options) {
    const std::string lower = Lower(text);
    DdeSource source;
    options->skySource = false;
    if (const std::optional<uint16_t> port = ParseNetSource(lower)) {
        options->netPort = port;
        options->sources.clear();
        return true;
    }
    if (lower == kSkyName) {
        options->skySource = true;
        options->sources.clear();
        options->netPort.reset();
        return true;
    }
    if (lower == "orbitron") {
        options->sources = {kOrbitron};
    } else if (lower == "satpc32") {
        options->sources = {kSatPc32, kSatPc32Iss};
    } else if (lower.rfind(kDdePrefix, 0) == 0 && ParseDdeSource(text, &source)) {
        options->sources = {source};
    } else {
        options->action = Options::Action::kFail;
        options->error =
            "--source takes orbitron, satpc32, dde:SERVICE/TOPIC/ITEM, net[:PORT] or sky, "
            "not \"" +
            text + "\"";
        return false;
    }
    options->netPort.reset();
    return true;
}

// The tracking engine's options: with the sky source, all that following --track needs; with a
// relayed source, --elements and --station both or neither, and only what planning its passes
// takes. An option that would do nothing is refused, not ignored.
std::optional<std::string> SkyOptionsProblem(const Options& options,
                                             const std::set<std::string>& given) {
    if (options.skySource) return sky::MissingForTracking(options.sky);
    for (const char* own : {"--track", "--at", "--speed"}) {
        if (given.count(own) > 0)
            return std::string(own) + " is for our own prediction: add --source sky";
    }
    const bool planned = given.count("--elements") > 0;
    if (planned != (given.count("--station") > 0))
        return "--elements and --station go together: with both, the relay plans the passes of "
               "the satellites its source names";
    for (const char* planning : {"--lead", "--park", "--el-max"}) {
        if (!planned && given.count(planning) > 0)
            return std::string(planning) +
                   " is for planned passes: add --elements FILE and --station LAT,LON";
    }
    return std::nullopt;
}

Options Fail(Options options, const std::string& why) {
    options.action = Options::Action::kFail;
    options.error = why;
    return options;
}

}  // namespace

std::vector<DdeSource> KnownSources() {
    return {kOrbitron, kSatPc32, kSatPc32Iss};
}

std::string SourcesName(const std::vector<DdeSource>& sources) {
    std::string name;
    for (size_t i = 0; i < sources.size(); ++i) {
        if (i > 0) name += i + 1 == sources.size() ? " or " : ", ";
        name += sources[i].name;
    }
    return name;
}

Options ParseOptions(const std::vector<std::string>& arguments) {
    Options options;
    options.sources = KnownSources();
    kelmarotd::ListenAddresses addresses;
    bool addressGiven = false;
    std::set<std::string> skyGiven;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        const size_t equals = arg.find('=');
        const std::string name = arg.rfind("--", 0) == 0 ? arg.substr(0, equals) : arg;
        const bool inlineValue = name.size() < arg.size();
        const bool isAddress = name == "-T" || name == "--listen-addr";
        const bool isSky = sky::IsSkyOption(name);
        const bool takesValue =
            name == "--source" || name == "-s" || name == "--log" || isAddress || isSky;
        if (takesValue && !inlineValue && i + 1 == arguments.size())
            return Fail(options, name + " needs a value");
        const std::string value = !takesValue   ? ""
                                  : inlineValue ? arg.substr(equals + 1)
                                                : arguments[++i];
        if (name == "-h" || name == "--help") {
            options.action = Options::Action::kHelp;
        } else if (name == "-V" || name == "--version") {
            options.action = Options::Action::kVersion;
        } else if (name == "--source" || name == "-s") {
            if (!ParseSource(value, &options)) return options;
        } else if (name == "--log") {
            options.logPath = value;
        } else if (isAddress) {
            if (const auto refused = addresses.Add(value)) return Fail(options, *refused);
            addressGiven = true;
        } else if (isSky) {
            if (const auto refused = sky::ParseSkyOption(name, value, &options.sky))
                return Fail(options, *refused);
            skyGiven.insert(name);
        } else {
            return Fail(options, "unknown argument \"" + arg + "\"");
        }
    }
    // Given without the network source it would do nothing the operator could see.
    if (addressGiven && !options.netPort && options.action == Options::Action::kRelay)
        return Fail(options, "-T (--listen-addr) is for the network source: add --source net");
    if (options.action == Options::Action::kRelay) {
        if (const auto problem = SkyOptionsProblem(options, skyGiven))
            return Fail(options, *problem);
    }
    options.netAddresses = addresses.List();
    return options;
}

}  // namespace kelmafeed
