#include "kelmarotd/listen_address.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using kelmarotd::ExposureWarning;
using kelmarotd::ListenAddresses;
using kelmarotd::ParseNumericAddress;

struct AddressCase {
    const char* text;
    bool numeric;
    bool loopback;
};

class NumericAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(NumericAddressTest, TakesNumericAddressesOnlyAndKnowsLoopback) {
    const AddressCase& c = GetParam();
    const auto parsed = ParseNumericAddress(c.text);
    ASSERT_EQ(parsed.has_value(), c.numeric) << c.text;
    if (parsed) {
        EXPECT_EQ(kelmarotd::IsLoopback(*parsed), c.loopback) << c.text;
    }
    // A warning exactly for the numeric addresses other computers reach.
    EXPECT_EQ(ExposureWarning(c.text).has_value(), c.numeric && !c.loopback) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NumericAddressTest,
    ::testing::Values(
        AddressCase{"127.1.2.3", true, true}, AddressCase{"0:0:0:0:0:0:0:1", true, true},
        AddressCase{"::ffff:127.0.0.1", true, true}, AddressCase{"192.168.1.20", true, false},
        AddressCase{"0.0.0.0", true, false}, AddressCase{"::", true, false},
        AddressCase{"2001:DB8:0:0:8:800:200C:417A", true, false},
        AddressCase{"::ffff:192.168.1.20", true, false}, AddressCase{"1::", true, false},
        // Names, short or padded forms, zones, junk.
        AddressCase{"localhost", false, false}, AddressCase{"", false, false},
        AddressCase{"127.1", false, false}, AddressCase{"192.168.1.020", false, false},
        AddressCase{"192.168.1.256", false, false}, AddressCase{"192.168.1.2.3", false, false},
        AddressCase{" 127.0.0.1", false, false}, AddressCase{"fe80::1%eth0", false, false},
        AddressCase{"1:2:3:4:5:6:7", false, false}, AddressCase{"1::2::3", false, false},
        AddressCase{"1:", false, false}, AddressCase{"12345::", false, false},
        AddressCase{"1.2.3.4::", false, false}, AddressCase{"1:2:3:4:5:6:7::8", false, false}));

TEST(ListenAddressesTest, DefaultsToLoopbackAndKeepsSeveralInOrder) {
    EXPECT_EQ(ListenAddresses().List(), std::vector<std::string>{"127.0.0.1"});
    ListenAddresses addresses;
    EXPECT_EQ(addresses.Add("127.0.0.1"), std::nullopt);
    EXPECT_EQ(addresses.Add("192.168.1.20"), std::nullopt);
    EXPECT_EQ(addresses.Add("::1"), std::nullopt);
    EXPECT_EQ(addresses.List(), (std::vector<std::string>{"127.0.0.1", "192.168.1.20", "::1"}));
}

TEST(ListenAddressesTest, RefusesWhatCouldNotAllBeListenedOnWithAReason) {
    const std::vector<std::vector<std::string>> refused = {
        {"localhost"},                     // a name: which address it means is not ours to guess
        {"192.168.1.20", "192.168.1.20"},  // the second could never be taken
        {"::1", "0:0::1"},                 // the same address written twice
        {"0.0.0.0", "127.0.0.1"},          // every address already includes the other
        {"127.0.0.1", "::"}};
    for (const auto& texts : refused) {
        ListenAddresses addresses;
        for (size_t i = 0; i + 1 < texts.size(); ++i)
            ASSERT_EQ(addresses.Add(texts[i]), std::nullopt);
        const auto why = addresses.Add(texts.back());
        ASSERT_TRUE(why.has_value()) << texts.back();
        EXPECT_NE(why->find("listening address"), std::string::npos) << *why;
    }
}

TEST(ListenAddressesTest, WarningSaysWhoCanTurnTheAntenna) {
    EXPECT_EQ(ExposureWarning("0.0.0.0"),
              "warning: listening on 0.0.0.0, every address of this computer: every computer on "
              "any of its networks can turn the antenna (the protocol has no password); keep the "
              "port closed to others with a firewall");
}

}  // namespace
