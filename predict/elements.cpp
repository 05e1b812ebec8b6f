#include "predict/elements.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

namespace predict {

namespace {

constexpr size_t kElementLineLength = 69;
constexpr size_t kMaxCloseNames = 5;
// Two-digit epoch years from 57 on are 1957..1999 (the first satellite flew in 1957), the
// others 2000..2056.
constexpr int kFirstCenturyYear = 57;
constexpr double kEpochFractionScale = 1.0e8;  // the epoch's day fraction has eight digits

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view TrimmedRight(std::string_view text) {
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view Trimmed(std::string_view text) {
    text = TrimmedRight(text);
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    return text;
}

bool AllDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit);
}

int WholeValue(std::string_view digits) {
    int value = 0;
    for (char c : digits) value = value * 10 + (c - '0');
    return value;
}

// Up to five digits, or the Alpha-5 form of the numbers from 100000 on: a letter (not I or O)
// for the ten-thousands from 10 on, then four digits ("A0001" is 100001).
std::optional<int> CatalogueNumberOf(std::string_view text) {
    text = Trimmed(text);
    if (AllDigits(text) && text.size() <= 5) return WholeValue(text);
    const char letter = text.empty() ? '\0' : text.front();
    if (text.size() != 5 || letter < 'A' || letter > 'Z' || letter == 'I' || letter == 'O' ||
        !AllDigits(text.substr(1)))
        return std::nullopt;
    const int tens = 10 + (letter - 'A') - (letter > 'I' ? 1 : 0) - (letter > 'O' ? 1 : 0);
    return tens * 10000 + WholeValue(text.substr(1));
}

struct TextLine {
    std::string_view text;  // without its line end and trailing blanks
    int number;             // from 1
};

// The lines of a text, ended by LF, CRLF or CR.
class LineSplitter {
public:
    explicit LineSplitter(std::string_view text) : rest_(text) {}

    bool Next(TextLine* line) {
        if (rest_.empty()) return false;
        const size_t end = std::min(rest_.find_first_of("\r\n"), rest_.size());
        line->text = TrimmedRight(rest_.substr(0, end));
        line->number = ++count_;
        size_t next = end + 1;
        if (end + 1 < rest_.size() && rest_[end] == '\r' && rest_[end + 1] == '\n') ++next;
        rest_.remove_prefix(std::min(next, rest_.size()));
        return true;
    }

private:
    std::string_view rest_;
    int count_ = 0;
};

// The whole-line checks of an element line (69 printable characters, the checksum); empty
// when it passes.
std::string LineProblem(std::string_view line) {
    if (line.size() != kElementLineLength)
        return "an element line has 69 characters, this one has " + std::to_string(line.size());
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] < ' ' || line[i] > '~')
            return "column " + std::to_string(i + 1) + " holds a character that is not text";
    }
    if (!IsDigit(line.back())) return "column 69 holds no checksum digit";
    const int sum = ElementLineChecksum(line);
    if (sum != line.back() - '0')
        return "checksum: the line adds up to " + std::to_string(sum) + ", its last digit is " +
               line.back();
    return {};
}

// A decimal number with an optional sign and point: "  34.2682", "-.00000084", "+1.5".
std::optional<double> DecimalValue(std::string_view text) {
    text = Trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const size_t points = std::count(text.begin(), text.end(), '.');
    const size_t digits = std::count_if(text.begin(), text.end(), IsDigit);
    if (points > 1 || digits == 0 || points + digits != text.size()) return std::nullopt;
    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
    return negative ? -value : value;
}

// The columns of one element line, numbered from 1 as the format describes them. Keeps the
// first problem found; the values read after it do not count.
class ColumnReader {
public:
    explicit ColumnReader(std::string_view line) : line_(line) {}

    const std::string& problem() const { return problem_; }

    std::string_view Columns(int first, int last) const {
        return line_.substr(static_cast<size_t>(first - 1), static_cast<size_t>(last - first + 1));
    }

