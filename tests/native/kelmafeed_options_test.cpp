#include "feed/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using kelmafeed::Options;
using kelmafeed::ParseOptions;

TEST(KelmafeedOptionsTest, WithoutArgumentsLooksForOrbitronThenSatPc32AndItsIssEdition) {
    // What a tracking program that starts its drivers without arguments gets.
    const Options options = ParseOptions({});
    ASSERT_EQ(options.action, Options::Action::kRelay);
    ASSERT_EQ(options.sources.size(), 3u);
    EXPECT_EQ(options.sources[0].service, "Orbitron");
    EXPECT_EQ(options.sources[0].topic, "Tracking");
    EXPECT_EQ(options.sources[0].item, "TrackingData");
    EXPECT_EQ(options.sources[1].service, "SatPC32");
    EXPECT_EQ(options.sources[1].topic, "SatPcDdeConv");
    EXPECT_EQ(options.sources[1].item, "SatPcDdeItem");
    EXPECT_EQ(options.sources[2].service, "SatPC32ISS");
    EXPECT_EQ(options.sources[2].topic, "SatPcDdeConv");
    EXPECT_EQ(options.sources[2].item, "SatPcDdeItem");
    EXPECT_EQ(kelmafeed::SourcesName(options.sources), "Orbitron, SatPC32 or SatPC32ISS");
}

TEST(KelmafeedOptionsTest, SourceNamesOneProgram) {
    // SatPC32 comes in two editions: either one is taken.
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--source=satpc32"},
                                                 {"--source", "SatPC32"},
                                                 {"-s", "satpc32"}}) {
        const Options options = ParseOptions(args);
        ASSERT_EQ(options.action, Options::Action::kRelay) << args[0];
        EXPECT_EQ(kelmafeed::SourcesName(options.sources), "SatPC32 or SatPC32ISS");
    }
    const Options orbitron = ParseOptions({"--source=orbitron"});
    ASSERT_EQ(orbitron.sources.size(), 1u);
    EXPECT_EQ(orbitron.sources[0].name, "Orbitron");
    const Options dde = ParseOptions({"--source=dde:WXtrack/Tracking/Tracking", "--log=x.log"});
    ASSERT_EQ(dde.action, Options::Action::kRelay);
    ASSERT_EQ(dde.sources.size(), 1u);
    EXPECT_EQ(dde.sources[0].name, "dde:WXtrack/Tracking/Tracking");
    EXPECT_EQ(dde.sources[0].service, "WXtrack");
    EXPECT_EQ(dde.sources[0].topic, "Tracking");
    EXPECT_EQ(dde.sources[0].item, "Tracking");
    EXPECT_EQ(dde.logPath, "x.log");
}

TEST(KelmafeedOptionsTest, NetworkSourceListensOnKelmarotdsPortUnlessTold) {
    const Options byDefault = ParseOptions({"--source=net"});
    ASSERT_EQ(byDefault.action, Options::Action::kRelay);
    EXPECT_EQ(byDefault.netPort, 4533);
    EXPECT_TRUE(byDefault.sources.empty());
    EXPECT_EQ(ParseOptions({"-s", "NET:0"}).netPort, 0);
    EXPECT_EQ(ParseOptions({"--source=net:65535"}).netPort, 65535);
    // The last --source counts.
    EXPECT_EQ(ParseOptions({"--source=net", "--source=orbitron"}).netPort, std::nullopt);
    for (const char* bad : {"--source=net:", "--source=net:65536", "--source=net:45a",
                            "--source=net:-1", "--source=net:123456", "--source=network"}) {
        EXPECT_EQ(ParseOptions({bad}).action, Options::Action::kFail) << bad;
    }
}

TEST(KelmafeedOptionsTest, NetworkSourceTakesKelmarotdsAddressOption) {
    EXPECT_EQ(ParseOptions({"--source=net"}).netAddresses, std::vector<std::string>{"127.0.0.1"});
    const Options two =
        ParseOptions({"-T", "127.0.0.1", "--source=net", "--listen-addr=192.168.1.20"});
    ASSERT_EQ(two.action, Options::Action::kRelay) << two.error;
    EXPECT_EQ(two.netAddresses, (std::vector<std::string>{"127.0.0.1", "192.168.1.20"}));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--source=net", "-T", "localhost"},
          {"--source=orbitron", "-T", "192.168.1.20"}}) {  // no network source to listen with
        const Options options = ParseOptions(args);
        EXPECT_EQ(options.action, Options::Action::kFail) << args.back();
        EXPECT_FALSE(options.error.empty());
    }
}

