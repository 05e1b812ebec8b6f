#include "sky/tracker.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sky {
namespace {

using predict::JulianDate;

constexpr double kSecondsPerDay = predict::kSecondsPerDay;
// A pass that sets within this of the moment looked from is over.
constexpr double kPassOverSeconds = 1.0;

JulianDate Later(JulianDate a, JulianDate b) {
    return predict::SecondsBetween(a, b) > 0 ? b : a;
}

std::string Utc(JulianDate utc) {
    return predict::FormatUtc(utc) + " UTC";
}

std::string Fixed(double value) {
    char text[32];
    snprintf(text, sizeof(text), "%.1f", value);
    return text;
}

std::string AzEl(const rotator::Position& p) {
    return "az " + std::to_string(p.azimuth) + " el " + std::to_string(p.elevation);
}

std::string LostMessage(const Target& target, JulianDate at) {
    return target.name + ": the model fails from " + Utc(at) +
           " on (decayed, or its elements out of range); no passes after that";
}

// The target's direction each second from `start` to `end` (a day at most), up to where its
// model fails.
std::vector<plan::SkyDirection> Track(const Target& target, JulianDate start, JulianDate end) {
    const double seconds = std::min(predict::SecondsBetween(start, end), kLongestPlanSeconds);
    std::vector<plan::SkyDirection> track;
    for (int i = 0; i <= static_cast<int>(seconds); ++i) {
        const auto look = target.sky.look(predict::AddSeconds(start, i));
        if (!look) break;
        track.push_back({look->azimuth_deg, look->elevation_deg});
    }
    return track;
}

std::optional<PlannedPass> Plan(const std::vector<Target>& targets, size_t index,
                                const predict::Pass& pass, JulianDate from,
                                const plan::RotatorLimits& limits, double antenna_azimuth_deg) {
    const JulianDate start = Later(pass.rise, from);
    const std::vector<plan::SkyDirection> track = Track(targets[index], start, pass.set);
    if (track.empty()) return std::nullopt;
    return PlannedPass{index, pass, start, plan::PlanPass(track, limits, antenna_azimuth_deg)};
}

// The moment the plan ends.
JulianDate PlanEnd(const PlannedPass& p) {
    return predict::AddSeconds(p.plan_start, static_cast<double>(p.plan.angles.size() - 1));
}

std::string PassText(const Target& target, const PlannedPass& p) {
    return target.name + " rises " + Utc(p.pass.rise) + ", highest " +
           Fixed(p.pass.max_elevation_deg) + " deg at " + Utc(p.pass.culmination) + ", sets " +
           Utc(p.pass.set) + "; plan: " + plan::PlanKindText(p.plan.kind);
}

const char* PhaseText(Phase phase) {
    switch (phase) {
        case Phase::kWaiting:
            return "waiting";
        case Phase::kMovingToStart:
            return "moving to the start";
        case Phase::kTracking:
            return "tracking";
        case Phase::kNoPass:
            return "no pass within a week";
    }
    return "";
}

int WholeWithin(double value, double low, double high) {
    return static_cast<int>(std::clamp(std::round(value), std::ceil(low), std::floor(high)));
}

}  // namespace

std::vector<PlannedPass> PlanPasses(const std::vector<Target>& targets,
                                    const plan::RotatorLimits& limits, JulianDate from,
                                    JulianDate to, double antenna_azimuth_deg,
                                    std::vector<std::string>* problems) {
    std::vector<PlannedPass> planned;
    for (size_t i = 0; i < targets.size(); ++i) {
        const predict::PassSearch search = predict::FindPasses(targets[i].sky, from, to);
        if (search.lost_at) problems->push_back(LostMessage(targets[i], *search.lost_at));
        for (const predict::Pass& pass : search.passes) {
            auto p = Plan(targets, i, pass, from, limits, antenna_azimuth_deg);
            if (p) planned.push_back(std::move(*p));
        }
    }
    std::stable_sort(planned.begin(), planned.end(), [](const auto& a, const auto& b) {
        return predict::SecondsBetween(a.plan_start, b.plan_start) > 0;
    });
    return planned;
}

rotator::Position WholeDegrees(const plan::AxisAngles& angles, const plan::RotatorLimits& limits) {
    return {WholeWithin(angles.azimuth_deg, limits.min_azimuth_deg, limits.max_azimuth_deg),
            WholeWithin(angles.elevation_deg, limits.min_elevation_deg, limits.max_elevation_deg)};
}

std::string StatusLine(const Status& status) {
    std::string line = status.target.empty() ? "" : status.target + ": ";
    line += PhaseText(status.phase);
    if (status.command) line += ", " + AzEl(*status.command);
    if (status.pass) {
        const PlannedPass& p = *status.pass;
        line += std::string(" | ") + (status.phase == Phase::kTracking ? "rose " : "rises ") +
                Utc(p.pass.rise) + ", highest " + Fixed(p.pass.max_elevation_deg) + " deg, " +
                plan::PlanKindText(p.plan.kind);
    }
    if (status.elements_age_days) {
        line += " | elements " + Fixed(*status.elements_age_days) + " days old";
        if (status.elements_old) line += " (too old: get fresh ones)";
    }
    return line;
}

