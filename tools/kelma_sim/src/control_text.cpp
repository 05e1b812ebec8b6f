#include "control_text.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

namespace kelma {

Words SplitWords(const std::string& line) {
    static const char* const kSpace = " \t\r\n\v\f";
    Words words;
    for (size_t start = line.find_first_not_of(kSpace); start != std::string::npos;) {
        const size_t end = line.find_first_of(kSpace, start);
        words.push_back(line.substr(start, end - start));
        start = line.find_first_not_of(kSpace, end);
    }
    return words;
}

std::optional<long> ParseInteger(const std::string& text, long min, long max) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<double> ParseNumber(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || std::isnan(value)) return std::nullopt;
    return value;
}

std::string Ok(const std::string& text) {
    return text.empty() ? "ok" : "ok " + text;
}

std::string Err(const std::string& text) {
    return "err " + text;
}

bool IsError(const std::string& reply) {
    return reply.rfind("err", 0) == 0;
}

}  // namespace kelma
