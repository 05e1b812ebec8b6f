#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "predict/earth.h"
#include "predict/sun_moon.h"

namespace {

using predict::ParsedStation;
using predict::ParseStation;

struct StationCase {
    const char* name;
    const char* text;
    double latitude_deg, longitude_deg, height_m;  // expected, when `error` is empty
    const char* error;
};

class ParseStationTest : public ::testing::TestWithParam<StationCase> {};

TEST_P(ParseStationTest, ReadsTheStationAndRefusesTheRestWithTheReason) {
    const StationCase& c = GetParam();
    const ParsedStation parsed = ParseStation(c.text);
    EXPECT_EQ(parsed.error, c.error);
    ASSERT_EQ(parsed.station.has_value(), std::string(c.error).empty());
    if (!parsed.station) return;
    EXPECT_EQ(parsed.station->latitude_deg, c.latitude_deg);
    EXPECT_EQ(parsed.station->longitude_deg, c.longitude_deg);
    EXPECT_EQ(parsed.station->height_m, c.height_m);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseStationTest,
    ::testing::Values(
        StationCase{"LatitudeLongitude", "60.17,24.94", 60.17, 24.94, 0.0, ""},
        StationCase{"WithHeight", "-34,18.47,3000", -34.0, 18.47, 3000.0, ""},
        StationCase{"SpacesAroundFields", " 35.0 , -106.9 , 1400 ", 35.0, -106.9, 1400.0, ""},
        StationCase{"PolesAndDateLine", "-90,180", -90.0, 180.0, 0.0, ""},
        StationCase{"Exponent", "1e1,-1.5E2,2.5e3", 10.0, -150.0, 2500.0, ""},
        StationCase{"LatitudeBeyondPole", "90.5,0", 0, 0, 0,
                    "station 90.5,0: latitude 90.5 is outside -90..90 degrees"},
        StationCase{"LongitudeBeyondDateLine", "10,-180.01", 0, 0, 0,
                    "station 10,-180.01: longitude -180.01 is outside -180..180 degrees"},
        StationCase{"LongitudeAsZeroTo360", "10,200", 0, 0, 0,
                    "station 10,200: longitude 200 is outside -180..180 degrees"},
        StationCase{"HeightInKilometresByMistake", "10,20,3e6", 0, 0, 0,
                    "station 10,20,3e6: height 3e+06 m is outside -1000..100000 m"},
        StationCase{"OneField", "60.17", 0, 0, 0,
                    "a station is LAT,LON or LAT,LON,HEIGHT_M in degrees "
                    "(north and east positive) and metres, not \"60.17\""},
        StationCase{"FourFields", "1,2,3,4", 0, 0, 0,
                    "a station is LAT,LON or LAT,LON,HEIGHT_M in degrees (north and east "
                    "positive) and metres, not \"1,2,3,4\""},
        StationCase{"EmptyField", "1,,3", 0, 0, 0,
                    "a station is LAT,LON or LAT,LON,HEIGHT_M in degrees (north and east "
                    "positive) and metres, not \"1,,3\""},
        StationCase{"Hemisphere", "60N,25E", 0, 0, 0,
                    "a station is LAT,LON or LAT,LON,HEIGHT_M in degrees (north and east "
                    "positive) and metres, not \"60N,25E\""},
        StationCase{"NotANumber", "nan,0", 0, 0, 0,
                    "a station is LAT,LON or LAT,LON,HEIGHT_M in degrees (north and east "
                    "positive) and metres, not \"nan,0\""},
        StationCase{"Empty", "", 0, 0, 0,
                    "a station is LAT,LON or LAT,LON,HEIGHT_M in degrees (north and east "
                    "positive) and metres, not \"\""}),
    [](const ::testing::TestParamInfo<StationCase>& info) { return info.param.name; });

TEST(StationProblemTest, RefusesWhatIsNotANumber) {
    EXPECT_EQ(predict::StationProblem({NAN, 0.0, 0.0}), "latitude nan is outside -90..90 degrees");
    EXPECT_EQ(predict::StationProblem({0.0, 0.0, INFINITY}),
              "height inf m is outside -1000..100000 m");
    EXPECT_EQ(predict::StationProblem({-90.0, -180.0, -1000.0}), "");
}

// GMST 1982 at 1992-08-20 12:14 UT1 (Vallado, Fundamentals of Astrodynamics, 4th ed.,
// example 3-5): 152.578787810 deg, to the 1e-7 deg its one-part Julian date keeps.
TEST(SiderealTimeTest, MatchesVallado) {
    const predict::JulianDate utc{2448854.5, (12.0 + 14.0 / 60.0) / 24.0};
    EXPECT_NEAR(predict::GmstRadians(utc) * predict::kDegreesPerRadian, 152.578787810, 1e-7);
}

// TT - UTC: the leap seconds from 1972 (Bulletin C), Delta T before and a continuous forecast
// after the table.
TEST(TimeScaleTest, LeapSecondsAndDeltaTJoin) {
    using predict::TerrestrialMinusUtcSeconds;
    EXPECT_DOUBLE_EQ(TerrestrialMinusUtcSeconds({2441317.5, 0.0}), 42.184);    // 1972-01-01
    EXPECT_DOUBLE_EQ(TerrestrialMinusUtcSeconds({2457753.5, 0.999}), 68.184);  // 2016-12-31
    EXPECT_DOUBLE_EQ(TerrestrialMinusUtcSeconds({2457754.5, 0.0}), 69.184);    // 2017-01-01
    EXPECT_NEAR(TerrestrialMinusUtcSeconds({2441316.5, 0.999}), 42.184, 0.1);  // Delta T, 1971
    EXPECT_NEAR(TerrestrialMinusUtcSeconds({2433282.5, 0.0}), 29.07, 0.01);    // 1950
    // The forecast starts where the table ends (2026-07-01) and grows as Delta T does.
    EXPECT_NEAR(TerrestrialMinusUtcSeconds({2461222.5, 0.0}), 69.184, 1e-9);
    EXPECT_NEAR(TerrestrialMinusUtcSeconds({2461222.5 + 365.25, 0.0}), 69.81, 0.01);
    EXPECT_NEAR(TerrestrialMinusUtcSeconds({2488069.5, 0.0}), 196.54, 0.01);  // 2100
}

}  // namespace
