#include "kelmarotd/rotctl_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kelmarotd {
namespace {

constexpr size_t kAnyArguments = SIZE_MAX;

struct CommandName {
    char shortName;  // '\0': long form only
    std::string_view longName;
    Command command;
    size_t argumentCount;
};

// Ours, then the rest of the rotator commands of Hamlib 4.5.4's rotctl (tests/rotctl_parse.c,
// test_list), which a server without those functions answers "not available".
constexpr CommandName kCommands[] = {
    {'P', "set_pos", Command::kSetPosition, 2},
    {'p', "get_pos", Command::kGetPosition, 0},
    {'S', "stop", Command::kStop, 0},
    {'K', "park", Command::kPark, 0},
    {'_', "get_info", Command::kGetInfo, 0},
    {'\0', "dump_state", Command::kDumpState, 0},
    {'q', "quit", Command::kQuit, 0},
    {'Q', "quit", Command::kQuit, 0},
    {'R', "reset", Command::kNotAvailable, kAnyArguments},
    {'M', "move", Command::kNotAvailable, kAnyArguments},
    {'V', "set_level", Command::kNotAvailable, kAnyArguments},
    {'v', "get_level", Command::kNotAvailable, kAnyArguments},
    {'U', "set_func", Command::kNotAvailable, kAnyArguments},
    {'u', "get_func", Command::kNotAvailable, kAnyArguments},
    {'X', "set_parm", Command::kNotAvailable, kAnyArguments},
    {'x', "get_parm", Command::kNotAvailable, kAnyArguments},
    {'C', "set_conf", Command::kNotAvailable, kAnyArguments},
    {'\0', "get_conf", Command::kNotAvailable, kAnyArguments},
    {'s', "get_status", Command::kNotAvailable, kAnyArguments},
    {'w', "send_cmd", Command::kNotAvailable, kAnyArguments},
    {'1', "dump_caps", Command::kNotAvailable, kAnyArguments},
    {'L', "lonlat2loc", Command::kNotAvailable, kAnyArguments},
    {'l', "loc2lonlat", Command::kNotAvailable, kAnyArguments},
    {'D', "dms2dec", Command::kNotAvailable, kAnyArguments},
    {'d', "dec2dms", Command::kNotAvailable, kAnyArguments},
    {'E', "dmmm2dec", Command::kNotAvailable, kAnyArguments},
    {'e', "dec2dmmm", Command::kNotAvailable, kAnyArguments},
    {'B', "qrb", Command::kNotAvailable, kAnyArguments},
    {'A', "a_sp2a_lp", Command::kNotAvailable, kAnyArguments},
    {'a', "d_sp2d_lp", Command::kNotAvailable, kAnyArguments},
    {'\0', "pause", Command::kNotAvailable, kAnyArguments},
};

constexpr char kProtocolVersion[] = "1";
constexpr char kModelNumber[] = "2";  // the network rotator's model number in Hamlib's list

// Only the documented separators; '+' means one record a line.
std::optional<char> SeparatorOf(char prefix) {
    switch (prefix) {
        case '+':
            return '\n';
        case ';':
        case '|':
        case ',':
            return prefix;
        default:
            return std::nullopt;
    }
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t';
}

std::string_view SkipSpace(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    return text.substr(i);
}

std::vector<std::string> SplitWords(std::string_view text) {
    std::vector<std::string> words;
    for (text = SkipSpace(text); !text.empty(); text = SkipSpace(text)) {
        size_t end = 0;
        while (end < text.size() && !IsSpace(text[end])) ++end;
        words.emplace_back(text.substr(0, end));
        text = text.substr(end);
    }
    return words;
}

}  // namespace

