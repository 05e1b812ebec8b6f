#include "feed/relay_plan.h"
#include "feed/sky_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "sky/front.h"
#include "sky/targets.h"
#include "tests/native/decaying_sets.h"

namespace {

using kelmafeed::RelayPlanner;
using predict::AddSeconds;
using predict::FromCalendar;
using predict::JulianDate;
using rotator::Position;

// SO-50 (Celestrak, 2024-02-12: tools/bench/data) and the decaying sets (DOWN-AT-EPOCH from
// line 4).
const std::string kFile =
    std::string(
        "SAUDISAT 1C (SO-50)\n"
        "1 27607U 02058C   24042.86267269  .00002330  00000+0  33481-3 0  9994\n"
        "2 27607  64.5538 249.6240 0039875 165.8991 194.3236 14.78305792137648\n") +
    synthetic::kDecayingSets;
// Seen from 60 N 10 E, SO-50 rises in the west at 11:35:08, crosses north and sets in the east
// at 11:48:45; the plan's lead time begins at 11:34:08.
const predict::Station kStation{60, 10, 0};
const JulianDate kBeforeLead = FromCalendar({2024, 2, 12, 11, 33, 0});
constexpr double kBeforeSetSeconds = 940;  // after kBeforeLead
constexpr int kLargestStepDeg = 20;

kelmafeed::PlanningSetup So50Setup() {
    const sky::TrackerSettings settings{sky::kKelmaLimits, 60, std::nullopt};
    return {"amateur.txt", predict::ParseElementFile(kFile), kStation, settings};
}

// Where SO-50 is, in whole degrees, as a tracking program with the same elements says.
Position Predicted(JulianDate utc) {
    const predict::StationView view(kStation);
    const sky::FoundTarget so50 = sky::FindTarget("SAUDISAT 1C (SO-50)", "amateur.txt",
                                                  predict::ParseElementFile(kFile), view);
    const auto look = so50.target->sky.look(utc);
    return {static_cast<int>(std::lround(look->azimuth_deg)),
            static_cast<int>(std::lround(look->elevation_deg))};
}

TEST(RelayPlanTest, WithoutElementsAStationOrANameItRelaysUnchangedAndSaysWhyOnce) {
    RelayPlanner planner(std::nullopt);
    const Position source{120, 30};
    RelayPlanner::Outcome first =
        planner.OnSourcePosition("Orbitron", "SO-50", source, kBeforeLead);
    EXPECT_EQ(first.position, source);
    EXPECT_EQ(first.messages, (std::vector<std::string>{
                                  "SO-50: not planned, relayed unchanged: no --elements FILE and "
                                  "--station LAT,LON to plan its passes with"}));
    EXPECT_TRUE(
        planner.OnSourcePosition("Orbitron", "SO-50", source, kBeforeLead).messages.empty());

    RelayPlanner network(So50Setup());
    EXPECT_EQ(network.OnSourcePosition("network", std::nullopt, source, kBeforeLead).messages,
              (std::vector<std::string>{
                  "Positions without a satellite's name: not planned, relayed unchanged"}));
    const RelayPlanner::Outcome again =
        network.OnSourcePosition("network", std::nullopt, {121, 31}, kBeforeLead);
    EXPECT_EQ(again.position, (Position{121, 31}));
    EXPECT_TRUE(again.messages.empty());
    EXPECT_TRUE(network.Advance(AddSeconds(kBeforeLead, 1)).messages.empty());
    EXPECT_FALSE(network.Advance(AddSeconds(kBeforeLead, 1)).position);
}

TEST(RelayPlanTest, ANameNotFoundOrASetTheModelRefusesOrGivesUpOnIsRelayedWithTheReason) {
    const Position source{10, 20};
    const JulianDate perigee = FromCalendar({2024, 2, 12, 0, 48, 0});  // DOWN-SOON's, underground
    const struct {
        const char* name;
        JulianDate utc;
        const char* message;
    } cases[] = {
        {"SO-5", kBeforeLead,
         "SO-5: not planned, relayed unchanged: no element set named \"SO-5\" in amateur.txt; "
         "names that come close: SAUDISAT 1C (SO-50)"},
        {"DOWN-AT-EPOCH", kBeforeLead,
         "DOWN-AT-EPOCH: not planned, relayed unchanged: amateur.txt:5: DOWN-AT-EPOCH: the model "
         "refuses it ("},
        {"DOWN-SOON", perigee,
         "DOWN-SOON: not planned, relayed unchanged: our prediction fails from 2024-02-12 "
         "00:48:00 UTC on (decayed, or its elements out of range)"},
    };
    for (const auto& c : cases) {
        RelayPlanner planner(So50Setup());
        const RelayPlanner::Outcome outcome =
            planner.OnSourcePosition("SatPC32", c.name, source, c.utc);
        EXPECT_EQ(outcome.position, source) << c.name;
        ASSERT_EQ(outcome.messages.size(), 1u) << c.name;
        EXPECT_EQ(outcome.messages[0].rfind(c.message, 0), 0u) << outcome.messages[0];
    }
}

TEST(RelayPlanTest, PlansAPassAcrossNorthThatTheSourceAgreesWithAndKeepsItsPlanThroughAPause) {
    RelayPlanner planner(So50Setup());
    std::vector<std::string> messages;
    std::vector<Position> served;  // each second's, from the lead time on
    const double pauseFrom = 420;  // seconds after kBeforeLead, mid-pass
    const double pauseTo = 450;
    // Orbitron writes the name's spaces as '_', and sends a position every 5 seconds.
    for (double s = 0; s <= kBeforeSetSeconds; ++s) {
        const JulianDate utc = AddSeconds(kBeforeLead, s);
        if (s == pauseFrom) planner.Pause();
        const bool update = std::fmod(s, 5) == 0 && (s < pauseFrom || s >= pauseTo);
        const RelayPlanner::Outcome outcome =
            update
                ? planner.OnSourcePosition("Orbitron", "SAUDISAT_1C_(SO-50)", Predicted(utc), utc)
                : planner.Advance(utc);
        messages.insert(messages.end(), outcome.messages.begin(), outcome.messages.end());
        const bool held = s < 68 || (s >= pauseFrom && s < pauseTo);  // 68: the lead time
        EXPECT_EQ(outcome.position.has_value(), !held) << s;
        if (outcome.position && !held) served.push_back(*outcome.position);
    }
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages[0],
              "SAUDISAT_1C_(SO-50): passes planned with the elements of \"SAUDISAT 1C (SO-50)\" in "
              "amateur.txt");
    EXPECT_EQ(messages[1].rfind("Next pass: SAUDISAT 1C (SO-50) rises 2024-02-12 11:35:08 UTC", 0),
              0u);
    EXPECT_NE(messages[1].find("plan: over the top"), std::string::npos) << messages[1];
    int nextPasses = 0;
    for (const std::string& m : messages) nextPasses += m.rfind("Next pass", 0) == 0;
    EXPECT_EQ(nextPasses, 1) << "the pause made a new plan";
    // Over the top all along, and never across the stop at north.
    ASSERT_GT(served.size(), 800u);
    for (size_t i = 0; i < served.size(); ++i) {
        EXPECT_GT(served[i].elevation, 90) << i;
        if (i == 0) continue;
        EXPECT_LE(std::abs(served[i].azimuth - served[i - 1].azimuth), kLargestStepDeg) << i;
    }
}