    void Refuse(std::string reason) {
        if (problem_.empty()) problem_ = std::move(reason);
    }

    void Spaces(std::initializer_list<int> columns) {
        for (int column : columns) {
            if (line_[static_cast<size_t>(column - 1)] != ' ')
                Refuse("column " + std::to_string(column) + " should be a space");
        }
    }

    double Decimal(int first, int last, const char* what) {
        const std::optional<double> value = DecimalValue(Columns(first, last));
        if (!value) RefuseField(first, last, what, "is not a number");
        return value.value_or(0.0);
    }

    // Digits with leading spaces; all spaces read as 0 when `blank_is_zero`.
    int Whole(int first, int last, const char* what, bool blank_is_zero) {
        const std::string_view text = Trimmed(Columns(first, last));
        if (text.empty() && blank_is_zero) return 0;
        if (AllDigits(text)) return WholeValue(text);
        RefuseField(first, last, what, "is not a whole number");
        return 0;
    }

    int CatalogueNumber(int first, int last) {
        const std::optional<int> number = CatalogueNumberOf(Columns(first, last));
        if (!number) RefuseField(first, last, "the catalogue number", "is not a number");
        return number.value_or(0);
    }

    // Sign, five digits with the point before them, exponent: " 12345-6" is 0.12345e-6.
    double ImpliedPointWithExponent(int first, const char* what) {
        const std::string_view text = Columns(first, first + 7);
        const bool sound = (text[0] == ' ' || text[0] == '+' || text[0] == '-') &&
                           AllDigits(text.substr(1, 5)) &&
                           (text[6] == ' ' || text[6] == '+' || text[6] == '-') && IsDigit(text[7]);
        if (!sound) {
            RefuseField(first, first + 7, what, "is not a number in the form \" 12345-6\"");
            return 0.0;
        }
        const double mantissa = *DecimalValue("." + std::string(text.substr(1, 5)));
        const int exponent = (text[6] == '-' ? -1 : 1) * (text[7] - '0');
        return (text[0] == '-' ? -mantissa : mantissa) * std::pow(10.0, exponent);
    }

    // Seven digits after an implied "0."; spaces count as zeros (older files leave them).
    double ImpliedLeadingPoint(int first, int last, const char* what) {
        std::string digits(Columns(first, last));
        std::replace(digits.begin(), digits.end(), ' ', '0');
        if (!AllDigits(digits)) {
            RefuseField(first, last, what, "is not 7 digits");
            return 0.0;
        }
        return *DecimalValue("0." + digits);
    }

    // A rule a field's value must keep: "<what> <field> is <broken>" when it does not.
    void Require(bool holds, int first, int last, const char* what, const char* broken) {
        if (holds) return;
        Refuse(std::string(what) + " " + std::string(Trimmed(Columns(first, last))) + " is " +
               broken);
    }

private:
    void RefuseField(int first, int last, const char* what, const char* fault) {
        Refuse(std::string(what) + " (columns " + std::to_string(first) + "-" +
               std::to_string(last) + ") " + fault + ": \"" + std::string(Columns(first, last)) +
               "\"");
    }

    std::string_view line_;
    std::string problem_;
};

// The epoch: a two-digit year and the day of the year with its fraction (day 1.0 is 1 January
// 00:00 UTC). The fraction is kept to the eight digits the line has, so that the time since
// epoch comes out as in the 2006 revision's reference code.
JulianDate EpochOf(int two_digit_year, double day_of_year) {
    const int year = two_digit_year + (two_digit_year < kFirstCenturyYear ? 2000 : 1900);
    const double whole_day = std::floor(day_of_year);
    const double january0 = FromCalendar({year, 1, 1, 0, 0, 0.0}).day - 1.0;
    const double fraction =
        std::nearbyint((day_of_year - whole_day) * kEpochFractionScale) / kEpochFractionScale;
    return {january0 + whole_day, fraction};
}

