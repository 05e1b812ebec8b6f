#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "predict/earth.h"
#include "predict/passes.h"

namespace {

using predict::AddSeconds;
using predict::FindPasses;
using predict::JulianDate;
using predict::LookAngles;
using predict::Pass;
using predict::PassSearch;
using predict::PassTarget;
using predict::SecondsBetween;

const JulianDate kStart{2460389.5, 0.0};
constexpr double kPeriodSeconds = 6000.0;
constexpr double kRiseSeconds = 100.0;  // rises then, peaks P/4 and sets P/2 later, each period

// A target whose elevation swings `amplitude` about `mean` degrees with the period, 1000 km away.
// Its height above the horizon plane, 1000 km x sin(elevation), changes by at most 1.1 km/s and
// 2.4e-3 km/s^2 for a swing of up to 60 deg: the bound holds a little more.
PassTarget Swinging(double mean_deg, double amplitude_deg, double lost_after_seconds = 1e9) {
    auto look = [=](JulianDate utc) -> std::optional<LookAngles> {
        const double t = SecondsBetween(kStart, utc);
        if (t >= lost_after_seconds) return std::nullopt;
        const double rate = predict::kTwoPi / kPeriodSeconds;
        const double phase = rate * (t - kRiseSeconds);
        return LookAngles{90.0, mean_deg + amplitude_deg * std::sin(phase), 1000.0, 0.0,
                          0.0,  amplitude_deg * rate * std::cos(phase)};
    };
    return {look, {1.2, 3e-3}};
}

double At(JulianDate utc) {
    return SecondsBetween(kStart, utc);
}

PassSearch Search(const PassTarget& target, double from_seconds, double to_seconds) {
    return FindPasses(target, AddSeconds(kStart, from_seconds), AddSeconds(kStart, to_seconds));
}

TEST(FindPassesTest, FindsEveryRiseCulminationAndSetToTheirPrecision) {
    const PassSearch search = Search(Swinging(0.0, 30.0), 0.0, 4 * kPeriodSeconds);
    ASSERT_EQ(search.passes.size(), 4u);
    EXPECT_FALSE(search.lost_at);
    for (size_t k = 0; k < 4; ++k) {
        const Pass& pass = search.passes[k];
        const double rise = kRiseSeconds + k * kPeriodSeconds;
        EXPECT_NEAR(At(pass.rise), rise, 1e-3);
        EXPECT_NEAR(At(pass.culmination), rise + kPeriodSeconds / 4, 0.05);
        EXPECT_NEAR(At(pass.set), rise + kPeriodSeconds / 2, 1e-3);
        EXPECT_NEAR(pass.max_elevation_deg, 30.0, 1e-6);
        EXPECT_FALSE(pass.cut_at_start || pass.cut_at_end);
    }
}

TEST(FindPassesTest, PassesUnderWayAtTheWindowsEdgesAreCutThere) {
    const PassTarget target = Swinging(0.0, 30.0);
    // Up at the start, before its peak; up at the end, still rising.
    PassSearch search = Search(target, 1000.0, 7000.0);
    ASSERT_EQ(search.passes.size(), 2u);
    EXPECT_TRUE(search.passes[0].cut_at_start);
    EXPECT_NEAR(At(search.passes[0].rise), 1000.0, 1e-6);
    EXPECT_NEAR(At(search.passes[0].culmination), 1600.0, 0.05);
    EXPECT_FALSE(search.passes[0].cut_at_end);
    EXPECT_TRUE(search.passes[1].cut_at_end);
    EXPECT_NEAR(At(search.passes[1].set), 7000.0, 1e-6);
    EXPECT_NEAR(At(search.passes[1].culmination), 7000.0, 0.05);
    EXPECT_NEAR(search.passes[1].max_elevation_deg, 30.0 * std::sin(0.3 * predict::kPi), 1e-4);
    // Inside one pass, past its peak: the highest point is the window's start.
    search = Search(target, 2000.0, 2600.0);
    ASSERT_EQ(search.passes.size(), 1u);
    EXPECT_TRUE(search.passes[0].cut_at_start && search.passes[0].cut_at_end);
    EXPECT_NEAR(At(search.passes[0].culmination), 2000.0, 0.05);
    // Inside one pass, around its peak.
    search = Search(target, 1000.0, 2000.0);
    ASSERT_EQ(search.passes.size(), 1u);
    EXPECT_NEAR(At(search.passes[0].culmination), 1600.0, 0.05);
    EXPECT_NEAR(search.passes[0].max_elevation_deg, 30.0, 1e-6);
}

TEST(FindPassesTest, TargetThatNeverRisesHasNoPassAndOneAlwaysUpHasOneWholeWindowLong) {
    EXPECT_TRUE(Search(Swinging(-20.0, 15.0), 0.0, 7 * 86400.0).passes.empty());
    const PassSearch search = Search(Swinging(45.0, 10.0), 0.0, kPeriodSeconds);
    ASSERT_EQ(search.passes.size(), 1u);
    EXPECT_TRUE(search.passes[0].cut_at_start && search.passes[0].cut_at_end);
    EXPECT_NEAR(At(search.passes[0].set), kPeriodSeconds, 1e-6);
    EXPECT_NEAR(At(search.passes[0].culmination), 1600.0, 0.05);
    EXPECT_NEAR(search.passes[0].max_elevation_deg, 55.0, 1e-6);
}

TEST(FindPassesTest, LostTargetEndsTheSearchWithThePassesBefore) {
    PassSearch search = Search(Swinging(0.0, 30.0, 10000.0), 0.0, 4 * kPeriodSeconds);
    ASSERT_EQ(search.passes.size(), 2u);
    ASSERT_TRUE(search.lost_at);
    EXPECT_GE(At(*search.lost_at), 10000.0);
    EXPECT_FALSE(search.passes[1].cut_at_end);
    // Lost during a pass: the pass ends at the last look that answered.
    search = Search(Swinging(0.0, 30.0, 7000.0), 0.0, 4 * kPeriodSeconds);
    ASSERT_EQ(search.passes.size(), 2u);
    EXPECT_TRUE(search.passes[1].cut_at_end);
    EXPECT_LT(At(search.passes[1].set), 7000.0);
    EXPECT_GE(At(*search.lost_at), 7000.0);
    // Lost from the start.
    search = Search(Swinging(0.0, 30.0, 0.0), 0.0, kPeriodSeconds);
    EXPECT_TRUE(search.passes.empty());
    ASSERT_TRUE(search.lost_at);
    EXPECT_EQ(At(*search.lost_at), 0.0);
}

TEST(FindPassesTest, ElevationThatIsNotANumberCountsAsLost) {
    PassTarget target = Swinging(0.0, 30.0);
    target.look = [](JulianDate) -> std::optional<LookAngles> {
        return LookAngles{0.0, NAN, 1000.0, 0.0, 0.0, 0.0};
    };
    const PassSearch search = Search(target, 0.0, kPeriodSeconds);
    EXPECT_TRUE(search.passes.empty());
    EXPECT_TRUE(search.lost_at);
}

TEST(FindPassesTest, EmptyOrReversedWindowHasNoPasses) {
    const PassTarget target = Swinging(45.0, 10.0);
    EXPECT_TRUE(Search(target, 100.0, 100.0).passes.empty());
    EXPECT_TRUE(Search(target, 100.0, 50.0).passes.empty());
    EXPECT_FALSE(Search(target, 100.0, 50.0).lost_at);
}

// Far below the horizon the steps are long: a week of a target below the horizon half the time
// takes a small share of the looks a scan by the second would.
TEST(FindPassesTest, WalksFarFromTheHorizonInLongSteps) {
    int looks = 0;
    PassTarget target = Swinging(0.0, 60.0);
    auto look = target.look;
    target.look = [&looks, look](JulianDate utc) {
        ++looks;
        return look(utc);
    };
    const PassSearch search = Search(target, 0.0, 7 * 86400.0);
    EXPECT_EQ(search.passes.size(), 101u);
    EXPECT_LT(looks, 7 * 86400 / 50);
}

// A target standing still is walked at the smallest step, not skipped over.
TEST(FindPassesTest, TargetWithoutASpeedBoundIsStillSearched) {
    PassTarget target = Swinging(0.0, 30.0);
    target.bound = {0.0, 0.0};
    EXPECT_EQ(Search(target, 0.0, kPeriodSeconds).passes.size(), 1u);
}

}  // namespace