TEST(RelayPlanTest, ASourceFarFromOurPredictionIsBelievedAndRelayedUnchangedFromThenOn) {
    RelayPlanner planner(So50Setup());
    const JulianDate culmination = FromCalendar({2024, 2, 12, 11, 42, 0});
    const Position ours = Predicted(culmination);
    const Position theirs{ours.azimuth, ours.elevation - 12};
    const RelayPlanner::Outcome outcome =
        planner.OnSourcePosition("SatPC32", "SO-50", theirs, culmination);
    EXPECT_EQ(outcome.position, theirs);
    // SatPC32 names it as AMSAT's files do.
    ASSERT_EQ(outcome.messages.size(), 2u);
    EXPECT_EQ(outcome.messages[0],
              "SO-50: passes planned with the elements of \"SAUDISAT 1C (SO-50)\" in amateur.txt");
    const std::string expected = "SO-50: SatPC32 has it at az " + std::to_string(theirs.azimuth) +
                                 " el " + std::to_string(theirs.elevation) + ", ";
    EXPECT_EQ(outcome.messages[1].rfind(expected, 0), 0u) << outcome.messages[1];
    EXPECT_NE(
        outcome.messages[1].find(" deg from our prediction (az " + std::to_string(ours.azimuth) +
                                 " el " + std::to_string(ours.elevation) +
                                 ", elements 0.6 days "
                                 "old): not planned, relayed unchanged from now on (are the "
                                 "elements and the station the same as SatPC32's?)"),
        std::string::npos)
        << outcome.messages[1];
    // Even where they agree again.
    const JulianDate later = AddSeconds(culmination, 1);
    const RelayPlanner::Outcome next =
        planner.OnSourcePosition("SatPC32", "SO-50", Predicted(later), later);
    EXPECT_EQ(next.position, Predicted(later));
    EXPECT_TRUE(next.messages.empty());
    EXPECT_FALSE(planner.Advance(AddSeconds(later, 1)).position);
}

