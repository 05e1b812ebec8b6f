// Passes of a target over a station: when it rises, culminates and sets, and how high it gets.
//
// The search walks the window in steps that the target cannot outrun. Its height above the
// station's horizon plane, h = range x sin(elevation), is zero at the horizon; in the turning
// Earth's axes the plane stands still, so h changes no faster than the target moves (v) and its
// rate no faster than the target accelerates (a). From h and its rate h' the horizon is
// therefore at least max(|h| / v, the time in which h' and a could close |h|) away. Far below
// the horizon that is many minutes for a low satellite and hours for the Sun: a week of a low
// satellite takes a few hundred looks a day. Each horizon crossing found between two steps is
// then solved to a millisecond (regula falsi, Illinois variant) and each highest point to a
// hundredth of a second (Brent's minimisation). Steps never go below kMinStepSeconds, so a
// grazing pass shorter than that (a few ten-thousandths of a degree high) may go unseen.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "predict/elements.h"
#include "predict/observer.h"
#include "predict/time.h"

namespace predict {

constexpr double kMinStepSeconds = 2.0;

struct Pass {
    JulianDate rise;         // the window's start if the target was up then
    JulianDate culmination;  // the highest point within the window
    JulianDate set;          // the window's end, or where the target was lost, if it was up then
    double max_elevation_deg;
    bool cut_at_start;  // up when the window began: `rise` is the window's start
    bool cut_at_end;    // up when the window ended or the target was lost: `set` is that time
};

// Bounds on a target's motion against the turning Earth, which bound how soon it can cross the
// horizon.
struct MotionBound {
    double speed_km_per_s;
    double acceleration_km_per_s2;
};

// A target: its look angles at a time, rates included (none where its model fails), and the
// bounds of its motion.
struct PassTarget {
    std::function<std::optional<LookAngles>(JulianDate)> look;
    MotionBound bound;
};

struct PassSearch {
    std::vector<Pass> passes;  // in time order
    // Where the target's model failed: the search ends there, with the passes before it.
    std::optional<JulianDate> lost_at;
};

// Passes with any part above the horizon between `start` and `end`.
PassSearch FindPasses(const PassTarget& target, JulianDate start, JulianDate end);

// The bounds for an Earth satellite from its mean motion and eccentricity: at perigee of the
// mean orbit (vis-viva and gravity of WGS-72), with the turning axes' share at apogee (the ground
// speed, Coriolis and centrifugal terms), and a margin for the perturbations.
MotionBound SatelliteMotionBound(double mean_motion_rev_per_day, double eccentricity);

// An Earth satellite from its element set: SGP4/SDP4 with WGS-72 in the improved mode, as the
// sets are made for; lost where the model fails (decayed, eccentricity out of range).
PassTarget SatelliteTarget(const ElementSet& set, const StationView& view);
PassTarget SunTarget(const StationView& view);
PassTarget MoonTarget(const StationView& view);

}  // namespace predict
