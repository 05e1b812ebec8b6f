#include "kelmarotd/rotctl_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kelmarotd {
namespace {

struct CommandName {
    char shortName;  // '\0': long form only
    std::string_view longName;
    Command command;
    size_t argumentCount;
};

constexpr CommandName kCommands[] = {
    {'P', "set_pos", Command::kSetPosition, 2}, {'p', "get_pos", Command::kGetPosition, 0},
    {'S', "stop", Command::kStop, 0},           {'K', "park", Command::kPark, 0},
    {'_', "get_info", Command::kGetInfo, 0},    {'\0', "dump_state", Command::kDumpState, 0},
    {'q', "quit", Command::kQuit, 0},           {'Q', "quit", Command::kQuit, 0},
};

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
    return c == ' ' || c == '\t' || c == '\r';
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

// A decimal number: optional sign, digits with an optional fraction, optional exponent. No
// locale, no hexadecimal, no "inf" or "nan", nothing after it.
std::optional<double> ParseNumber(const std::string& word) {
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

// The command word: "\name" for the long form, else the first character alone; the rest of
// the line holds the arguments.
const CommandName* FindCommand(std::string_view* text) {
    if (text->empty()) return nullptr;
    std::string_view name;
    if ((*text)[0] == '\\') {
        size_t end = 1;
        while (end < text->size() && !IsSpace((*text)[end])) ++end;
        name = text->substr(1, end - 1);
        *text = text->substr(end);
        for (const CommandName& c : kCommands)
            if (c.longName == name) return &c;
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
        out += v.key.empty() ? PlainText(v) : v.key + ": " + v.value;
        out += separator;
    }
    return out + StatusLine(reply.status) + "\n";
}

}  // namespace

Request ParseRequest(std::string_view line) {
    Request request;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = SkipSpace(line);
    if (!line.empty()) request.separator = SeparatorOf(line[0]);
    if (request.separator) line = line.substr(1);

    const CommandName* found = FindCommand(&line);
    if (found == nullptr) return request;
    request.name = found->longName;
    request.arguments = SplitWords(line);
    if (request.arguments.size() != found->argumentCount) return request;
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

size_t LineReader::Feed(std::string_view bytes) {
    if (complete_) return 0;
    const size_t end = bytes.find('\n');
    const std::string_view part = bytes.substr(0, end);
    if (!overlong_ && text_.size() + part.size() <= kMaxLineLength) {
        text_.append(part);
    } else {
        overlong_ = true;
        text_.clear();
    }
    if (end == std::string_view::npos) return bytes.size();
    complete_ = true;
    return end + 1;
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
