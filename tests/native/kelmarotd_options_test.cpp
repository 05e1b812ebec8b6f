#include "kelmarotd/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using kelmarotd::Options;
using kelmarotd::ParseOptions;

TEST(KelmarotdOptionsTest, ReadsRotctldStyleOptionsAndOurOwn) {
    const Options defaults = ParseOptions({"-r", "/dev/ttyUSB0"});
    EXPECT_EQ(defaults.action, Options::Action::kServe);
    EXPECT_EQ(defaults.device, "/dev/ttyUSB0");
    EXPECT_EQ(defaults.addresses, std::vector<std::string>{"127.0.0.1"});
    EXPECT_EQ(defaults.port, 4533);
    EXPECT_FALSE(defaults.verbose);
    EXPECT_EQ(defaults.station.limits.maxAzimuth, 360);
    EXPECT_EQ(defaults.station.limits.maxElevation, 180);

    const Options o =
        ParseOptions({"-rCOM3", "-T", "0.0.0.0", "-t4535", "-v", "--park-az=180", "--park-el=10",
                      "--min-az=90", "--max-az=270", "--min-el=5", "--max-el=85"});
    EXPECT_EQ(o.action, Options::Action::kServe) << o.error;
    EXPECT_EQ(o.device, "COM3");
    EXPECT_EQ(o.addresses, std::vector<std::string>{"0.0.0.0"});
    EXPECT_EQ(o.port, 4535);
    EXPECT_TRUE(o.verbose);
    EXPECT_EQ(o.station.parkAzimuth, 180);
    EXPECT_EQ(o.station.parkElevation, 10);
    EXPECT_EQ(o.station.limits.minAzimuth, 90);
    EXPECT_EQ(o.station.limits.maxAzimuth, 270);
    EXPECT_EQ(o.station.limits.minElevation, 5);
    EXPECT_EQ(o.station.limits.maxElevation, 85);

    const Options longForms = ParseOptions({"--rot-file=/dev/x", "--listen-addr=::1", "--port=0"});
    EXPECT_EQ(longForms.device, "/dev/x");
    EXPECT_EQ(longForms.addresses, std::vector<std::string>{"::1"});
    // Loopback and the LAN address together, in both forms.
    const Options two = ParseOptions({"-r", "x", "-T", "127.0.0.1", "--listen-addr=192.168.1.20"});
    EXPECT_EQ(two.addresses, (std::vector<std::string>{"127.0.0.1", "192.168.1.20"}));
    EXPECT_EQ(longForms.port, 0);
    EXPECT_EQ(ParseOptions({"-h"}).action, Options::Action::kHelp);
    EXPECT_EQ(ParseOptions({"--version"}).action, Options::Action::kVersion);
}

TEST(KelmarotdOptionsTest, RefusesWhatCannotBeServed) {
    const std::vector<std::vector<std::string>> bad = {
        {},                              // no device: no serial port is assumed
        {"-t", "4533"},                  // likewise
        {"-r"},                          // a value is missing
        {"-r", "x", "--park-el", "10"},  // a long option takes it after "="
        {"-r", "x", "-t", "65536"},      // port beyond 16 bits
        {"-r", "x", "-t", "45x"},
        {"-r", "x", "--max-az=361"},  // beyond the controller
        {"-r", "x", "--max-el=-1"},
        {"-r", "x", "--min-az=200", "--max-az=100"},  // empty range
        {"-r", "x", "--min-el=10"},                   // park (0) outside the limits
        {"-r", "x", "--park-az=99999999999"},
        {"-r", "x", "-x"},  // unknown options and words
        {"-r", "x", "--bogus=1"},
        {"-r", "x", "extra"},
        {"-r", "x", "-vv"},
        {"-r", "x", "-T", "localhost"},  // listening addresses by the shared rule
        {"-r", "x", "-T", "127.0.0.1", "-T", "127.0.0.1"},
        {"-r", "x", "--listen-addr="}};
    for (const auto& args : bad) {
        const Options o = ParseOptions(args);
        EXPECT_EQ(o.action, Options::Action::kFail) << (args.empty() ? "" : args.back());
        EXPECT_FALSE(o.error.empty());
    }
}

TEST(KelmarotdOptionsTest, NamesAnEmptyValueAsItWasTyped) {
    EXPECT_EQ(ParseOptions({"-r", ""}).error, "-r needs a value");
    EXPECT_EQ(ParseOptions({"-r", "x", "-t", ""}).error, "-t needs a value");
    EXPECT_EQ(ParseOptions({"--rot-file="}).error, "--rot-file= needs a value");
}

}  // namespace
