#include "report.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kelma {
namespace {

TEST(FormatReport, GivesTheControllerLineForEachState) {
    struct Case {
        char axis;
        double angle;
        bool moving;
        const char* line;
    } cases[] = {
        {'A', 45, false, "AZP 045.0 ST\r\n"},  {'E', 10.44, true, "ELP 010.4 MV\r\n"},
        {'A', 0, true, "AZP 000.0 MV\r\n"},    {'A', 360, false, "AZP 360.0 ST\r\n"},
        {'E', 180, false, "ELP 180.0 ST\r\n"}, {'A', 7.96, true, "AZP 008.0 MV\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatReport(c.axis, c.angle, c.moving), c.line);
}

// The program takes a line as a report when it has 12 characters or more, "A" or "E" first,
// "P" third, the number from the fifth character and "MV" after it while moving.
TEST(FormatReport, EveryLineFitsTheProgramsReportRule) {
    for (char axis : {'A', 'E'}) {
        for (double angle : {0.0, 9.9, 45.0, 123.4, 180.0}) {
            for (bool moving : {false, true}) {
                const std::string line = FormatReport(axis, angle, moving);
                const std::string text = line.substr(0, line.size() - 2);
                EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
                EXPECT_GE(text.size(), 12u);
                EXPECT_EQ(text[0], axis);
                EXPECT_EQ(text[2], 'P');
                EXPECT_EQ(std::strtol(text.c_str() + 4, nullptr, 10),
                          static_cast<long>(angle + 0.05));
                EXPECT_EQ(text.find("MV", 4) != std::string::npos, moving) << text;
            }
        }
    }
}

}  // namespace
}  // namespace kelma
