// The tracking engine that kelmatrack and kelmafeed's sky source share: from the targets (element
// sets, the Sun, the Moon), the rotator's limits, the lead time and the park position, it works
// out at each moment where the antenna goes, and says what it does.
//
// Of several targets it follows whichever rises next; once that pass has set, it looks again.
// Each pass is planned once, when it is chosen (plan/plan.h); the antenna goes to the plan's start
// `lead_seconds` before the rise, follows the plan to the set, then parks or stays. A pass already
// under way when it is chosen is planned from that moment. Plain C++ without I/O: the fronts keep
// the clock (SkyClock), call Advance and send Command() on to the rotator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "plan/plan.h"
#include "predict/passes.h"
#include "predict/time.h"
#include "rotator/position.h"

namespace sky {

constexpr double kDefaultLeadSeconds = 60.0;
// Elements older than this at the clock's time are warned about.
constexpr double kOldElementsDays = 30.0;
// How far ahead the next pass is looked for, and when to look again after finding none.
constexpr double kSearchDays = 7.0;
constexpr double kSearchAgainDays = 1.0;
// The fronts command once a second (of the sky clock): each command aims at the middle of the
// second ahead, so that the antenna is never more than half a second behind or ahead.
constexpr double kAimAheadSeconds = 0.5;
// A pass longer than this (the Sun, the Moon, a satellite that stays up) is planned a day at a
// time; the next day's plan starts where the antenna is.
constexpr double kLongestPlanSeconds = 86400.0;

// The sky's time: starts at `start` (--at, or the time of day) and runs `speed` times as fast as
// the steady clock whose milliseconds the fronts pass in.
class SkyClock {
public:
    SkyClock(predict::JulianDate start, double speed, int64_t wallStartMs)
        : start_(start), speed_(speed), wallStartMs_(wallStartMs) {}
    predict::JulianDate Now(int64_t wallMs) const {
        return predict::AddSeconds(start_,
                                   speed_ * static_cast<double>(wallMs - wallStartMs_) / 1000);
    }
    double Speed() const { return speed_; }

private:
    predict::JulianDate start_;
    double speed_;
    int64_t wallStartMs_;
};

struct Target {
    std::string name;
    predict::PassTarget sky;
    std::optional<predict::JulianDate> elements_epoch;  // satellites only
};

struct TrackerSettings {
    plan::RotatorLimits limits;
    double lead_seconds = kDefaultLeadSeconds;
    std::optional<plan::AxisAngles> park;  // none: the antenna stays where the pass left it
};

// A pass with its plan, as the fronts show it.
struct PlannedPass {
    size_t target;  // index into the targets
    predict::Pass pass;
    predict::JulianDate plan_start;  // the rise, or the moment the plan was made if later
    plan::PassPlan plan;
};

// The passes of the targets that are up between `from` and `to`, in time order, each planned for
// an antenna standing at `antenna_azimuth_deg`. A target whose model fails on the way has its
// passes up to there, and a message in `problems`.
std::vector<PlannedPass> PlanPasses(const std::vector<Target>& targets,
                                    const plan::RotatorLimits& limits, predict::JulianDate from,
                                    predict::JulianDate to, double antenna_azimuth_deg,
                                    std::vector<std::string>* problems);

// The whole degrees to command for axis angles, within the limits.
rotator::Position WholeDegrees(const plan::AxisAngles& angles, const plan::RotatorLimits& limits);

enum class Phase {
    kWaiting,        // for the next pass (parked, or where the last pass left the antenna)
    kMovingToStart,  // within the lead time before the rise
    kTracking,       // from the rise to the set
    kNoPass,         // none of the targets rises within kSearchDays
};

struct Status {
    Phase phase = Phase::kNoPass;
    std::optional<PlannedPass> pass;  // the pass followed or next
    std::string target;               // its target's name
    std::optional<double> elements_age_days;
    bool elements_old = false;
    std::optional<rotator::Position> command;
};

// "ISS (ZARYA): tracking, az 123 el 45 | rises 2024-02-12 10:01:02, highest 45.3 deg, over the
// top | elements 2.3 days old".
std::string StatusLine(const Status& status);

class Tracker {
public:
    Tracker(std::vector<Target> targets, TrackerSettings settings);

    // Moves to `now` (never backwards) and returns what is worth logging.
    std::vector<std::string> Advance(predict::JulianDate now);
    // The position to command now; none before the first pass's lead time.
    const std::optional<rotator::Position>& Command() const { return status_.command; }
    const Status& CurrentStatus() const { return status_; }
    // For the passes planned from now on (a plan already made stays as it is).
    void SetLimits(const plan::RotatorLimits& limits) { settings_.limits = limits; }

private:
    void ChooseNextPass(predict::JulianDate now, std::vector<std::string>* events);
    void FollowPass(predict::JulianDate now, std::vector<std::string>* events);
    void EndPass(predict::JulianDate now, std::vector<std::string>* events);
    void CheckElementsAge(predict::JulianDate now, std::vector<std::string>* events);
    double AntennaAzimuth() const;

    std::vector<Target> targets_;
    std::vector<bool> warnedOld_;
    std::vector<bool> lost_;  // its model failed: no more passes
    TrackerSettings settings_;
    Status status_;
    std::optional<predict::JulianDate> searchAgainAt_;
    std::optional<plan::AxisAngles> lastAngles_;
};

}  // namespace sky
