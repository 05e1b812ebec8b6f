#include "framework/decimal.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct DecimalCase {
    std::string text;
    int32_t expected;
};

class LeadingIntegerTest : public ::testing::TestWithParam<DecimalCase> {};

TEST_P(LeadingIntegerTest, ReadsLikeTheCLibraryWithoutOverflow) {
    EXPECT_EQ(framework::ParseLeadingInteger(GetParam().text), GetParam().expected)
        << "text: \"" << GetParam().text << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LeadingIntegerTest,
    ::testing::Values(DecimalCase{"", 0}, DecimalCase{"abc", 0}, DecimalCase{"42", 42},
                      DecimalCase{"3abc", 3}, DecimalCase{"+4", 4}, DecimalCase{"-2", -2},
                      DecimalCase{"--2", 0}, DecimalCase{"+-2", 0}, DecimalCase{"- 2", 0},
                      DecimalCase{" \t\n\v\f\r17", 17}, DecimalCase{"007", 7},
                      DecimalCase{"123.8", 123}, DecimalCase{"2147483647", 2147483647},
                      DecimalCase{"2147483648", 2147483647},
                      DecimalCase{"99999999999999999999", 2147483647},
                      DecimalCase{"-2147483648", INT32_MIN}, DecimalCase{"-2147483649", INT32_MIN},
                      DecimalCase{"-99999999999999999999999", INT32_MIN},
                      DecimalCase{std::string("12\0"
                                              "34",
                                              5),
                                  12}));

TEST(LeadingIntegerTest, StopsAtTheEndOfTheViewEvenWithoutTerminator) {
    const char digits[] = {'1', '2', '3', '4'};
    EXPECT_EQ(framework::ParseLeadingInteger(std::string_view(digits, 2)), 12);
}

TEST(LeadingIntegerTest, ManyLeadingZerosBeforeALargeNumberStillSaturate) {
    EXPECT_EQ(framework::ParseLeadingInteger(std::string(500, '0') + "4000000000"), INT32_MAX);
    EXPECT_EQ(framework::ParseLeadingInteger(std::string(500, '0') + "360"), 360);
}

}  // namespace
