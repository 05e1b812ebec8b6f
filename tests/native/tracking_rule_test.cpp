#include "rotator/tracking_rule.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

constexpr int32_t kNone = -1000;  // nothing commanded yet / no data yet

struct TrackingCase {
    const char* name;
    int32_t linkAzimuth, linkElevation, lastAzimuth, lastElevation;
    bool manual;
    std::optional<int32_t> azimuth, elevation;  // commands expected
};

class TrackingDecisionTest : public ::testing::TestWithParam<TrackingCase> {};

TEST_P(TrackingDecisionTest, SendsOnlyWhatChangedWhileTracking) {
    const TrackingCase& c = GetParam();
    const rotator::TrackingDecision d = rotator::DecideTracking(
        c.linkAzimuth, c.linkElevation, c.lastAzimuth, c.lastElevation, c.manual);
    EXPECT_EQ(d.azimuth, c.azimuth);
    EXPECT_EQ(d.elevation, c.elevation);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrackingDecisionTest,
    ::testing::Values(
        TrackingCase{"FirstStepSendsBoth", 123, 45, kNone, kNone, false, 123, 45},
        TrackingCase{"NeitherChanged", 123, 45, 123, 45, false, std::nullopt, std::nullopt},
        TrackingCase{"OnlyAzimuthChanged", 124, 45, 123, 45, false, 124, std::nullopt},
        TrackingCase{"OnlyElevationChanged", 123, 46, 123, 45, false, std::nullopt, 46},
        TrackingCase{"ManualControlOn", 124, 46, 123, 45, true, std::nullopt, std::nullopt},
        TrackingCase{"ElevationMinus5GoesOnAsZero", 10, -5, kNone, kNone, false, 10, 0},
        TrackingCase{"ElevationMinus6SendsNothing", 10, -6, kNone, kNone, false, std::nullopt,
                     std::nullopt},
        TrackingCase{"NegativeAgainAfterZeroSentIsSentAgain", 10, -2, 10, 0, false, std::nullopt,
                     0},
        TrackingCase{"ZeroAfterZeroSentIsNot", 10, 0, 10, 0, false, std::nullopt, std::nullopt},
        TrackingCase{"LinkStillEmpty", kNone, kNone, kNone, kNone, false, std::nullopt,
                     std::nullopt},
        TrackingCase{"PredictionGoneTurnsToZero", 0, 0, 200, 30, false, 0, 0},
        TrackingCase{"PredictionGoneAlreadyAtZero", 0, 0, 0, 0, false, std::nullopt, std::nullopt},
        TrackingCase{"ManualSetEqualToPrediction", 100, 20, 100, kNone, false, std::nullopt, 20},
        TrackingCase{"AzimuthIsNotLimited", 100000, 999, 5, 5, false, 100000, 999},
        TrackingCase{"NegativeAzimuthGoesOutUnchanged", -300, 10, 5, 10, false, -300,
                     std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct ShownCase {
    int32_t azimuth, elevation;
    bool shown;
};

class TrackingDisplayTest : public ::testing::TestWithParam<ShownCase> {};

TEST_P(TrackingDisplayTest, ShowsOnlyPositionsAboveTheNoDataMarks) {
    EXPECT_EQ(rotator::ShowsTrackingPosition(GetParam().azimuth, GetParam().elevation),
              GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Cases, TrackingDisplayTest,
                         ::testing::Values(ShownCase{kNone, kNone, false},
                                           ShownCase{-360, -180, true}, ShownCase{-361, 0, false},
                                           ShownCase{0, -181, false}, ShownCase{-10000, 10, false},
                                           ShownCase{100000, 999, true}, ShownCase{0, 0, true}),
                         [](const auto& info) { return "Position" + std::to_string(info.index); });

}  // namespace
