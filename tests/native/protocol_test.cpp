#include "rotator/protocol.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using rotator::Axis;

// --- Command strings ------------------------------------------------------------------------

struct CommandCase {
    const char* name;
    std::string actual;
    std::string expected;
};

class CommandTextTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandTextTest, IsByteForByteTheControllersForm) {
    EXPECT_EQ(GetParam().actual, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    AllCommands, CommandTextTest,
    ::testing::Values(
        CommandCase{"StopAzimuth", rotator::StopCommand(Axis::kAzimuth), "A\r\nS\r\n"},
        CommandCase{"StopElevation", rotator::StopCommand(Axis::kElevation), "E\r\nS\r\n"},
        CommandCase{"PollAzimuth", rotator::PollCommand(Axis::kAzimuth), "A\r\n"},
        CommandCase{"PollElevation", rotator::PollCommand(Axis::kElevation), "E\r\n"},
        CommandCase{"ManualAzimuth45", rotator::ManualCommand(Axis::kAzimuth, 45), "A\r\n45\r\n"},
        CommandCase{"ManualAzimuth0", rotator::ManualCommand(Axis::kAzimuth, 0), "A\r\n0\r\n"},
        CommandCase{"ManualAzimuth360", rotator::ManualCommand(Axis::kAzimuth, 360),
                    "A\r\n360\r\n"},
        CommandCase{"ManualElevation7", rotator::ManualCommand(Axis::kElevation, 7), "E\r\n7\r\n"},
        CommandCase{"TrackingAzimuth45", rotator::TrackingCommand(Axis::kAzimuth, 45),
                    "A\r\n045\r\n"},
        CommandCase{"TrackingAzimuth0", rotator::TrackingCommand(Axis::kAzimuth, 0),
                    "A\r\n000\r\n"},
        CommandCase{"TrackingAzimuthNegative", rotator::TrackingCommand(Axis::kAzimuth, -3),
                    "A\r\n-03\r\n"},
        CommandCase{"TrackingAzimuthWide", rotator::TrackingCommand(Axis::kAzimuth, 100000),
                    "A\r\n100000\r\n"},
        CommandCase{"TrackingAzimuthInt32Min", rotator::TrackingCommand(Axis::kAzimuth, INT32_MIN),
                    "A\r\n-2147483648\r\n"},
        CommandCase{"TrackingElevation999", rotator::TrackingCommand(Axis::kElevation, 999),
                    "E\r\n999\r\n"},
        CommandCase{"TrackingElevation5", rotator::TrackingCommand(Axis::kElevation, 5),
                    "E\r\n005\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandTextTest, ManualAndTrackingFormsOfTheSameAzimuthDiffer) {
    // 41 0D 0A 34 35 0D 0A against 41 0D 0A 30 34 35 0D 0A.
    EXPECT_EQ(rotator::ManualCommand(Axis::kAzimuth, 45).size(), 7u);
    EXPECT_EQ(rotator::TrackingCommand(Axis::kAzimuth, 45).size(), 8u);
}

// --- The Set boxes' number rule -------------------------------------------------------------

struct ManualCase {
    Axis axis;
    std::string text;
    int32_t expected;
};

class ManualAngleTest : public ::testing::TestWithParam<ManualCase> {};

TEST_P(ManualAngleTest, ReadsClampsAndNeverWraps) {
    EXPECT_EQ(rotator::ManualAngle(GetParam().axis, GetParam().text), GetParam().expected)
        << "text: \"" << GetParam().text << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ManualAngleTest,
    ::testing::Values(ManualCase{Axis::kAzimuth, "", 0}, ManualCase{Axis::kAzimuth, "abc", 0},
                      ManualCase{Axis::kAzimuth, "45", 45}, ManualCase{Axis::kAzimuth, "360", 360},
                      ManualCase{Axis::kAzimuth, "361", 360},
                      ManualCase{Axis::kAzimuth, "400", 360}, ManualCase{Axis::kAzimuth, "-5", 0},
                      ManualCase{Axis::kAzimuth, " \t+12x", 12},
                      ManualCase{Axis::kAzimuth, "0045", 45},
                      ManualCase{Axis::kElevation, "180", 180},
                      ManualCase{Axis::kElevation, "181", 180},
                      ManualCase{Axis::kElevation, "-1", 0}, ManualCase{Axis::kElevation, "90", 90},
                      // Beyond 32 bits: saturates, then clamps; never wraps to a wrong angle.
                      ManualCase{Axis::kAzimuth, "4294967341", 360},  // 2^32 + 45
                      ManualCase{Axis::kAzimuth, "-4294967251", 0},   // -(2^32) + 45
                      ManualCase{Axis::kAzimuth, "9999999999999999999", 360},
                      ManualCase{Axis::kElevation, "2147483648", 180},
                      ManualCase{Axis::kElevation, "-2147483649", 0},
                      // Only the first 19 characters count: the 20th digit is not read.
                      ManualCase{Axis::kAzimuth, "0000000000000000001", 1},   // 19 characters
                      ManualCase{Axis::kAzimuth, "00000000000000000001", 0},  // 20 characters
                      ManualCase{Axis::kElevation, "                  7", 7},
                      ManualCase{Axis::kElevation, "                   7", 0}),
    [](const auto& info) { return "Text" + std::to_string(info.index); });

// --- Position reports -----------------------------------------------------------------------

struct ReportCase {
    std::string line;
    bool isReport;
    Axis axis;
    std::string display;
};

class PositionReportTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(PositionReportTest, FollowsTheReportRule) {
    const auto report = rotator::ParsePositionReport(GetParam().line);
    ASSERT_EQ(report.has_value(), GetParam().isReport) << "line: \"" << GetParam().line << "\"";
    if (!report) return;
    EXPECT_EQ(report->axis, GetParam().axis);
    EXPECT_EQ(rotator::FormatPositionDisplay(*report), GetParam().display);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PositionReportTest,
    ::testing::Values(
        ReportCase{"A P 7       ", true, Axis::kAzimuth, "007"},      // 12 characters
        ReportCase{"A P 7      ", false, Axis::kAzimuth, ""},         // 11 characters
        ReportCase{"A P 7   MV  ", true, Axis::kAzimuth, "<007>"},    // moving
        ReportCase{"E P 7       ", true, Axis::kElevation, "007"},    // other axis
        ReportCase{"a P 7       ", false, Axis::kAzimuth, ""},        // small a
        ReportCase{"e P 7       ", false, Axis::kAzimuth, ""},        // small e
        ReportCase{"A p 7       ", false, Axis::kAzimuth, ""},        // small p
        ReportCase{"AP  7       ", false, Axis::kAzimuth, ""},        // P second, not third
        ReportCase{"X P 7       ", false, Axis::kAzimuth, ""},        // another first letter
        ReportCase{"AZP=1234 deg", true, Axis::kAzimuth, "1234"},     // any 2nd/4th character
        ReportCase{"A P xyz     ", true, Axis::kAzimuth, "000"},      // no digits
        ReportCase{"A P         ", true, Axis::kAzimuth, "000"},      // only white space
        ReportCase{"AMPV007     ", true, Axis::kAzimuth, "007"},      // MV before the 5th
        ReportCase{"A PM007 V   ", true, Axis::kAzimuth, "007"},      // M, V apart
        ReportCase{"A P MV 12   ", true, Axis::kAzimuth, "<000>"},    // MV at the 5th
        ReportCase{"A P 12 mv   ", true, Axis::kAzimuth, "012"},      // small mv
        ReportCase{"A P -5      ", true, Axis::kAzimuth, "-05"},      // minus sign
        ReportCase{"A P +45     ", true, Axis::kAzimuth, "045"},      // plus sign
        ReportCase{"A P - 5     ", true, Axis::kAzimuth, "000"},      // sign, then space
        ReportCase{"A P \t\v\f 90   ", true, Axis::kAzimuth, "090"},  // white space kinds
        ReportCase{"E P 180MV   ", true, Axis::kElevation, "<180>"},  // MV right after
        ReportCase{"A P 99999999999 ", true, Axis::kAzimuth, "2147483647"},       // saturates
        ReportCase{std::string("A P 7\0MV    ", 12), false, Axis::kAzimuth, ""},  // NUL ends
        ReportCase{std::string("A P 7       \0MV", 15), true, Axis::kAzimuth, "007"},
        ReportCase{"", false, Axis::kAzimuth, ""}),
    [](const auto& info) { return "Line" + std::to_string(info.index); });

}  // namespace