TEST(SkySourceTest, FollowsThePlanOnTheSkyClockAndNamesTheTarget) {
    sky::SkyOptions options;
    options.at = AddSeconds(kBeforeLead, 60);  // 11:34:00
    options.speed = 60;
    sky::TargetSetup setup = sky::SetUpTargets({"27607"}, "amateur.txt", kFile, kStation);
    ASSERT_EQ(setup.error, "");
    kelmafeed::SkySource sky(std::move(setup.targets), options, 5000);
    EXPECT_EQ(sky.Description(),
              "our own prediction of SAUDISAT 1C (SO-50), sky clock from 2024-02-12 11:34:00 UTC "
              "at 60 times real time");

    const kelmafeed::SkySource::Tick first = sky.Advance(5000);
    ASSERT_EQ(first.messages.size(), 1u);
    EXPECT_EQ(first.messages[0].rfind("2024-02-12 11:34:00  Next pass: SAUDISAT 1C (SO-50) rises "
                                      "2024-02-12 11:35:08 UTC",
                                      0),
              0u)
        << first.messages[0];
    EXPECT_EQ(first.satellite, "SAUDISAT 1C (SO-50)");
    EXPECT_FALSE(first.position);  // the lead time begins at 11:34:08

    const kelmafeed::SkySource::Tick lead = sky.Advance(6000);  // 11:35:00
    ASSERT_TRUE(lead.position);
    EXPECT_GE(lead.position->elevation, 178);  // over the top, at the horizon
    const std::string status = sky.StatusLine(6000);
    EXPECT_EQ(status.rfind("2024-02-12 11:35:00  SAUDISAT 1C (SO-50): moving to the start, az ", 0),
              0u)
        << status;
    EXPECT_NE(status.find(" | rises 2024-02-12 11:35:08 UTC, highest 49.9 deg, over the top | "
                          "elements 0.6 days old"),
              std::string::npos)
        << status;
}

TEST(SkySourceTest, AdvancesEachSecondOfTheSkyWithinTheWindowsPaceAndOnceASecond) {
    sky::TargetSetup setup = sky::SetUpTargets({"sun"}, "", "", kStation);
    const struct {
        double speed;
        int64_t tickMs;
    } cases[] = {{1, 1000}, {1e-9, 1000}, {4, 250}, {5, 200}, {150, 200}};
    for (const auto& c : cases) {
        sky::SkyOptions options;
        options.speed = c.speed;
        EXPECT_EQ(kelmafeed::SkySource(setup.targets, options, 0).TickMs(), c.tickMs) << c.speed;
    }
}

}  // namespace