bool InRange(double angle_deg, double high_deg) {
    return angle_deg >= 0.0 && angle_deg <= high_deg;
}

void ReadLine1(ColumnReader& columns, ElementSet* set) {
    columns.Spaces({9, 18, 33, 44, 53, 62, 64});
    set->catalogue_number = columns.CatalogueNumber(3, 7);
    set->classification = columns.Columns(8, 8)[0];
    set->international_designator = std::string(Trimmed(columns.Columns(10, 17)));
    const int year = columns.Whole(19, 20, "the epoch year", false);
    const double day = columns.Decimal(21, 32, "the epoch day");
    columns.Require(day >= 1.0 && day < 367.0, 21, 32, "the epoch day", "not a day of the year");
    set->epoch = EpochOf(year, day);
    set->ndot_over_2_rev_per_day2 = columns.Decimal(34, 43, "the mean motion's derivative");
    set->nddot_over_6_rev_per_day3 =
        columns.ImpliedPointWithExponent(45, "the mean motion's second derivative");
    set->bstar_per_earth_radius = columns.ImpliedPointWithExponent(54, "B*");
    set->element_number = columns.Whole(65, 68, "the element set number", true);
}

void ReadLine2(ColumnReader& columns, ElementSet* set) {
    columns.Spaces({8, 17, 26, 34, 43, 52});
    const int number = columns.CatalogueNumber(3, 7);
    if (columns.problem().empty() && number != set->catalogue_number) {
        columns.Refuse("catalogue number " + std::to_string(number) + " differs from line 1's " +
                       std::to_string(set->catalogue_number));
    }
    set->inclination_deg = columns.Decimal(9, 16, "the inclination");
    columns.Require(InRange(set->inclination_deg, 180), 9, 16, "the inclination",
                    "outside 0..180 degrees");
    set->right_ascension_deg = columns.Decimal(18, 25, "the right ascension of the node");
    columns.Require(InRange(set->right_ascension_deg, 360), 18, 25,
                    "the right ascension of the node", "outside 0..360 degrees");
    // Seven digits after "0.": within 0..1 by the format.
    set->eccentricity = columns.ImpliedLeadingPoint(27, 33, "the eccentricity");
    set->argument_of_perigee_deg = columns.Decimal(35, 42, "the argument of perigee");
    columns.Require(InRange(set->argument_of_perigee_deg, 360), 35, 42, "the argument of perigee",
                    "outside 0..360 degrees");
    set->mean_anomaly_deg = columns.Decimal(44, 51, "the mean anomaly");
    columns.Require(InRange(set->mean_anomaly_deg, 360), 44, 51, "the mean anomaly",
                    "outside 0..360 degrees");
    set->mean_motion_rev_per_day = columns.Decimal(53, 63, "the mean motion");
    columns.Require(set->mean_motion_rev_per_day > 0.0, 53, 63, "the mean motion",
                    "not above 0 revolutions a day");
    set->revolution_number = columns.Whole(64, 68, "the revolution number", true);
}

using LineReader = void (*)(ColumnReader&, ElementSet*);

// The problem that refuses an element line, or empty when there is none.
std::string LineFieldsProblem(const TextLine& line, LineReader read, ElementSet* set) {
    std::string problem = LineProblem(line.text);
    if (!problem.empty()) return problem;
    ColumnReader columns(line.text);
    read(columns, set);
    return columns.problem();
}

// Reads a set's two lines; the problem found first (in line 1, then line 2) refuses it.
void ReadSet(const TextLine& line1, const TextLine& line2, std::string name, ElementFile* file) {
    ElementSet set{};
    set.name = std::move(name);
    set.line_number = line1.number;
    const std::pair<const TextLine*, LineReader> lines[] = {{&line1, ReadLine1},
                                                            {&line2, ReadLine2}};
    for (const auto& [line, read] : lines) {
        std::string problem = LineFieldsProblem(*line, read, &set);
        if (!problem.empty()) {
            file->problems.push_back({line->number, std::move(problem)});
            return;
        }
    }
    file->sets.push_back(std::move(set));
}

