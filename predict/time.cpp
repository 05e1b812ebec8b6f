#include "predict/time.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace predict {

namespace {

// Beyond this many days from 1970 the calendar answers mean nothing; bounding the day count keeps
// its conversion to an integer defined for any input (NaN included).
constexpr double kCalendarDayLimit = 1.0e9;

int64_t BoundedDayCount(double days) {
    if (!(days > -kCalendarDayLimit)) return static_cast<int64_t>(-kCalendarDayLimit);
    if (!(days < kCalendarDayLimit)) return static_cast<int64_t>(kCalendarDayLimit);
    return static_cast<int64_t>(std::floor(days));
}

// Days from 1970-01-01 to a Gregorian date, and back: H. Hinnant, "chrono-Compatible Low-Level
// Date Algorithms" (days_from_civil, civil_from_days), eras of 400 years from 0000-03-01.
int64_t DaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, int* year, int* month, int* day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // 0 is March
    *day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    *month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    *year = static_cast<int>(yearOfEra + era * 400 + (*month <= 2 ? 1 : 0));
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The value of `count` digits at `at`, or -1 when one of them is not a digit.
int DigitsAt(std::string_view text, size_t at, size_t count) {
    if (at + count > text.size()) return -1;
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (!IsDigit(text[i])) return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Whether the character at `at` is one of `accepted`.
bool CharAt(std::string_view text, size_t at, std::string_view accepted) {
    return at < text.size() && accepted.find(text[at]) != std::string_view::npos;
}

// The text for a message: printable ASCII only, and not too long for a console line.
std::string Quoted(std::string_view text) {
    constexpr size_t kMaxQuoted = 40;
    std::string quoted = "\"";
    for (size_t i = 0; i < text.size() && i < kMaxQuoted; ++i)
        quoted += text[i] >= ' ' && text[i] <= '~' ? text[i] : '?';
    return quoted + (text.size() > kMaxQuoted ? "...\"" : "\"");
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Reads a decimal fraction of the second (".5", ".250") at `*at`, if there is one.
double FractionOfSecondAt(std::string_view text, size_t* at) {
    if (!CharAt(text, *at, ".") || *at + 1 >= text.size() || !IsDigit(text[*at + 1])) return 0.0;
    double fraction = 0.0;
    double scale = 0.1;
    for (++*at; *at < text.size() && IsDigit(text[*at]); ++*at, scale *= 0.1)
        fraction += (text[*at] - '0') * scale;
    return fraction;
}

std::string FieldRangeError(int year, int month, int day, int hour, int minute, int second) {
    char reason[80];
    if (month < 1 || month > 12) {
        snprintf(reason, sizeof reason, "month %02d is not 01..12", month);
    } else if (day < 1 || day > DaysInMonth(year, month)) {
        snprintf(reason, sizeof reason, "%04d-%02d has no day %02d", year, month, day);
    } else if (hour > 23) {
        snprintf(reason, sizeof reason, "hour %02d is not 00..23", hour);
    } else if (minute > 59) {
        snprintf(reason, sizeof reason, "minute %02d is not 00..59", minute);
    } else if (second > 59) {
        snprintf(reason, sizeof reason, "second %02d is not 00..59 (leap seconds are not kept)",
                 second);
    } else {
        return {};
    }
    return reason;
}

}  // namespace

JulianDate Normalised(JulianDate utc) {
    double day = std::floor(utc.day - 0.5) + 0.5;
    double fraction = utc.fraction + (utc.day - day);
    const double carry = std::floor(fraction);
    day += carry;
    fraction -= carry;
    if (fraction >= 1.0) {  // a fraction just below 0 rounds to 1 once carried
        day += 1.0;
        fraction = 0.0;
    }
    return {day, fraction};
}

JulianDate FromCalendar(const CalendarTime& utc) {
    const double midnight =
        static_cast<double>(DaysFromCivil(utc.year, utc.month, utc.day)) + kUnixEpochJulianDate;
    const double seconds = utc.hour * 3600.0 + utc.minute * 60.0 + utc.second;
    return Normalised({midnight, seconds / kSecondsPerDay});
}

CalendarTime ToCalendar(JulianDate utc) {
    const JulianDate n = Normalised(utc);
    CalendarTime calendar{};
    CivilFromDays(BoundedDayCount(n.day - kUnixEpochJulianDate), &calendar.year, &calendar.month,
                  &calendar.day);
    const double seconds = n.fraction * kSecondsPerDay;
    const int64_t whole = BoundedDayCount(seconds);
    calendar.hour = static_cast<int>(whole / 3600);
    calendar.minute = static_cast<int>(whole / 60 % 60);
    calendar.second = seconds - static_cast<double>(whole - whole % 60);
    return calendar;
}

JulianDate AddSeconds(JulianDate utc, double seconds) {
    return Normalised({utc.day, utc.fraction + seconds / kSecondsPerDay});
}

double SecondsBetween(JulianDate from, JulianDate to) {
    return ((to.day - from.day) + (to.fraction - from.fraction)) * kSecondsPerDay;
}

ParsedUtc ParseUtc(std::string_view text) {
    const std::string_view t = Trimmed(text);
    const int year = DigitsAt(t, 0, 4), month = DigitsAt(t, 5, 2), day = DigitsAt(t, 8, 2);
    const int hour = DigitsAt(t, 11, 2), minute = DigitsAt(t, 14, 2), second = DigitsAt(t, 17, 2);
    size_t end = 19;
    const double fraction = FractionOfSecondAt(t, &end);
    const bool offset = CharAt(t, end, "+-");
    if (CharAt(t, end, "Zz")) ++end;
    const bool laidOut = year >= 0 && month >= 0 && day >= 0 && hour >= 0 && minute >= 0 &&
                         second >= 0 && CharAt(t, 4, "-") && CharAt(t, 7, "-") &&
                         CharAt(t, 10, " Tt") && CharAt(t, 13, ":") && CharAt(t, 16, ":") &&
                         end == t.size();
    if (offset)
        return {std::nullopt, Quoted(text) + " is not a UTC time: give it in UTC (a Z at most), " +
                                  "without an offset"};
    if (!laidOut)
        return {std::nullopt, Quoted(text) + " is not a UTC time: write it as YYYY-MM-DD HH:MM:SS"};
    const std::string rangeError = FieldRangeError(year, month, day, hour, minute, second);
    if (!rangeError.empty())
        return {std::nullopt, Quoted(text) + " is not a UTC time: " + rangeError};
    return {FromCalendar({year, month, day, hour, minute, second + fraction}), {}};
}

std::string FormatUtc(JulianDate utc) {
    JulianDate n = Normalised(utc);
    int64_t seconds = BoundedDayCount(std::nearbyint(n.fraction * kSecondsPerDay));
    if (seconds >= static_cast<int64_t>(kSecondsPerDay)) {
        n.day += 1.0;
        seconds = 0;
    }
    int year = 0, month = 0, day = 0;
    CivilFromDays(BoundedDayCount(n.day - kUnixEpochJulianDate), &year, &month, &day);
    char text[48];
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day,
             static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
             static_cast<int>(seconds % 60));
    return text;
}

}  // namespace predict
