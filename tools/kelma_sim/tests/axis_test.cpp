#include "axis.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kelma {
namespace {

TEST(Axis, GotoClampsToTheEndStops) {
    struct Case {
        double asked;
        double target;
    } cases[] = {{45, 45}, {-5, 0}, {0, 0}, {360, 360}, {400, 360}, {359.5, 359.5}};
    for (const Case& c : cases) {
        Axis axis(360, 6);
        axis.Goto(c.asked);
        EXPECT_EQ(axis.Target(), c.target) << "asked " << c.asked;
    }
}

TEST(Axis, TurnsAtItsRateAndStopsOnTheTarget) {
    Axis axis(180, 4);
    axis.Goto(10);
    axis.Advance(1.0);
    EXPECT_DOUBLE_EQ(axis.Position(), 4.0);
    EXPECT_TRUE(axis.Moving());
    axis.Advance(2.0);  // would reach 12
    EXPECT_DOUBLE_EQ(axis.Position(), 10.0);
    EXPECT_FALSE(axis.Moving());
}

TEST(Axis, TurnsBackwardsTowardsALowerTarget) {
    Axis axis(360, 6);
    axis.Jump(100);
    axis.Goto(90);
    axis.Advance(1.0);
    EXPECT_DOUBLE_EQ(axis.Position(), 94.0);
}

TEST(Axis, StopHoldsThePositionReached) {
    Axis axis(360, 6);
    axis.Goto(90);
    axis.Advance(0.5);
    axis.Stop();
    axis.Advance(10);
    EXPECT_DOUBLE_EQ(axis.Position(), 3.0);
    EXPECT_FALSE(axis.Moving());
}

TEST(Axis, JumpPlacesTheAxisStandingAndClamped) {
    Axis axis(180, 4);
    axis.Goto(100);
    axis.Jump(200);
    EXPECT_EQ(axis.Position(), 180);
    EXPECT_FALSE(axis.Moving());
}

TEST(Axis, NotANumberLeavesTheTargetAlone) {
    Axis axis(360, 6);
    axis.Jump(20);
    axis.Goto(std::nan(""));
    EXPECT_EQ(axis.Target(), 20);
}

}  // namespace
}  // namespace kelma
