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
