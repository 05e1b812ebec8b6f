#include "plan/plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "tests/native/synthetic_orbit.h"

namespace {

using plan::AxisAngles;
using plan::PassPlan;
using plan::PlanKind;
using plan::RotatorLimits;
using plan::SkyDirection;

// More than any one-second step of a followed pass, far less than a swing across the stop.
constexpr double kLargestStepDeg = 20.0;

std::vector<SkyDirection> SyntheticPass(double altitude_km, double offset_deg, double heading_deg) {
    return synthetic::Orbit{altitude_km, offset_deg, heading_deg}.Pass();
}

double HighestElevation(const std::vector<SkyDirection>& track) {
    double highest = 0;
    for (const SkyDirection& s : track) highest = std::max(highest, s.elevation_deg);
    return highest;
}

double LargestStep(const PassPlan& plan) {
    double largest = 0;
    for (size_t i = 1; i < plan.angles.size(); ++i)
        largest = std::max(largest,
                           std::fabs(plan.angles[i].azimuth_deg - plan.angles[i - 1].azimuth_deg));
    return largest;
}

double WorstDeviation(const PassPlan& plan, const std::vector<SkyDirection>& track) {
    double worst = 0;
    for (size_t i = 0; i < track.size(); ++i)
        worst = std::max(worst, plan::PointingErrorDeg(plan.angles[i], track[i]));
    return worst;
}

bool WithinLimits(const PassPlan& plan, const RotatorLimits& limits) {
    return std::all_of(plan.angles.begin(), plan.angles.end(), [&](const AxisAngles& a) {
        return a.azimuth_deg >= limits.min_azimuth_deg && a.azimuth_deg <= limits.max_azimuth_deg &&
               a.elevation_deg >= limits.min_elevation_deg &&
               a.elevation_deg <= limits.max_elevation_deg;
    });
}

constexpr RotatorLimits kOverTheTop{0, 360, 0, 180};
constexpr RotatorLimits kNoOverTheTop{0, 360, 0, 90};
constexpr RotatorLimits kOverlap{0, 450, 0, 90};
constexpr RotatorLimits kHamlibDummy{-180, 450, 0, 90};
constexpr RotatorLimits kWideOverlapOverTheTop{-180, 540, 0, 180};

struct PassCase {
    const char* name;
    double altitude_km, offset_deg, heading_deg;
    RotatorLimits limits;
    PlanKind kind;
    bool followed;  // the whole pass within the allowed deviation
};

class PassPlanTest : public ::testing::TestWithParam<PassCase> {};

// Every pass: angles within the limits and no step that crosses the azimuth stop; a followed
// pass within the allowed deviation all along and at a lower speed than the unplanned one.
TEST_P(PassPlanTest, NeverCrossesTheStopAndFollowsWhereTheLimitsAllow) {
    const PassCase& c = GetParam();
    const std::vector<SkyDirection> track =
        SyntheticPass(c.altitude_km, c.offset_deg, c.heading_deg);
    ASSERT_GT(track.size(), 60u);
    const PassPlan plan = plan::PlanPass(track, c.limits, 0);
    ASSERT_EQ(plan.angles.size(), track.size());
    EXPECT_EQ(plan.kind, c.kind) << plan::PlanKindText(plan.kind);
    EXPECT_TRUE(WithinLimits(plan, c.limits));
    EXPECT_LT(LargestStep(plan), kLargestStepDeg);
    if (c.followed) {
        EXPECT_EQ(plan.seconds_out_of_reach, 0u);
        EXPECT_LE(WorstDeviation(plan, track), plan::kAllowedDeviationDeg + 1e-6);
    } else {
        EXPECT_GT(plan.seconds_out_of_reach, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PassPlanTest,
    ::testing::Values(
        // Low passes that never cross the stop are followed as predicted.
        PassCase{"LowPassInTheSouth", 800, 15, 90, kOverTheTop, PlanKind::kAsPredicted, true},
        PassCase{"LowPassInTheSouthWithoutOverTheTop", 800, 15, 90, kNoOverTheTop,
                 PlanKind::kAsPredicted, true},
        // Crossing north east to west and west to east: over the top at the stop...
        PassCase{"NorthEastToWest", 500, 8, 270, kOverTheTop, PlanKind::kOverTheTop, true},
        PassCase{"NorthWestToEast", 500, -8, 90, kOverTheTop, PlanKind::kOverTheTop, true},
        // ... or in the overlap, where there is one.
        PassCase{"NorthEastToWestInTheOverlap", 500, 8, 270, kOverlap, PlanKind::kAsPredicted,
                 true},
        PassCase{"NorthWestToEastInTheOverlap", 500, -8, 90, kOverlap, PlanKind::kAsPredicted,
                 true},
        PassCase{"NorthInHamlibsDummyRange", 500, 8, 270, kHamlibDummy, PlanKind::kAsPredicted,
                 true},
        // A low pass along the northern horizon, at the stop the whole time.
        PassCase{"LowPassAtTheStop", 800, 22, 270, kOverTheTop, PlanKind::kOverTheTop, true},
        // Near the zenith the azimuth turns faster than any rotator: over the top halfway.
        PassCase{"ThroughTheZenithSouthward", 500, 0.02, 180, kOverTheTop,
                 PlanKind::kSwitchAtTheZenith, true},
        PassCase{"ThroughTheZenithNorthward", 500, -0.02, 0, kWideOverlapOverTheTop,
                 PlanKind::kSwitchAtTheZenith, true},
        // Without over the top and overlap, a pass across the stop cannot be followed whole.
        PassCase{"NorthWithNeitherOverTheTopNorOverlap", 500, 8, 270, kNoOverTheTop,
                 PlanKind::kAsPredicted, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Passes near the zenith: the planned path needs far less azimuth speed than the target's own
// azimuth (which turns by about 180 degrees around the culmination), within the allowed deviation.
TEST(PassPlanSpeedTest, HighPassesNeedLessSpeedThanTheirAzimuth) {
    const struct {
        double offset_deg;
        double share_of_target_speed;
    } cases[] = {{0.05, 0.05}, {0.2, 0.6}, {0.4, 0.7}};
    for (const auto& c : cases) {
        const std::vector<SkyDirection> track = SyntheticPass(500, c.offset_deg, 30);
        const PassPlan plan = plan::PlanPass(track, kOverTheTop, 0);
        double azimuth_speed = 0;
        for (size_t i = 1; i < track.size(); ++i) {
            const double step = std::fabs(track[i].azimuth_deg - track[i - 1].azimuth_deg);
            azimuth_speed = std::max(azimuth_speed, std::min(step, 360 - step));
        }
        SCOPED_TRACE("highest elevation " + std::to_string(HighestElevation(track)));
        EXPECT_LT(plan.azimuth_speed_deg_per_s, c.share_of_target_speed * azimuth_speed);
        EXPECT_LE(WorstDeviation(plan, track), plan::kAllowedDeviationDeg + 1e-6);
    }
}

// Among plans that need the same speed, the one that starts nearest to the antenna: a pass
// across north fits both sides of a wide overlap.
TEST(PassPlanStartTest, StartsNearestToTheAntennaAmongEquallyGoodPlans) {
    const std::vector<SkyDirection> track = SyntheticPass(800, 15, 270);
    const PassPlan from_north = plan::PlanPass(track, kWideOverlapOverTheTop, 0);
    const PassPlan from_far_end = plan::PlanPass(track, kWideOverlapOverTheTop, 450);
    EXPECT_EQ(from_north.kind, PlanKind::kAsPredicted);
    EXPECT_EQ(from_far_end.kind, PlanKind::kAsPredicted);
    EXPECT_NEAR(from_north.angles[0].azimuth_deg, track[0].azimuth_deg, 1.0);
    EXPECT_NEAR(from_far_end.angles[0].azimuth_deg, track[0].azimuth_deg + 360, 1.0);
}

TEST(PassPlanAtTest, InterpolatesBetweenSecondsAndHoldsTheEnds) {
    PassPlan plan;
    plan.angles = {{10, 0}, {12, 4}, {13, 5}};
    EXPECT_DOUBLE_EQ(plan.At(-5).azimuth_deg, 10);
    EXPECT_DOUBLE_EQ(plan.At(0.5).azimuth_deg, 11);
    EXPECT_DOUBLE_EQ(plan.At(0.5).elevation_deg, 2);
    EXPECT_DOUBLE_EQ(plan.At(1.5).azimuth_deg, 12.5);
    EXPECT_DOUBLE_EQ(plan.At(7).elevation_deg, 5);
}

TEST(PointingErrorTest, OverTheTopPointsWhereTheMirroredAnglesDo) {
    EXPECT_NEAR(plan::PointingErrorDeg({200, 150}, {20, 30}), 0, 1e-9);
    EXPECT_NEAR(plan::PointingErrorDeg({0, 90}, {123, 90}), 0, 1e-9);
    EXPECT_NEAR(plan::PointingErrorDeg({10, 0}, {350, 0}), 20, 1e-9);
    EXPECT_NEAR(plan::PointingErrorDeg({0, 85}, {180, 85}), 10, 1e-9);
}

}  // namespace
