// One pass followed by the controller simulator's axes at 6 and 4 deg/s, planned and unplanned
// (tools/bench/rotator_model.h), for the sky plot of the operator guide (tools/sky_plot.py): the
// first pass of a target that rises after a time, as a header line and one line a second from
// its rise to its set: where the target is, where the antenna points on either path, and the
// planned path's axis angles.
//   pass_paths ELEMENT_FILE NAME LAT,LON START_UTC
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "predict/passes.h"
#include "sky/targets.h"
#include "sky/tracker.h"
#include "tools/bench/rotator_model.h"

namespace {

using predict::AddSeconds;
using predict::JulianDate;

constexpr bench::Rates kRates{6, 4};
constexpr double kSearchDays = 1;

// Where the axes point in the sky: over the top, at the azimuth opposite.
plan::SkyDirection Pointing(const plan::AxisAngles& axes) {
    if (axes.elevation_deg <= 90) return {axes.azimuth_deg, axes.elevation_deg};
    const double azimuth = axes.azimuth_deg + 180;
    return {azimuth >= 360 ? azimuth - 360 : azimuth, 180 - axes.elevation_deg};
}

// Each path starts with the antenna standing at its first command, as after its lead time.
class Path {
public:
    void Second(const std::optional<rotator::Position>& command) {
        if (command && !started_) rotator_.Place(*command);
        started_ = started_ || command;
        if (command) rotator_.Command(*command);
    }
    plan::AxisAngles Axes() const { return rotator_.Pointing(); }
    plan::SkyDirection Points() const { return Pointing(rotator_.Pointing()); }
    void Run() { rotator_.Run(1.0); }

private:
    bench::RotatorModel rotator_{kRates};
    bool started_ = false;
};

int Fail(const char* why) {
    fprintf(stderr, "pass_paths: %s\n", why);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) return Fail("usage: pass_paths ELEMENT_FILE NAME LAT,LON START_UTC");
    std::ifstream file(argv[1], std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    const auto station = predict::ParseStation(argv[3]);
    const auto start = predict::ParseUtc(argv[4]);
    if (!file || !station.station || !start.utc) return Fail("no element file, station or start");
    const sky::TargetSetup setup =
        sky::SetUpTargets({argv[2]}, argv[1], text.str(), *station.station);
    if (!setup.error.empty()) return Fail(setup.error.c_str());
    const sky::Target& target = setup.targets[0];
    const auto passes = predict::FindPasses(
        target.sky, *start.utc, AddSeconds(*start.utc, kSearchDays * predict::kSecondsPerDay));
    if (passes.passes.empty()) return Fail("no pass within a day");
    const predict::Pass& pass = passes.passes[0];

    sky::Tracker tracker({target}, {sky::kKelmaLimits, sky::kDefaultLeadSeconds, std::nullopt});
    tracker.Advance(*start.utc);
    printf("# %s seen from %s: rises %s UTC, highest %.1f deg, sets %s UTC; plan: %s\n",
           target.name.c_str(), argv[3], predict::FormatUtc(pass.rise).c_str(),
           pass.max_elevation_deg, predict::FormatUtc(pass.set).c_str(),
           plan::PlanKindText(tracker.CurrentStatus().pass->plan.kind));
    printf(
        "second,target_az,target_el,planned_az,planned_el,unplanned_az,unplanned_el,"
        "planned_axis_az,planned_axis_el\n");
    Path planned;
    Path unplanned;
    const double seconds = predict::SecondsBetween(pass.rise, pass.set);
    for (int s = 0; s <= static_cast<int>(seconds); ++s) {
        const JulianDate t = AddSeconds(pass.rise, s);
        tracker.Advance(t);
        const auto look = target.sky.look(t);
        planned.Second(tracker.Command());
        unplanned.Second(bench::UnplannedCommand(look));
        const plan::SkyDirection p = planned.Points();
        const plan::SkyDirection u = unplanned.Points();
        const plan::AxisAngles axes = planned.Axes();
        printf("%d,%.2f,%.2f,%.2f,%.2f,%.2f,%.2f,%.2f,%.2f\n", s, look->azimuth_deg,
               look->elevation_deg, p.azimuth_deg, p.elevation_deg, u.azimuth_deg, u.elevation_deg,
               axes.azimuth_deg, axes.elevation_deg);
        planned.Run();
        unplanned.Run();
    }
    return 0;
}
