// Passes of a target over a station: when it rises, culminates and sets, and how high it gets.
//
// The search walks the window in steps that the target cannot outrun: a target at range r that
// moves at most v against the ground turns its direction by at most v / r per second, and r
// shrinks by at most v, so from elevation e it cannot reach the horizon within
// (r / v)(1 - exp(-|e|)). Far below the horizon that is minutes for a low satellite and hours
// for the Sun, so a week of a low satellite takes a few thousand looks. Each horizon crossing
// found between two steps is then solved to a millisecond (regula falsi, Illinois variant) and
// each highest point to a hundredth of a second (Brent's minimisation). Steps never go below
// kMinStepSeconds, so a grazing pass shorter than that (a few ten-thousandths of a degree high)
// may go unseen.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "predict/observer.h"
#include "predict/time.h"

namespace kelma::predict {

constexpr double kMinStepSeconds = 2.0;

struct Pass {
    JulianDate rise;         // the window's start if the target was up then
    JulianDate culmination;  // the highest point within the window
    JulianDate set;          // the window's end, or where the target was lost, if it was up then
    double max_elevation_deg;
    bool cut_at_start;  // up when the window began: `rise` is the window's start
    bool cut_at_end;    // up when the window ended or the target was lost: `set` is that time
};

// A target: its look angles at a time (none where its model fails), and the fastest it moves
// against the turning Earth, which bounds how fast its elevation can change.
struct PassTarget {
    std::function<std::optional<LookAngles>(JulianDate)> look;
    double max_speed_km_per_s;
};

struct PassSearch {
    std::vector<Pass> passes;  // in time order
    // Where the target's model failed: the search ends there, with the passes before it.
    std::optional<JulianDate> lost_at;
};

// Passes with any part above the horizon between `start` and `end`.
PassSearch FindPasses(const PassTarget& target, JulianDate start, JulianDate end);

// The speed bound of an Earth satellite from its mean motion and eccentricity: the speed at
// perigee of the mean orbit (vis-viva, WGS-72 gravity) and the ground's turn at apogee, with a
// margin for the perturbations.
double SatelliteSpeedBoundKmPerS(double mean_motion_rev_per_day, double eccentricity);

PassTarget SunTarget(const StationView& view);
PassTarget MoonTarget(const StationView& view);

}  // namespace kelma::predict
