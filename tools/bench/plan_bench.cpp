// The planner's figures: every pass of a week of low-orbit element sets at three stations (60 N,
// 35 N, 34 S), followed by a rotator model that turns its axes at a fixed rate towards whole-degree
// commands (the controller simulator's axes) given once a second, on the KELMA controller's
// azimuth 0..360 (stop at north) and elevation 0..180:
//   - planned: the tracking engine of kelmatrack and kelmafeed (lead 60 s, park at 0 0; the slower
//     rotator also with a lead of 100 s);
//   - unplanned: the satellite's 0..360 azimuth and its elevation relayed as they are, from -5
//     degrees of elevation on, as the operator window does with a prediction program's data.
// For each: the passes, the in-pass seconds in which the antenna points within 2 degrees of the
// satellite (measured at each whole second, before that second's command), the rises at which it
// does, and the in-pass commands whose azimuth moves by more than 20 degrees from the one before
// (a swing across the stop).
//   plan_bench ELEMENT_FILE [START_UTC] [DAYS]
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "predict/elements.h"
#include "predict/passes.h"
#include "sky/targets.h"
#include "sky/tracker.h"
#include "tools/bench/rotator_model.h"

namespace {

using predict::AddSeconds;
using predict::JulianDate;
using predict::SecondsBetween;

constexpr double kWithinDeg = 2.0;
constexpr double kStopSwingDeg = 20.0;
constexpr double kLeadSeconds = sky::kDefaultLeadSeconds;
constexpr plan::AxisAngles kPark{0, 0};

using bench::Rates;

struct Site {
    const char* name;
    predict::Station station;
};

const Site kSites[] = {
    {"60 N", {60.0, 10.7, 100}}, {"35 N", {35.0, 139.7, 40}}, {"34 S", {-34.0, 18.5, 50}}};

struct Figures {
    long passes = 0;
    long seconds = 0;
    long seconds_within = 0;
    long rises_within = 0;
    long stop_swings = 0;
    long over_the_top = 0;  // planned passes not as predicted (under way at the start included)

    void Add(const Figures& o) {
        passes += o.passes;
        seconds += o.seconds;
        seconds_within += o.seconds_within;
        rises_within += o.rises_within;
        stop_swings += o.stop_swings;
        over_the_top += o.over_the_top;
    }
};

// One second of a followed target: measures where the antenna points, then gives the command.
class Follower {
public:
    Follower(const sky::Target& target, Rates rates) : target_(target), rotator_(rates) {}

    void Second(JulianDate t, const std::optional<rotator::Position>& command) {
        const auto look = target_.sky.look(t);
        const bool up = look && look->elevation_deg >= 0;
        if (up) {
            const double error = plan::PointingErrorDeg(rotator_.Pointing(),
                                                        {look->azimuth_deg, look->elevation_deg});
            ++figures_.seconds;
            figures_.seconds_within += error <= kWithinDeg;
            if (!wasUp_) {
                ++figures_.passes;
                figures_.rises_within += error <= kWithinDeg;
            }
        }
        if (command) {
            if (up && wasUp_ && lastCommand_ &&
                std::abs(command->azimuth - lastCommand_->azimuth) > kStopSwingDeg)
                ++figures_.stop_swings;
            rotator_.Command(*command);
            lastCommand_ = command;
        }
        wasUp_ = up;
        rotator_.Run(1.0);
    }

