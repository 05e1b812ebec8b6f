#include "hex.h"

#include <gtest/gtest.h>

namespace kelma {
namespace {

TEST(Hex, EncodesEveryByteAsTwoLowerCaseDigits) {
    EXPECT_EQ(HexEncode(std::string("A\r\n\0\xff", 5)), "410d0a00ff");
    EXPECT_EQ(HexEncode(""), "");
}

TEST(Hex, DecodesEitherCase) {
    EXPECT_EQ(HexDecode("410D0a00FF"), std::string("A\r\n\0\xff", 5));
    EXPECT_EQ(HexDecode(""), "");
}

TEST(Hex, RefusesOddLengthsAndOtherCharacters) {
    for (const char* bad : {"4", "410", "4g", "zz", "41 0d"}) EXPECT_FALSE(HexDecode(bad)) << bad;
}

}  // namespace
}  // namespace kelma