Tracker::Tracker(std::vector<Target> targets, TrackerSettings settings)
    : targets_(std::move(targets)),
      warnedOld_(targets_.size(), false),
      lost_(targets_.size(), false),
      settings_(settings) {}

std::vector<std::string> Tracker::Advance(JulianDate now) {
    std::vector<std::string> events;
    if (!status_.pass && (!searchAgainAt_ || predict::SecondsBetween(*searchAgainAt_, now) >= 0))
        ChooseNextPass(now, &events);
    // A pass that ends here may be followed by one whose lead time has already begun.
    for (int round = 0; round < 2 && status_.pass; ++round) {
        if (predict::SecondsBetween(PlanEnd(*status_.pass), now) <= 0) {
            FollowPass(now, &events);
            break;
        }
        EndPass(now, &events);
    }
    return events;
}

void Tracker::ChooseNextPass(JulianDate now, std::vector<std::string>* events) {
    std::optional<std::pair<size_t, predict::Pass>> next;
    const JulianDate until = predict::AddSeconds(now, kSearchDays * kSecondsPerDay);
    for (size_t i = 0; i < targets_.size(); ++i) {
        if (lost_[i]) continue;
        const predict::PassSearch search = predict::FindPasses(targets_[i].sky, now, until);
        if (search.lost_at) {
            events->push_back(LostMessage(targets_[i], *search.lost_at));
            lost_[i] = true;  // its passes before the failure are still followed below
        }
        for (const predict::Pass& pass : search.passes) {
            if (predict::SecondsBetween(now, pass.set) < kPassOverSeconds) continue;
            const bool earlier =
                !next ||
                predict::SecondsBetween(Later(pass.rise, now), Later(next->second.rise, now)) > 0;
            if (earlier) next.emplace(i, pass);
            break;
        }
    }
    const auto planned =
        next ? Plan(targets_, next->first, next->second, now, settings_.limits, AntennaAzimuth())
             : std::nullopt;
    if (!planned) {
        status_.phase = Phase::kNoPass;
        searchAgainAt_ = predict::AddSeconds(now, kSearchAgainDays * kSecondsPerDay);
        events->push_back("No pass within a week; looking again at " + Utc(*searchAgainAt_));
        return;
    }
    status_.pass = planned;
    status_.target = targets_[planned->target].name;
    status_.phase = Phase::kWaiting;
    events->push_back("Next pass: " + PassText(targets_[planned->target], *planned));
    CheckElementsAge(now, events);
}

void Tracker::FollowPass(JulianDate now, std::vector<std::string>* events) {
    const PlannedPass& p = *status_.pass;
    const double since = predict::SecondsBetween(p.plan_start, now);
    plan::AxisAngles angles;
    if (since >= 0) {
        angles = p.plan.At(since + kAimAheadSeconds);
        if (status_.phase != Phase::kTracking) events->push_back(status_.target + ": pass started");
        status_.phase = Phase::kTracking;
    } else if (since >= -settings_.lead_seconds) {
        angles = p.plan.angles.front();
        if (status_.phase != Phase::kMovingToStart) {
            events->push_back(status_.target + ": moving to the start, " +
                              AzEl(WholeDegrees(angles, settings_.limits)));
        }
        status_.phase = Phase::kMovingToStart;
    } else {
        status_.phase = Phase::kWaiting;
        CheckElementsAge(now, events);
        return;
    }
    lastAngles_ = angles;
    status_.command = WholeDegrees(angles, settings_.limits);
    CheckElementsAge(now, events);
}

void Tracker::EndPass(JulianDate now, std::vector<std::string>* events) {
    const PlannedPass ended = *status_.pass;
    const bool set = predict::SecondsBetween(PlanEnd(ended), ended.pass.set) < kPassOverSeconds;
    events->push_back(status_.target + (set ? ": pass ended" : ": still up; planning on"));
    status_.pass.reset();
    status_.phase = Phase::kWaiting;
    ChooseNextPass(now, events);
    const bool leadBegun = status_.pass && predict::SecondsBetween(now, status_.pass->plan_start) <=
                                               settings_.lead_seconds;
    if (set && settings_.park && !leadBegun) {
        lastAngles_ = settings_.park;
        status_.command = WholeDegrees(*settings_.park, settings_.limits);
        events->push_back("Parking at " + AzEl(*status_.command));
    }
}

void Tracker::CheckElementsAge(JulianDate now, std::vector<std::string>* events) {
    const size_t index = status_.pass->target;
    const Target& target = targets_[index];
    status_.elements_age_days.reset();
    status_.elements_old = false;
    if (!target.elements_epoch) return;
    const double age = predict::SecondsBetween(*target.elements_epoch, now) / kSecondsPerDay;
    status_.elements_age_days = age;
    status_.elements_old = age > kOldElementsDays;
    if (status_.elements_old && !warnedOld_[index]) {
        warnedOld_[index] = true;
        events->push_back("The elements of " + target.name + " are " + Fixed(age) +
                          " days old at " + Utc(now) + ": get fresh ones");
    }
}

double Tracker::AntennaAzimuth() const {
    if (lastAngles_) return lastAngles_->azimuth_deg;
    if (settings_.park) return settings_.park->azimuth_deg;
    return (settings_.limits.min_azimuth_deg + settings_.limits.max_azimuth_deg) / 2;
}

}  // namespace sky
