// What the planner's benchmark and the sky plot's pass both follow a target with: the controller
// simulator's two axes (tools/kelma_sim/src/axis.*) under whole-degree commands, on the KELMA
// controller's azimuth 0..360 (stop at north) and elevation 0..180, and the unplanned command: the
// target's 0..360 azimuth and elevation relayed as they are from -5 degrees of elevation on, as
// the operator window does with a prediction program's data.
#pragma once

#include <algorithm>
#include <cmath>
#include <optional>

#include "axis.h"
#include "plan/plan.h"
#include "predict/observer.h"
#include "rotator/position.h"
#include "rotator/tracking_rule.h"
#include "sky/front.h"

namespace bench {

struct Rates {
    double azimuth_deg_per_s;
    double elevation_deg_per_s;
};

class RotatorModel {
public:
    explicit RotatorModel(Rates rates)
        : azimuth_(sky::kKelmaLimits.max_azimuth_deg, rates.azimuth_deg_per_s),
          elevation_(sky::kKelmaLimits.max_elevation_deg, rates.elevation_deg_per_s) {}
    void Command(const rotator::Position& p) {
        azimuth_.Goto(p.azimuth);
        elevation_.Goto(p.elevation);
    }
    // Standing there at once.
    void Place(const rotator::Position& p) {
        azimuth_.Jump(p.azimuth);
        elevation_.Jump(p.elevation);
    }
    void Run(double seconds) {
        azimuth_.Advance(seconds);
        elevation_.Advance(seconds);
    }
    bool Standing() const { return !azimuth_.Moving() && !elevation_.Moving(); }
    plan::AxisAngles Pointing() const { return {azimuth_.Position(), elevation_.Position()}; }

private:
    kelma::Axis azimuth_;
    kelma::Axis elevation_;
};

// The command the window gives for the target's direction; none below -5 degrees of elevation.
inline std::optional<rotator::Position> UnplannedCommand(
    const std::optional<predict::LookAngles>& look) {
    const int el = look ? static_cast<int>(std::lround(look->elevation_deg)) : -90;
    if (el < rotator::kLowestTrackedElevation) return std::nullopt;
    return rotator::Position{static_cast<int>(std::lround(look->azimuth_deg)), std::max(el, 0)};
}

}  // namespace bench