TEST(KelmafeedOptionsTest, SkySourceTakesTheTrackingEnginesOptions) {
    const Options sky = ParseOptions({"--source=sky", "--elements", "amateur.txt", "--station",
                                      "60,10", "--track=SO-50,sun", "--at", "2024-02-12 11:34:00",
                                      "--speed", "30", "--el-max=90"});
    ASSERT_EQ(sky.action, Options::Action::kRelay) << sky.error;
    EXPECT_TRUE(sky.skySource);
    EXPECT_TRUE(sky.sources.empty());
    EXPECT_EQ(sky.sky.targets, (std::vector<std::string>{"SO-50", "sun"}));
    EXPECT_EQ(sky.sky.speed, 30);
    EXPECT_EQ(sky.sky.elevationMax, 90);
    // A relayed source with --elements and --station has its passes planned.
    const Options planned = ParseOptions(
        {"--source=satpc32", "--elements=nasabare.txt", "--station=48.1,11.6,520", "--lead=90"});
    ASSERT_EQ(planned.action, Options::Action::kRelay) << planned.error;
    EXPECT_FALSE(planned.skySource);
    EXPECT_EQ(planned.sky.elementsPath, "nasabare.txt");
    EXPECT_EQ(planned.sky.leadSeconds, 90);
}

struct RefusedCase {
    std::vector<std::string> args;
    const char* error;
};

class KelmafeedRefusedSkyOptionsTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(KelmafeedRefusedSkyOptionsTest, SaysWhatIsWrong) {
    const Options options = ParseOptions(GetParam().args);
    EXPECT_EQ(options.action, Options::Action::kFail);
    EXPECT_EQ(options.error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KelmafeedRefusedSkyOptionsTest,
    ::testing::Values(
        RefusedCase{{"--source=sky", "--station", "60,10", "--track", "SO-50"},
                    "no element file for the satellites (--elements FILE)"},
        RefusedCase{{"--source=sky", "--track", "moon"}, "no station (--station LAT,LON)"},
        RefusedCase{{"-s", "sky", "--station", "60,200", "--track", "sun"},
                    "--station: station 60,200: longitude 200 is outside -180..180 degrees"},
        RefusedCase{{"-s", "sky", "--station", "60,10", "--track", "sun", "--at", "tonight"},
                    "--at: \"tonight\" is not a UTC time: write it as YYYY-MM-DD HH:MM:SS"},
        RefusedCase{{"--source=orbitron", "--track", "SO-50"},
                    "--track is for our own prediction: add --source sky"},
        RefusedCase{{"--elements", "amateur.txt", "--station", "60,10", "--speed", "10"},
                    "--speed is for our own prediction: add --source sky"},
        RefusedCase{{"--elements", "amateur.txt"},
                    "--elements and --station go together: with both, the relay plans the passes "
                    "of the satellites its source names"},
        RefusedCase{{"--source=satpc32", "--el-max", "90"},
                    "--el-max is for planned passes: add --elements FILE and --station LAT,LON"}));

TEST(KelmafeedOptionsTest, RefusesWhatItCannotUse) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--source=gpredict"},
                                                 {"--source=dde:Orbitron/Tracking"},
                                                 {"--source=dde://Item"},
                                                 {"--source=dde:Orbitron//TrackingData"},
                                                 {"--source"},
                                                 {"--log"},
                                                 {"orbitron"},
                                                 {"--verbose"}}) {
        const Options options = ParseOptions(args);
        EXPECT_EQ(options.action, Options::Action::kFail) << args[0];
        EXPECT_FALSE(options.error.empty());
    }
    EXPECT_EQ(ParseOptions({"-h"}).action, Options::Action::kHelp);
    EXPECT_EQ(ParseOptions({"--version"}).action, Options::Action::kVersion);
}

}  // namespace