// As in rotctld, the first comma is a decimal point: clients such as Gpredict format their
// numbers in the user's locale.
std::optional<double> ParseNumber(std::string word) {
    const size_t comma = word.find(',');
    if (comma != std::string::npos) word[comma] = '.';
    size_t i = 0;
    if (i < word.size() && (word[i] == '+' || word[i] == '-')) ++i;
    size_t digits = 0;
    for (; i < word.size() && word[i] >= '0' && word[i] <= '9'; ++i) ++digits;
    if (i < word.size() && word[i] == '.') {
        for (++i; i < word.size() && word[i] >= '0' && word[i] <= '9'; ++i) ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < word.size() && (word[i] == 'e' || word[i] == 'E')) {
        ++i;
        if (i < word.size() && (word[i] == '+' || word[i] == '-')) ++i;
        size_t exponentDigits = 0;
        for (; i < word.size() && word[i] >= '0' && word[i] <= '9'; ++i) ++exponentDigits;
        if (exponentDigits == 0) return std::nullopt;
    }
    if (i != word.size()) return std::nullopt;
    const double value = strtod(word.c_str(), nullptr);
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

namespace {

// The command word: "\name" for the long form, else the first character alone; the rest of
// the line holds the arguments. A backslash before a one-letter name ("\P 180 30", as Look4Sat
// sends it) is that short command too; Hamlib's rotctld looks such a name up among the long
// names only (tests/rotctl_parse.c, parse_arg) and refuses it.
const CommandName* FindCommand(std::string_view* text) {
    if (text->empty()) return nullptr;
    std::string_view name;
    if ((*text)[0] == '\\') {
        size_t end = 1;
        while (end < text->size() && !IsSpace((*text)[end])) ++end;
        name = text->substr(1, end - 1);
        *text = text->substr(end);
        for (const CommandName& c : kCommands) {
            const bool shortForm =
                name.size() == 1 && c.shortName != '\0' && c.shortName == name[0];
            if (c.longName == name || shortForm) return &c;
        }
        return nullptr;
    }
    const char shortName = (*text)[0];
    *text = text->substr(1);
    for (const CommandName& c : kCommands)
        if (c.shortName != '\0' && c.shortName == shortName) return &c;
    return nullptr;
}

void SetPositionArguments(Request* request) {
    const auto azimuth = ParseNumber(request->arguments[0]);
    const auto elevation = ParseNumber(request->arguments[1]);
    if (!azimuth || !elevation) {
        request->command = Command::kInvalid;
        return;
    }
    request->azimuth = *azimuth;
    request->elevation = *elevation;
}

std::string StatusLine(Status status) {
    return "RPRT " + std::to_string(-static_cast<int>(status));
}

std::string PlainText(const Value& v) {
    return v.plainKey.empty() ? v.value : v.plainKey + "=" + v.value;
}

std::string DefaultForm(const Reply& reply) {
    if (reply.status != Status::kOk || reply.values.empty()) return StatusLine(reply.status) + "\n";
    std::string out;
    for (const Value& v : reply.values) out += PlainText(v) + "\n";
    return out;
}

std::string ExtendedForm(const Request& request, const Reply& reply, char separator) {
    std::string out;
    if (!request.name.empty()) {
        out += request.name + ":";
        for (const std::string& argument : request.arguments) out += " " + argument;
        out += separator;
    }
    for (const Value& v : reply.values) {
        if (v.defaultFormOnly) continue;
        out += v.key.empty() ? PlainText(v) : v.key + ": " + v.value;
        out += separator;
    }
    return out + StatusLine(reply.status) + "\n";
}

}  // namespace

Request ParseRequest(std::string_view line) {
    Request request;
    line = SkipSpace(line);
    // rotctld is silent on these too; an answer would put a client one answer out of step.
    if (line.empty() || line[0] == '#') {
        request.command = Command::kBlank;
        return request;
    }
    request.separator = SeparatorOf(line[0]);
    if (request.separator) line = line.substr(1);

    const CommandName* found = FindCommand(&line);
    if (found == nullptr) return request;
    request.name = found->longName;
    request.arguments = SplitWords(line);
    if (found->argumentCount != kAnyArguments && request.arguments.size() != found->argumentCount)
        return request;
    request.command = found->command;
    if (request.command == Command::kSetPosition) SetPositionArguments(&request);
    return request;
}

std::string FormatReply(const Request& request, const Reply& reply) {
    return request.separator ? ExtendedForm(request, reply, *request.separator)
                             : DefaultForm(reply);
}

std::string FormatDegrees(double degrees) {
    char text[32];
    snprintf(text, sizeof(text), "%f", degrees);
    return text;
}

std::optional<int32_t> WholeDegrees(double value, int32_t low, int32_t high) {
    const double rounded = std::round(value);
    if (!(rounded >= low && rounded <= high)) return std::nullopt;
    return static_cast<int32_t>(rounded);
}

Reply PositionReply(double azimuth, double elevation) {
    return Reply{
        Status::kOk,
        {{"Azimuth", FormatDegrees(azimuth), ""}, {"Elevation", FormatDegrees(elevation), ""}}};
}

Reply DumpStateReply(const Limits& limits) {
    const std::string minAzimuth = FormatDegrees(limits.minAzimuth);
    const std::string maxAzimuth = FormatDegrees(limits.maxAzimuth);
    const std::string minElevation = FormatDegrees(limits.minElevation);
    const std::string maxElevation = FormatDegrees(limits.maxElevation);
    // Hamlib's client before 4.5.1 reads the four lines after the model as plain numbers and
    // drops the rest; later ones read key=value lines until "done" and skip the others.
    return Reply{Status::kOk,
                 {{"rotctld Protocol Ver", kProtocolVersion, ""},
                  {"Rotor Model", kModelNumber, ""},
                  {"", minAzimuth, "", true},
                  {"", maxAzimuth, "", true},
                  {"", minElevation, "", true},
                  {"", maxElevation, "", true},
                  {"Minimum Azimuth", minAzimuth, "min_az"},
                  {"Maximum Azimuth", maxAzimuth, "max_az"},
                  {"Minimum Elevation", minElevation, "min_el"},
                  {"Maximum Elevation", maxElevation, "max_el"},
                  {"South Zero", "0", "south_zero"},
                  {"", "AzEl", "rot_type"},
                  {"", "done", ""}}};
}

size_t LineReader::Feed(std::string_view bytes) {
    if (complete_) return 0;
    size_t used = 0;
    if (afterCarriageReturn_ && !bytes.empty()) {
        afterCarriageReturn_ = false;
        if (bytes[0] == '\n') used = 1;
    }
    bytes.remove_prefix(used);
    const size_t end = bytes.find_first_of("\r\n");
    const std::string_view part = bytes.substr(0, end);
    if (!overlong_ && text_.size() + part.size() <= kMaxLineLength) {
        text_.append(part);
    } else {
        overlong_ = true;
        text_.clear();
    }
    if (end == std::string_view::npos) return used + bytes.size();
    complete_ = true;
    afterCarriageReturn_ = bytes[end] == '\r';
    return used + end + 1;
}

std::optional<LineReader::Line> LineReader::TakeLine() {
    if (!complete_) return std::nullopt;
    Line line{std::move(text_), overlong_};
    text_.clear();
    overlong_ = false;
    complete_ = false;
    return line;
}

}  // namespace kelmarotd
