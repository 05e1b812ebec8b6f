#include "controller.h"

#include <gtest/gtest.h>

namespace kelma {
namespace {

constexpr int64_t kSecond = 1000000;
constexpr int64_t kQuiet = 30000;

ControllerSettings Settings() {
    ControllerSettings s;
    s.azimuthRate = 6;
    s.elevationRate = 4;
    s.quietMicros = kQuiet;
    return s;
}

TEST(Controller, AnswersAPollAfterTheQuietTime) {
    Controller c(Settings(), 0);
    EXPECT_EQ(c.Receive("A\r\n", 0), "");
    EXPECT_EQ(c.Tick(kQuiet - 1), "");
    EXPECT_EQ(c.Tick(kQuiet), "AZP 000.0 ST\r\n");
    EXPECT_EQ(c.Tick(2 * kQuiet), "");  // one answer per poll
}

TEST(Controller, AnswersAPollAtOnceWhenTheNextCommandFollows) {
    Controller c(Settings(), 0);
    EXPECT_EQ(c.Receive("E\r\nA\r\n", 0), "ELP 000.0 ST\r\n");
}

TEST(Controller, TurnsTowardsACommandedAngleAndReportsMoving) {
    Controller c(Settings(), 0);
    c.Receive("A\r\n045\r\n", 0);
    c.Receive("E\r\n10\r\n", 0);
    c.Receive("A\r\n", 5 * kSecond);
    EXPECT_EQ(c.Tick(5 * kSecond + kQuiet), "AZP 030.2 MV\r\n");
    c.Receive("E\r\n", 10 * kSecond);
    EXPECT_EQ(c.Tick(10 * kSecond + kQuiet), "ELP 010.0 ST\r\n");
}

TEST(Controller, StopCommandHoldsTheAxis) {
    Controller c(Settings(), 0);
    c.Receive("A\r\n090\r\n", 0);
    c.Receive("A\r\nS\r\n", 2 * kSecond);
    EXPECT_EQ(c.Report('A', 10 * kSecond), "AZP 012.0 ST\r\n");
}

TEST(Controller, ClampsCommandsToTheAxisRange) {
    Controller c(Settings(), 0);
    c.Receive("E\r\n400\r\nA\r\n-05\r\n", 0);
    EXPECT_EQ(c.Elevation().Target(), 180);
    EXPECT_EQ(c.Azimuth().Target(), 0);
}

TEST(Controller, StaysSilentWithAutoAnswerOff) {
    Controller c(Settings(), 0);
    c.SetAutoAnswer(false);
    c.Receive("A\r\n", 0);
    EXPECT_EQ(c.Tick(kQuiet), "");
    EXPECT_EQ(c.Receive("E\r\nA\r\n", kSecond), "");
}

}  // namespace
}  // namespace kelma
