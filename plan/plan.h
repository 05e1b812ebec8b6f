// The pass planner: how an azimuth-elevation rotator follows one pass, decided before it starts.
//
// A rotator at azimuth A and elevation E (0..180; above 90 the antenna is over the top) points
// where (A, E) does for E <= 90 and where (A + 180, 180 - E) does above. For a chosen azimuth A,
// the elevation nearest to a target at (az, el) is atan2(sin el, cos el cos(az - A)), and the
// antenna then misses the target by asin(cos el |sin(az - A)|). So the planner chooses only the
// azimuth path: near the target's azimuth ("as predicted"), near the azimuth opposite ("over the
// top"), or, where the target passes within the allowed deviation of the zenith and every
// azimuth points close enough, from one to the other ("switching at the zenith").
//
// Every second of the pass then allows a band of azimuths around az or az + 180 (wider as the
// target climbs), cut to the rotator's range. Between two passages near the zenith the path keeps
// to one band, shifted by a multiple of 180 so that it stays in the range and never crosses the
// azimuth stop. Within the chosen bands the path is the one that needs the lowest azimuth speed
// (the least speed with which the bands can be followed at all, found by bisection), keeping to
// the target's own direction wherever that speed allows.
#pragma once

#include <cstddef>
#include <vector>

namespace plan {

// The angles a rotator can reach, in degrees. An azimuth range wider than 360 is overlap; an
// elevation limit of 180 lets the antenna go over the top.
struct RotatorLimits {
    double min_azimuth_deg = 0;
    double max_azimuth_deg = 360;
    double min_elevation_deg = 0;
    double max_elevation_deg = 180;
};

// A direction in the sky: azimuth 0..360 from north through east, elevation above the horizon.
struct SkyDirection {
    double azimuth_deg;
    double elevation_deg;
};

// The rotator's axis angles: azimuth within its range, elevation 0..180.
struct AxisAngles {
    double azimuth_deg;
    double elevation_deg;
};

// How far the planned path may stray from the target: half the two degrees a station wants,
// the other half left for whole-degree commands and the rotator's lag.
constexpr double kAllowedDeviationDeg = 1.0;

enum class PlanKind {
    kAsPredicted,       // the target's azimuth (shifted into the overlap where needed)
    kOverTheTop,        // azimuth + 180 and elevation 180 - elevation all along
    kSwitchAtTheZenith  // one, then the other, where the target passes near the zenith
};

// "as predicted", "over the top", "switching at the zenith".
const char* PlanKindText(PlanKind kind);

struct PassPlan {
    PlanKind kind = PlanKind::kAsPredicted;
    // One for each second of the track; never empty.
    std::vector<AxisAngles> angles;
    // The fastest the axes must turn to follow the plan, in degrees per second.
    double azimuth_speed_deg_per_s = 0;
    double elevation_speed_deg_per_s = 0;
    // Seconds in which the rotator's limits keep the plan from pointing within the allowed
    // deviation (an elevation range that does not reach the target, too narrow an azimuth range).
    size_t seconds_out_of_reach = 0;

    // The angles at a time from the track's first second, interpolated; before the first
    // second the first angles, after the last the last ones.
    AxisAngles At(double seconds) const;
};

// Plans a pass given as the target's direction once a second (at least one sample).
// `preferred_start_azimuth_deg`: where the antenna is; among plans that need the same speed,
// the one that starts nearest to it.
PassPlan PlanPass(const std::vector<SkyDirection>& track, const RotatorLimits& limits,
                  double preferred_start_azimuth_deg);

// The angle in degrees between where the axes point and a direction in the sky.
double PointingErrorDeg(const AxisAngles& axes, const SkyDirection& target);

}  // namespace plan