    bool Standing() const { return rotator_.Standing(); }
    Figures& Result() { return figures_; }

private:
    const sky::Target& target_;
    bench::RotatorModel rotator_;
    Figures figures_;
    bool wasUp_ = true;  // a pass under way at the start does not count
    std::optional<rotator::Position> lastCommand_;
};

Figures Planned(const sky::Target& target, Rates rates, double lead_seconds, JulianDate start,
                JulianDate end) {
    sky::Tracker tracker({target}, {sky::kKelmaLimits, lead_seconds, kPark});
    Follower follower(target, rates);
    std::optional<JulianDate> counted;  // the plan start of the last pass counted
    for (JulianDate t = start; SecondsBetween(t, end) > 0; t = AddSeconds(t, 1)) {
        tracker.Advance(t);
        const sky::Status& status = tracker.CurrentStatus();
        if (status.phase == sky::Phase::kNoPass) break;
        // Nothing happens until the next lead time once the antenna stands.
        const JulianDate wake = AddSeconds(status.pass->plan_start, -lead_seconds - 1);
        if (status.phase == sky::Phase::kWaiting && follower.Standing() &&
            SecondsBetween(t, wake) > 1) {
            t = AddSeconds(wake, -1);
            continue;
        }
        const JulianDate plan_start = status.pass->plan_start;
        if (status.phase == sky::Phase::kTracking &&
            (!counted || SecondsBetween(*counted, plan_start) != 0)) {
            counted = plan_start;
            follower.Result().over_the_top +=
                status.pass->plan.kind != plan::PlanKind::kAsPredicted;
        }
        follower.Second(t, tracker.Command());
    }
    return follower.Result();
}

Figures Unplanned(const sky::Target& target, Rates rates, JulianDate start, JulianDate end) {
    Follower follower(target, rates);
    for (const predict::Pass& pass : predict::FindPasses(target.sky, start, end).passes) {
        if (pass.cut_at_start) continue;  // under way at the start, as for the planned path
        const JulianDate from = AddSeconds(pass.rise, -2 * kLeadSeconds);
        for (JulianDate t = from; SecondsBetween(t, pass.set) > -1 && SecondsBetween(t, end) > 0;
             t = AddSeconds(t, 1)) {
            follower.Second(t, bench::UnplannedCommand(target.sky.look(t)));
        }
    }
    return follower.Result();
}

void PrintRow(const char* rates, bool planned, const char* site, const Figures& f) {
    const std::string replanned = planned ? std::to_string(f.over_the_top) : "-";
    printf("%-9s  %-9s  %-5s  %6ld  %9ld  %11.2f %%  %4ld of %4ld  %14ld  %12s\n", rates,
           planned ? "planned" : "unplanned", site, f.passes, f.seconds,
           f.seconds
               ? 100.0 * static_cast<double>(f.seconds_within) / static_cast<double>(f.seconds)
               : 0.0,
           f.rises_within, f.passes, f.stop_swings, replanned.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: plan_bench ELEMENT_FILE [START_UTC] [DAYS]\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    const predict::ElementFile elements = predict::ParseElementFile(text.str());
    const auto parsed = predict::ParseUtc(argc > 2 ? argv[2] : "2024-02-12 00:00:00");
    const double days = argc > 3 ? atof(argv[3]) : 7.0;
    if (!file || elements.sets.empty() || !parsed.utc || !(days > 0)) {
        fprintf(stderr, "plan_bench: no element sets, start or days\n");
        return 2;
    }
    const JulianDate start = *parsed.utc;
    const JulianDate end = AddSeconds(start, days * predict::kSecondsPerDay);
    printf(
        "%zu element sets from %s, %g days from %s UTC; rotator az 0..360 (stop at north), el "
        "0..180\n",
        elements.sets.size(), argv[1], days, predict::FormatUtc(start).c_str());
    printf("%-9s  %-9s  %-5s  %6s  %9s  %13s  %12s  %14s  %12s\n", "rates", "path", "site",
           "passes", "in-pass s", "within 2 deg", "at the rise", "stop swings", "not as pred.");
    // The slower rotator once more with the lead that its 180 degrees of elevation take.
    const struct {
        const char* name;
        Rates rates;
        double lead_seconds;
    } rateRows[] = {{"6/4 deg/s", {6, 4}, kLeadSeconds},
                    {"3/2 deg/s", {3, 2}, kLeadSeconds},
                    {"3/2, 100s", {3, 2}, 100}};
    for (const auto& r : rateRows) {
        for (const bool planned : {true, false}) {
            if (!planned && r.lead_seconds != kLeadSeconds) continue;  // no lead to relay
            Figures all;
            for (const Site& site : kSites) {
                const predict::StationView view(site.station);
                Figures here;
                for (const predict::ElementSet& set : elements.sets) {
                    const sky::Target target = sky::FromElementSet(set, view);
                    here.Add(planned ? Planned(target, r.rates, r.lead_seconds, start, end)
                                     : Unplanned(target, r.rates, start, end));
                }
                PrintRow(r.name, planned, site.name, here);
                all.Add(here);
            }
            PrintRow(r.name, planned, "all", all);
        }
    }
    return 0;
}
