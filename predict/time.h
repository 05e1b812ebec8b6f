// UTC time for the prediction library: a Julian date kept in two parts, the proleptic Gregorian
// calendar, and the "YYYY-MM-DD HH:MM:SS" text the programs read and print. No leap seconds: a
// UTC day here always has 86400 s, as in the element sets and the models that use them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace predict {

constexpr double kSecondsPerDay = 86400.0;
constexpr double kMinutesPerDay = 1440.0;
constexpr double kUnixEpochJulianDate = 2440587.5;  // 1970-01-01 00:00 UTC

// A UTC moment as a Julian date in two parts, as Vallado's jday gives it, so that the fraction
// keeps sub-microsecond precision: normally day is the Julian date of a midnight (ends in .5)
// and fraction the part of the day since then, but any split with the same sum is the same time.
struct JulianDate {
    double day;
    double fraction;
};

struct CalendarTime {
    int year, month, day;  // Gregorian, month 1..12
    int hour, minute;
    double second;  // 0 <= second < 60
};

// The Julian date of a calendar time; the fields are taken as they are (hour 24 is the next day).
JulianDate FromCalendar(const CalendarTime& utc);
// The calendar time of a Julian date.
CalendarTime ToCalendar(JulianDate utc);

// The same time split the usual way: day at a midnight, 0 <= fraction < 1.
JulianDate Normalised(JulianDate utc);
JulianDate AddSeconds(JulianDate utc, double seconds);
// Seconds from `from` to `to` (negative when `to` comes first).
double SecondsBetween(JulianDate from, JulianDate to);

// "YYYY-MM-DD HH:MM:SS", also with a "T" between date and time, a decimal fraction of the second
// and a trailing "Z". Anything else (another layout, a date that does not exist, an offset from
// UTC) gives no time and the reason, quoting the text.
struct ParsedUtc {
    std::optional<JulianDate> utc;
    std::string error;
};
ParsedUtc ParseUtc(std::string_view text);

// "YYYY-MM-DD HH:MM:SS", rounded to the nearest second.
std::string FormatUtc(JulianDate utc);

}  // namespace predict
