#include "dde/azel_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using dde::kItemCopySize;
using dde::kSatelliteNameSize;

// The item data as the prediction program sends it: the text and its terminating NUL.
std::vector<char> TextData(const std::string& text) {
    std::vector<char> data(text.begin(), text.end());
    data.push_back('\0');
    return data;
}

struct AzElCase {
    std::string text;
    int32_t azimuth;
    int32_t elevation;
};

class AzElTextTest : public ::testing::TestWithParam<AzElCase> {};

TEST_P(AzElTextTest, GivesAzimuthAndElevationInWholeDegrees) {
    char text[kItemCopySize];
    const std::vector<char> data = TextData(GetParam().text);
    ASSERT_TRUE(dde::CopyItemText(data.data(), data.size(), text));
    const dde::AzEl value = dde::ParseAzEl(text);
    EXPECT_EQ(value.azimuth, GetParam().azimuth) << "text: \"" << GetParam().text << "\"";
    EXPECT_EQ(value.elevation, GetParam().elevation) << "text: \"" << GetParam().text << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AzElTextTest,
    ::testing::Values(AzElCase{"123|45", 123, 45}, AzElCase{"123", 123, 0}, AzElCase{"7|-4", 7, -4},
                      AzElCase{"1|2|3", 1, 2}, AzElCase{"|30", 0, 30}, AzElCase{" 90| 10", 90, 10},
                      AzElCase{"abc", 0, 0}, AzElCase{"123.8|45.9", 123, 45},
                      AzElCase{"+12|+3", 12, 3}, AzElCase{"-7|-0", -7, 0},
                      AzElCase{"12|abc", 12, 0}, AzElCase{"", 0, 0}, AzElCase{"|", 0, 0},
                      AzElCase{"45|\t\r\n 5", 45, 5}, AzElCase{"--1|+-2", 0, 0},
                      AzElCase{"99999999999|-99999999999", 2147483647, INT32_MIN},
                      AzElCase{"12 |34", 12, 34}, AzElCase{"12| 34|56", 12, 34}));

// WinOrbit 3.x help, "DDE Server" (advdde.html): AzimuthDegrees "to the nearest degree (0-359)",
// ElevationDegrees "(-90 - 90)", both TEXT items. The bounds as sent, and texts a server might
// send beyond that description, each read as one number of the "AzEl" text is.
TEST(DegreesTextTest, GivesTheAngleInWholeDegrees) {
    const std::vector<std::pair<std::string, int32_t>> cases = {
        {"0", 0}, {"359", 359}, {"-90", -90}, {"90", 90}, {"45.7", 45}, {" 12", 12}, {"12|34", 12}};
    for (const auto& [text, degrees] : cases) {
        char copy[kItemCopySize];
        const std::vector<char> data = TextData(text);
        ASSERT_TRUE(dde::CopyItemText(data.data(), data.size(), copy));
        EXPECT_EQ(dde::ParseDegrees(copy), degrees) << "text: \"" << text << "\"";
    }
}

TEST(AzElTextTest, TextEndsAtTheFirstNulWithinTheData) {
    // The data may be larger than the text and its NUL; what follows the NUL is not text.
    const char data[] = {'1', '0', '\0', '|', '2', '0', '\0', '\0'};
    char text[kItemCopySize];
    ASSERT_TRUE(dde::CopyItemText(data, sizeof data, text));
    const dde::AzEl value = dde::ParseAzEl(text);
    EXPECT_EQ(value.azimuth, 10);
    EXPECT_EQ(value.elevation, 0);
}

TEST(AzElTextTest, DataWithoutNulEndsWithTheBytesCopied) {
    const char data[] = {'2', '1', '|', '3'};
    char text[kItemCopySize];
    std::memset(text, 'x', sizeof text);
    ASSERT_TRUE(dde::CopyItemText(data, sizeof data, text));
    EXPECT_STREQ(text, "21|3");
    EXPECT_EQ(dde::ParseAzEl(text).elevation, 3);
}

TEST(ItemDataSizeTest, AcceptsUpTo249BytesAndRefuses250OrMore) {
    // 248 characters and the NUL: the largest data that is used.
    std::vector<char> used(249, ' ');
    used[0] = '5';
    used[1] = '|';
    used[2] = '6';
    used.back() = '\0';
    char text[kItemCopySize];
    ASSERT_TRUE(dde::CopyItemText(used.data(), used.size(), text));
    EXPECT_EQ(dde::ParseAzEl(text).azimuth, 5);
    EXPECT_EQ(dde::ParseAzEl(text).elevation, 6);

    // 249 bytes without a NUL: all of them are text.
    std::vector<char> full(249, '7');
    ASSERT_TRUE(dde::CopyItemText(full.data(), full.size(), text));
    EXPECT_EQ(std::string(text), std::string(249, '7'));

    std::memset(text, 'k', sizeof text);
    for (size_t size : {size_t{250}, size_t{251}, size_t{4096}}) {
        std::vector<char> refused(size, '1');
        EXPECT_FALSE(dde::CopyItemText(refused.data(), refused.size(), text)) << size;
    }
    EXPECT_EQ(text[0], 'k') << "a refused copy leaves the buffer alone";
}

TEST(ItemDataSizeTest, NoDataGivesNoText) {
    char text[kItemCopySize];
    EXPECT_FALSE(dde::CopyItemText(nullptr, 0, text));
    EXPECT_FALSE(dde::CopyItemText(nullptr, 10, text));
}

TEST(ItemDataSizeTest, EmptyDataIsAnEmptyText) {
    const char none[1] = {'9'};
    char text[kItemCopySize];
    ASSERT_TRUE(dde::CopyItemText(none, 0, text));
    EXPECT_STREQ(text, "");
}

struct NameCase {
    size_t length;
    size_t kept;
};

class SatelliteNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(SatelliteNameTest, KeepsAtMost31CharactersAndNothingBeyondTheField) {
    std::string name;
    for (size_t i = 0; i < GetParam().length; ++i) name += static_cast<char>('A' + i % 26);
    char text[kItemCopySize];
    const std::vector<char> data = TextData(name);
    ASSERT_TRUE(dde::CopyItemText(data.data(), data.size(), text));

    // The field sits between guards that must stay untouched.
    struct {
        char before[8];
        char field[kSatelliteNameSize];
        char after[8];
    } guarded;
    std::memset(&guarded, '#', sizeof guarded);
    dde::CopySatelliteName(text, guarded.field);
    EXPECT_EQ(std::string(guarded.field), name.substr(0, GetParam().kept));
    EXPECT_EQ(std::string(guarded.before, 8), std::string(8, '#'));
    EXPECT_EQ(std::string(guarded.after, 8), std::string(8, '#'));
}

INSTANTIATE_TEST_SUITE_P(Lengths, SatelliteNameTest,
                         ::testing::Values(NameCase{0, 0}, NameCase{4, 4}, NameCase{30, 30},
                                           NameCase{31, 31}, NameCase{32, 31}, NameCase{33, 31},
                                           NameCase{200, 31}, NameCase{248, 31}));

TEST(SatelliteNameTest, CopiesTheTextUpToItsNul) {
    char name[kSatelliteNameSize];
    dde::CopySatelliteName("ISS (ZARYA)", name);
    EXPECT_STREQ(name, "ISS (ZARYA)");
}

}  // namespace