bool StartsElementLine(std::string_view text, char digit) {
    return text.size() >= 2 && text[0] == digit && text[1] == ' ';
}

// What the parser holds between lines: a name line and a line 1 not yet used.
struct PendingSet {
    std::optional<TextLine> name;
    std::optional<TextLine> line1;
};

void ReportUnused(PendingSet* pending, ElementFile* file) {
    if (pending->line1) {
        file->problems.push_back({pending->line1->number, "line 1 without its line 2"});
    } else if (pending->name) {
        file->problems.push_back(
            {pending->name->number, "a name line without the two element lines after it"});
    }
    *pending = {};
}

std::string NameOf(std::string_view line) {
    if (line.size() >= 2 && line[0] == '0' && line[1] == ' ') line.remove_prefix(2);
    return std::string(Trimmed(line));
}

bool SameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string Lowered(std::string_view text) {
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), Lower);
    return lowered;
}

// The number of letters to change, insert or delete to turn one text into the other.
size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

int ElementLineChecksum(std::string_view line) {
    int sum = 0;
    for (size_t i = 0; i + 1 < kElementLineLength && i < line.size(); ++i) {
        if (IsDigit(line[i])) sum += line[i] - '0';
        if (line[i] == '-') ++sum;
    }
    return sum % 10;
}

ElementFile ParseElementFile(std::string_view text) {
    ElementFile file;
    PendingSet pending;
    LineSplitter lines(text);
    TextLine line;
    while (lines.Next(&line)) {
        if (Trimmed(line.text).empty()) continue;
        if (StartsElementLine(line.text, '2')) {
            if (pending.line1) {
                ReadSet(*pending.line1, line, pending.name ? NameOf(pending.name->text) : "",
                        &file);
            } else {
                file.problems.push_back({line.number, "line 2 without a line 1 before it"});
            }
            pending = {};
            continue;
        }
        if (StartsElementLine(line.text, '1')) {
            if (pending.line1) ReportUnused(&pending, &file);
            pending.line1 = line;
        } else {  // a name line
            if (pending.line1 || pending.name) ReportUnused(&pending, &file);
            pending.name = line;
        }
    }
    ReportUnused(&pending, &file);
    return file;
}

const ElementSet* FindElementSet(const std::vector<ElementSet>& sets, std::string_view name) {
    const std::string_view wanted = Trimmed(name);
    const std::optional<int> number = CatalogueNumberOf(wanted);
    const ElementSet* found = nullptr;
    for (const ElementSet& set : sets) {
        const bool matches = SameLetters(set.name, wanted) || set.catalogue_number == number;
        const bool later = found == nullptr || SecondsBetween(found->epoch, set.epoch) > 0;
        if (matches && later) found = &set;
    }
    return found;
}

std::vector<std::string> NamesThatComeClose(const std::vector<ElementSet>& sets,
                                            std::string_view name) {
    const std::string wanted = Lowered(Trimmed(name));
    const size_t allowedEdits = std::max<size_t>(1, wanted.size() / 3);
    std::vector<std::pair<size_t, std::string>> close;  // (closeness, name), 0 the closest
    for (const ElementSet& set : sets) {
        const std::string candidate = Lowered(set.name);
        if (candidate.empty() || wanted.empty()) continue;
        const bool within = candidate.find(wanted) != std::string::npos ||
                            wanted.find(candidate) != std::string::npos;
        const size_t edits = within ? 0 : EditDistance(candidate, wanted);
        if (edits <= allowedEdits) close.emplace_back(edits, set.name);
    }
    std::sort(close.begin(), close.end());
    std::vector<std::string> names;
    for (const auto& entry : close) {
        if (names.size() == kMaxCloseNames) break;
        if (std::find(names.begin(), names.end(), entry.second) == names.end())
            names.push_back(entry.second);
    }
    return names;
}

}  // namespace predict
