#include "sky/tracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/native/synthetic_orbit.h"

namespace {

using predict::AddSeconds;
using predict::JulianDate;
using rotator::Position;
using sky::Phase;
using sky::Target;
using sky::Tracker;

const JulianDate kStart = predict::FromCalendar({2024, 2, 12, 0, 0, 0});
// Crosses north from west to east, closest to the station this long after kStart and then
// once a revolution.
const synthetic::Orbit kNorthPass{500, -8, 90};
constexpr double kFirstClosestSeconds = 3000;
constexpr plan::RotatorLimits kKelmaLimits{0, 360, 0, 180};

// A satellite of the synthetic orbit closest to the station `closest_seconds` after kStart; its
// model fails from `fails_after_seconds` on.
Target Satellite(const std::string& name, const synthetic::Orbit& orbit, double closest_seconds,
                 double fails_after_seconds = 1e9) {
    Target target;
    target.name = name;
    target.sky.bound = {orbit.SpeedKmPerS(), orbit.AccelerationKmPerS2()};
    target.sky.look = [=](JulianDate utc) -> std::optional<predict::LookAngles> {
        const double seconds = predict::SecondsBetween(kStart, utc);
        if (seconds > fails_after_seconds) return std::nullopt;
        return orbit.Look(seconds - closest_seconds);
    };
    return target;
}

bool Contains(const std::vector<std::string>& events, const std::string& start) {
    for (const std::string& e : events)
        if (e.rfind(start, 0) == 0) return true;
    return false;
}

struct Journal {
    std::vector<std::string> events;
    std::vector<Position> commands;  // each change
};

// Advances a second at a time from `from` to `to` (seconds after kStart).
void Step(Tracker* tracker, double from, double to, Journal* run) {
    for (double s = from; s <= to; s += 1) {
        for (std::string& e : tracker->Advance(AddSeconds(kStart, s))) run->events.push_back(e);
        const auto& command = tracker->Command();
        if (command && (run->commands.empty() || !(run->commands.back() == *command)))
            run->commands.push_back(*command);
    }
}

TEST(SkyTrackerTest, MovesToTheStartFollowsThePassAndParks) {
    sky::TrackerSettings settings{kKelmaLimits, 60, plan::AxisAngles{0, 0}};
    Tracker tracker({Satellite("NORTH-1", kNorthPass, kFirstClosestSeconds)}, settings);
    Journal run;
    Step(&tracker, 0, 0, &run);
    ASSERT_EQ(run.events.size(), 1u);
    EXPECT_TRUE(Contains(run.events, "Next pass: NORTH-1 rises 2024-02-12 00:4")) << run.events[0];
    EXPECT_NE(run.events[0].find("plan: over the top"), std::string::npos) << run.events[0];
    const sky::PlannedPass pass = *tracker.CurrentStatus().pass;
    const double rise = predict::SecondsBetween(kStart, pass.pass.rise);
    const double set = predict::SecondsBetween(kStart, pass.pass.set);

    Step(&tracker, 1, rise - 61, &run);
    EXPECT_EQ(tracker.CurrentStatus().phase, Phase::kWaiting);
    EXPECT_FALSE(tracker.Command());  // nothing before the lead time
    Step(&tracker, rise - 60, rise - 1, &run);
    EXPECT_EQ(tracker.CurrentStatus().phase, Phase::kMovingToStart);
    ASSERT_EQ(run.commands.size(), 1u);
    EXPECT_EQ(run.commands[0], sky::WholeDegrees(pass.plan.angles[0], kKelmaLimits));
    EXPECT_GE(run.commands[0].elevation, 178);  // over the top, at the horizon

    Step(&tracker, rise, set + 1, &run);
    EXPECT_TRUE(Contains(run.events, "NORTH-1: pass started"));
    EXPECT_TRUE(Contains(run.events, "NORTH-1: pass ended"));
    EXPECT_TRUE(Contains(run.events, "Parking at az 0 el 0"));
    EXPECT_EQ(tracker.CurrentStatus().phase, Phase::kWaiting);
    EXPECT_EQ(*tracker.Command(), (Position{0, 0}));
    // The next revolution is the next pass; no command crossed the stop on the way.
    EXPECT_GT(predict::SecondsBetween(pass.pass.set, tracker.CurrentStatus().pass->pass.rise),
              kNorthPass.PeriodSeconds() / 2);
    for (size_t i = 2; i + 1 < run.commands.size(); ++i)
        EXPECT_LE(std::abs(run.commands[i].azimuth - run.commands[i - 1].azimuth), 3) << i;
}

TEST(SkyTrackerTest, FollowsWhicheverRisesNextAndStaysWithoutAParkPosition) {
    sky::TrackerSettings settings{kKelmaLimits, 60, std::nullopt};
    Tracker tracker({Satellite("LATE", kNorthPass, 5000), Satellite("EARLY", kNorthPass, 2000)},
                    settings);
    Journal run;
    Step(&tracker, 0, 0, &run);
    EXPECT_EQ(tracker.CurrentStatus().target, "EARLY");
    const double set = predict::SecondsBetween(kStart, tracker.CurrentStatus().pass->pass.set);
    Step(&tracker, 1, set + 1, &run);
    EXPECT_EQ(tracker.CurrentStatus().target, "LATE");
    EXPECT_FALSE(Contains(run.events, "Parking"));
    EXPECT_EQ(*tracker.Command(), run.commands.back());  // where the pass left the antenna
}

TEST(SkyTrackerTest, WarnsOnceAboutOldElements) {
    Target target = Satellite("OLD-1", kNorthPass, kFirstClosestSeconds);
    target.elements_epoch = AddSeconds(kStart, -40 * predict::kSecondsPerDay);
    Tracker tracker({target}, {kKelmaLimits, 60, std::nullopt});
    Journal run;
    Step(&tracker, 0, 10, &run);
    EXPECT_EQ(run.events.size(), 2u);
    EXPECT_TRUE(Contains(run.events,
                         "The elements of OLD-1 are 40.0 days old at 2024-02-12 00:00:00 UTC: "
                         "get fresh ones"));
    EXPECT_TRUE(tracker.CurrentStatus().elements_old);
    EXPECT_NEAR(*tracker.CurrentStatus().elements_age_days, 40.0, 0.001);
}

TEST(SkyTrackerTest, AModelThatFailsEndsItsTargetsPassesWithAMessage) {
    // Fails before its second pass: the first is followed, then nothing is left.
    Tracker tracker({Satellite("DECAYING", kNorthPass, kFirstClosestSeconds, 6000)},
                    {kKelmaLimits, 60, std::nullopt});
    Journal run;
    Step(&tracker, 0, 0, &run);
    EXPECT_TRUE(Contains(run.events, "DECAYING: the model fails from 2024-02-12 01:"));
    EXPECT_TRUE(tracker.CurrentStatus().pass);
    Step(&tracker, 1, 6100, &run);
    EXPECT_TRUE(Contains(run.events, "DECAYING: pass ended"));
    EXPECT_EQ(tracker.CurrentStatus().phase, Phase::kNoPass);
    EXPECT_TRUE(Contains(run.events, "No pass within a week; looking again at 2024-02-13 00:"));
}

TEST(SkyTrackerTest, StatusLineSaysTargetPhasePassAndElementsAge) {
    sky::Status status;
    status.phase = Phase::kMovingToStart;
    status.target = "ISS (ZARYA)";
    status.command = Position{182, 178};
    sky::PlannedPass p;
    p.pass.rise = predict::FromCalendar({2024, 2, 12, 10, 1, 2});
    p.pass.max_elevation_deg = 45.34;
    p.plan.kind = plan::PlanKind::kOverTheTop;
    status.pass = p;
    status.elements_age_days = 31.25;
    status.elements_old = true;
    EXPECT_EQ(sky::StatusLine(status),
              "ISS (ZARYA): moving to the start, az 182 el 178 | rises 2024-02-12 10:01:02 UTC, "
              "highest 45.3 deg, over the top | elements 31.2 days old (too old: get fresh ones)");
}

TEST(SkyTrackerTest, WholeDegreesStayWithinTheLimits) {
    const plan::RotatorLimits overlap{-180, 450, 0, 90};
    EXPECT_EQ(sky::WholeDegrees({359.6, 90.4}, kKelmaLimits), (Position{360, 90}));
    EXPECT_EQ(sky::WholeDegrees({-0.4, -0.6}, kKelmaLimits), (Position{0, 0}));
    EXPECT_EQ(sky::WholeDegrees({-10.5, 120}, overlap), (Position{-11, 90}));
    EXPECT_EQ(sky::WholeDegrees({450.4, 45.5}, overlap), (Position{450, 46}));
}

}  // namespace
