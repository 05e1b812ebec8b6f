#include "misbehaviour.h"

#include <gtest/gtest.h>

namespace kelma {
namespace {

TEST(Misbehaviour, JunkLineHasNoLineEndBeforeItsOwn) {
    std::mt19937 random(7);
    const std::string line = JunkLine(500, random);
    ASSERT_EQ(line.size(), 502u);
    EXPECT_EQ(line.substr(500), "\r\n");
    EXPECT_EQ(line.substr(0, 500).find_first_of("\r\n"), std::string::npos);
}

TEST(Misbehaviour, LongRunIsPrintableWithoutLineEnds) {
    const std::string run = LongRun(300);
    ASSERT_EQ(run.size(), 300u);
    for (char c : run) EXPECT_TRUE(c >= 0x21 && c <= 0x7e) << int(c);
    EXPECT_EQ(run.substr(0, 3), "!\"#");
}

TEST(Misbehaviour, BurstAlternatesTheAxes) {
    EXPECT_EQ(Burst(3, "AZP 001.0 ST\r\n", "ELP 002.0 MV\r\n"),
              "AZP 001.0 ST\r\nELP 002.0 MV\r\nAZP 001.0 ST\r\n");
}

TEST(Misbehaviour, NulReportHidesAMovingMarkAfterTheNul) {
    EXPECT_EQ(NulReport("AZP 045.0 ST\r\n"), std::string("AZP 045.0 ST\0 MV\0\r\n", 19));
}

}  // namespace
}  // namespace kelma
