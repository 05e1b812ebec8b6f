#include "feed/tracking_text.h"

#include <array>
#include <cmath>

namespace kelmafeed {
namespace {

constexpr std::string_view kSatPc32NoSatellite = "** NO SATELLITE **";
// The fields the programs document; a word starting with another prefix is skipped, or, right
// after an unquoted name, read as part of that name. "AOS" (Orbitron's extended item) comes
// before the two-letter prefixes so that it is not read as another field.
constexpr std::array<std::string_view, 10> kKnownFields = {"AOS", "SN", "AZ", "EL", "UP",
                                                           "DN",  "UM", "DM", "MA", "RR"};
constexpr size_t kAosField = 0;
constexpr size_t kNameField = 1;
constexpr size_t kAzimuthField = 2;
constexpr size_t kElevationField = 3;
constexpr double kAzimuthMax = 360.0;
constexpr double kElevationMagnitudeMax = 90.0;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// The index in kKnownFields of the field a word starts, if any.
std::optional<size_t> KnownField(std::string_view word) {
    for (size_t i = 0; i < kKnownFields.size(); ++i) {
        if (word.substr(0, kKnownFields[i].size()) == kKnownFields[i]) return i;
    }
    return std::nullopt;
}

// A decimal number as the whole text: an optional sign, digits, and an optional fraction after
// a point or a comma. At least one digit; no exponent.
std::optional<double> ParseDecimal(std::string_view text) {
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) ++i;
    double value = 0;
    size_t digits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i, ++digits) value = value * 10 + (text[i] - '0');
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
        double scale = 1;
        for (++i; i < text.size() && IsDigit(text[i]); ++i, ++digits) {
            scale /= 10;
            value += (text[i] - '0') * scale;
        }
    }
    if (digits == 0 || i != text.size()) return std::nullopt;
    return negative ? -value : value;
}

std::string WithoutQuotes(std::string_view text) {
    std::string result;
    for (char c : text) {
        if (c != '"') result += c;
    }
    return result;
}

// Walks the words of a text. Blanks inside double quotes do not end a word.
class Words {
public:
    explicit Words(std::string_view text) : m_text(text) {}

    // The next word, or an empty view at the end.
    std::string_view Next() {
        while (m_pos < m_text.size() && IsBlank(m_text[m_pos])) ++m_pos;
        const size_t start = m_pos;
        bool quoted = false;
        for (; m_pos < m_text.size() && (quoted || !IsBlank(m_text[m_pos])); ++m_pos) {
            if (m_text[m_pos] == '"') quoted = !quoted;
        }
        m_openQuote = m_openQuote || quoted;
        return m_text.substr(start, m_pos - start);
    }
    // The words after the current one up to the next known field, with the blanks between.
    std::string_view RunOn() {
        const size_t start = m_pos;
        size_t end = m_pos;
        for (Words ahead = *this;;) {
            const std::string_view word = ahead.Next();
            if (word.empty() || KnownField(word)) break;
            end = ahead.m_pos;
        }
        m_pos = end;
        return m_text.substr(start, end - start);
    }
    bool OpenQuote() const { return m_openQuote; }

private:
    std::string_view m_text;
    size_t m_pos = 0;
    bool m_openQuote = false;
};

struct Fields {
    std::optional<std::string> name;
    std::optional<double> azimuth;
    std::optional<double> elevation;
    bool notice = false;  // an "AOS" field
};

// Reads the fields; false when a field other than "AOS" is repeated, a number is not one or a
// quote is open. Orbitron gives an AOS notice for each tracked object, so that one may repeat.
bool ReadFields(std::string_view text, Fields& fields) {
    std::array<bool, kKnownFields.size()> seen{};
    Words words(text);
    for (std::string_view word = words.Next(); !word.empty(); word = words.Next()) {
        const std::optional<size_t> field = KnownField(word);
        if (!field) continue;
        if (seen[*field] && *field != kAosField) return false;
        seen[*field] = true;
        const std::string_view value = word.substr(kKnownFields[*field].size());
        if (*field == kNameField) {
            // An unquoted name may hold blanks (SatPC32 keeps them): it runs on to the next field.
            const bool quoted = !value.empty() && value.front() == '"';
            fields.name =
                WithoutQuotes(quoted ? value : std::string(value) + std::string(words.RunOn()));
        } else if (*field == kAzimuthField || *field == kElevationField) {
            const std::optional<double> number = ParseDecimal(value);
            if (!number) return false;
            (*field == kAzimuthField ? fields.azimuth : fields.elevation) = number;
        } else if (*field == kAosField) {
            fields.notice = true;
        }
    }
    return !words.OpenQuote();
}

}  // namespace

TrackingReading ParseTrackingText(std::string_view text) {
    TrackingReading reading;
    text = Trim(text.substr(0, text.find('\0')));
    if (text.empty() || text == kSatPc32NoSatellite) {
        reading.kind = TrackingKind::kNothingTracked;
        return reading;
    }
    Fields fields;
    if (!ReadFields(text, fields)) return reading;
    // Orbitron's extended item holds only an AOS notice while nothing is tracked.
    if (fields.notice && !fields.name && !fields.azimuth && !fields.elevation) {
        reading.kind = TrackingKind::kNothingTracked;
        return reading;
    }
    if (!fields.azimuth || !fields.elevation) return reading;
    const double azimuth = *fields.azimuth;
    const double elevation = *fields.elevation;
    // Out of range is as unusable as no number; the comparisons also refuse what overflowed.
    if (!(azimuth >= 0 && azimuth <= kAzimuthMax)) return reading;
    if (!(std::fabs(elevation) <= kElevationMagnitudeMax)) return reading;
    reading.kind = TrackingKind::kPosition;
    reading.satellite = fields.name;
    reading.azimuth = static_cast<int32_t>(std::lround(azimuth));
    reading.elevation = static_cast<int32_t>(std::lround(elevation));
    return reading;
}

}  // namespace kelmafeed
