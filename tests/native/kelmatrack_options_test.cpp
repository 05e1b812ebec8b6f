#include "kelmatrack/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using kelmatrack::Options;
using kelmatrack::ParseOptions;

const std::vector<std::string> kRequired = {"-r",       "rotor.local:4534", "--elements",
                                            "sats.txt", "--station",        "60.5,-10,120",
                                            "--track",  "ISS (ZARYA),moon"};

std::vector<std::string> With(std::vector<std::string> extra) {
    std::vector<std::string> args = kRequired;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

TEST(KelmatrackOptionsTest, ReadsEveryOptionInBothForms) {
    const Options o = ParseOptions(With({"--at=2024-02-12T11:34:00Z", "--speed", "150", "--lead=30",
                                         "--park", "180,5", "--el-max=90", "-v"}));
    ASSERT_EQ(o.action, Options::Action::kTrack) << o.error;
    EXPECT_EQ(o.host, "rotor.local");
    EXPECT_EQ(o.port, 4534);
    EXPECT_EQ(o.sky.elementsPath, "sats.txt");
    ASSERT_TRUE(o.sky.station);
    EXPECT_EQ(o.sky.station->latitude_deg, 60.5);
    EXPECT_EQ(o.sky.station->longitude_deg, -10);
    EXPECT_EQ(o.sky.station->height_m, 120);
    EXPECT_EQ(o.sky.targets, (std::vector<std::string>{"ISS (ZARYA)", "moon"}));
    ASSERT_TRUE(o.sky.at);
    EXPECT_EQ(predict::FormatUtc(*o.sky.at), "2024-02-12 11:34:00");
    EXPECT_EQ(o.sky.speed, 150);
    EXPECT_EQ(o.sky.leadSeconds, 30);
    ASSERT_TRUE(o.sky.park);
    EXPECT_EQ(o.sky.park->azimuth_deg, 180);
    EXPECT_EQ(o.sky.park->elevation_deg, 5);
    EXPECT_EQ(o.sky.elevationMax, 90);
    EXPECT_TRUE(o.verbose);
}

TEST(KelmatrackOptionsTest, DefaultsAndWhatPlanAndTheSunNeedNot) {
    const Options o = ParseOptions(With({}));
    EXPECT_EQ(o.sky.speed, 1);
    EXPECT_EQ(o.sky.leadSeconds, 60);
    EXPECT_FALSE(o.sky.park);
    EXPECT_FALSE(o.sky.at);
    EXPECT_EQ(ParseOptions({"-r", "localhost"}).port, 4533);
    const Options plan = ParseOptions({"--plan", "--station", "-34,18", "--track", "Sun,MOON"});
    EXPECT_EQ(plan.action, Options::Action::kPlan) << plan.error;
    EXPECT_TRUE(plan.host.empty());
}

struct BadCase {
    std::vector<std::string> args;
    const char* error;
};

class KelmatrackBadOptionsTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(KelmatrackBadOptionsTest, RefusesWithAClearMessage) {
    const Options o = ParseOptions(GetParam().args);
    EXPECT_EQ(o.action, Options::Action::kFail);
    EXPECT_EQ(o.error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KelmatrackBadOptionsTest,
    ::testing::Values(
        BadCase{With({"--station", "95,10"}),
                "--station: station 95,10: latitude 95 is outside -90..90 degrees"},
        BadCase{With({"--at", "yesterday"}),
                "--at: \"yesterday\" is not a UTC time: write it as YYYY-MM-DD HH:MM:SS"},
        BadCase{With({"--speed", "0"}), "--speed: a number above 0 and at most 100000"},
        BadCase{With({"--lead", "-1"}), "--lead: seconds from 0 to 3600"},
        BadCase{With({"--el-max", "200"}), "--el-max: degrees from 1 to 180"},
        BadCase{With({"--park", "180"}), "--park: give AZ,EL in degrees, e.g. --park 180,0"},
        BadCase{With({"--track", "ISS,,SO-50"}), "--track: an empty name"},
        BadCase{With({"-r", "host:99999"}), "-r: the port must be a number from 1 to 65535"},
        BadCase{With({"--frobnicate"}), "unknown option --frobnicate"},
        BadCase{With({"--lead"}), "--lead needs a value"},
        BadCase{{"-r", "h", "--station", "1,2", "--track", "ISS"},
                "no element file for the satellites (--elements FILE)"},
        BadCase{{"--elements", "s.txt", "--station", "1,2", "--track", "ISS"},
                "no server (-r HOST[:PORT])"},
        BadCase{{"-r", "h", "--track", "sun"}, "no station (--station LAT,LON)"},
        BadCase{{"-r", "h", "--station", "1,2"}, "nothing to track (--track NAME)"}));

}  // namespace
