#include "predict/time.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using predict::JulianDate;

struct ParseCase {
    const char* name;
    const char* text;
    double day, fraction;  // expected, when `error` is empty
    const char* error;
};

class ParseUtcTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseUtcTest, ReadsUtcAndRefusesTheRestWithTheReason) {
    const ParseCase& c = GetParam();
    const predict::ParsedUtc parsed = predict::ParseUtc(c.text);
    EXPECT_EQ(parsed.error, c.error);
    ASSERT_EQ(parsed.utc.has_value(), std::string(c.error).empty());
    if (!parsed.utc) return;
    EXPECT_EQ(parsed.utc->day, c.day);
    EXPECT_NEAR(parsed.utc->fraction, c.fraction, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseUtcTest,
    ::testing::Values(
        ParseCase{"J2000Noon", "2000-01-01 12:00:00", 2451544.5, 0.5, ""},
        ParseCase{"WithTAndZ", "2024-02-29T23:59:59Z", 2460369.5, 86399.0 / 86400, ""},
        ParseCase{"LowerCaseTAndZ", "2024-02-29t00:00:30z", 2460369.5, 30.0 / 86400, ""},
        ParseCase{"FractionOfSecond", "1970-01-01 00:00:01.25", 2440587.5, 1.25 / 86400, ""},
        ParseCase{"SpacesAround", "  2006-06-25 18:50:19 ", 2453911.5, 67819.0 / 86400, ""},
        ParseCase{"DateOnly", "2024-05-01", 0, 0,
                  "\"2024-05-01\" is not a UTC time: write it as YYYY-MM-DD HH:MM:SS"},
        ParseCase{"NoSeconds", "2024-05-01 12:00", 0, 0,
                  "\"2024-05-01 12:00\" is not a UTC time: write it as YYYY-MM-DD HH:MM:SS"},
        ParseCase{"LocalZoneName", "2024-05-01 12:00:00 CEST", 0, 0,
                  "\"2024-05-01 12:00:00 CEST\" is not a UTC time: write it as YYYY-MM-DD "
                  "HH:MM:SS"},
        ParseCase{"Offset", "2024-05-01T12:00:00+02:00", 0, 0,
                  "\"2024-05-01T12:00:00+02:00\" is not a UTC time: give it in UTC (a Z at "
                  "most), without an offset"},
        ParseCase{"Month13", "2024-13-01 00:00:00", 0, 0,
                  "\"2024-13-01 00:00:00\" is not a UTC time: month 13 is not 01..12"},
        ParseCase{"February29InCommonYear", "2023-02-29 00:00:00", 0, 0,
                  "\"2023-02-29 00:00:00\" is not a UTC time: 2023-02 has no day 29"},
        ParseCase{"Hour24", "2024-05-01 24:00:00", 0, 0,
                  "\"2024-05-01 24:00:00\" is not a UTC time: hour 24 is not 00..23"},
        ParseCase{"LeapSecond", "2016-12-31 23:59:60", 0, 0,
                  "\"2016-12-31 23:59:60\" is not a UTC time: second 60 is not 00..59 (leap "
                  "seconds are not kept)"},
        ParseCase{"ControlCharactersNotEchoed", "\x1b[2J", 0, 0,
                  "\"?[2J\" is not a UTC time: write it as YYYY-MM-DD HH:MM:SS"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JulianDateTest, CalendarRoundTripsAcrossCenturiesAndLeapDays) {
    const predict::CalendarTime times[] = {
        {1858, 11, 17, 0, 0, 0.0},     {1900, 2, 28, 23, 59, 59.5}, {2000, 2, 29, 6, 30, 15.0},
        {2100, 3, 1, 12, 0, 0.000001}, {1950, 1, 1, 0, 0, 0.0},     {1600, 12, 31, 1, 2, 3.0}};
    for (const auto& t : times) {
        const predict::CalendarTime back = predict::ToCalendar(predict::FromCalendar(t));
        EXPECT_EQ(back.year, t.year);
        EXPECT_EQ(back.month, t.month);
        EXPECT_EQ(back.day, t.day);
        EXPECT_EQ(back.hour, t.hour);
        EXPECT_EQ(back.minute, t.minute);
        EXPECT_NEAR(back.second, t.second, 1e-5);
    }
    EXPECT_EQ(predict::FromCalendar({1858, 11, 17, 0, 0, 0.0}).day, 2400000.5);  // MJD 0
}

TEST(JulianDateTest, SecondsAddAcrossMidnightAndTheYearEnd) {
    const JulianDate newYearsEve = predict::FromCalendar({2023, 12, 31, 23, 59, 30.0});
    const JulianDate later = predict::AddSeconds(newYearsEve, 45.5);
    EXPECT_EQ(predict::FormatUtc(later), "2024-01-01 00:00:16");
    EXPECT_EQ(later.day, 2460310.5);
    EXPECT_NEAR(predict::SecondsBetween(newYearsEve, later), 45.5, 1e-6);
    EXPECT_NEAR(predict::SecondsBetween(later, newYearsEve), -45.5, 1e-6);
    // Any split of the same date is the same time.
    EXPECT_NEAR(predict::SecondsBetween({2460310.0, 0.5}, {2460309.5, 1.0}), 0.0, 1e-9);
}

TEST(JulianDateTest, FormatRoundsToTheNearestSecond) {
    EXPECT_EQ(predict::FormatUtc({2460310.5, 0.4 / 86400}), "2024-01-01 00:00:00");
    EXPECT_EQ(predict::FormatUtc({2460309.5, 1.0 - 0.4 / 86400}), "2024-01-01 00:00:00");
    EXPECT_EQ(predict::FormatUtc({2460309.5, 1.0 - 0.6 / 86400}), "2023-12-31 23:59:59");
    EXPECT_EQ(predict::FormatUtc({2451545.0, 0.0}), "2000-01-01 12:00:00");
}

}  // namespace
