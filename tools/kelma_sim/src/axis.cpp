#include "axis.h"

#include <algorithm>
#include <cmath>

namespace kelma {

double Axis::Clamp(double angle) const {
    if (std::isnan(angle)) return position_;
    return std::clamp(angle, 0.0, maxAngle_);
}

void Axis::Goto(double angle) {
    target_ = Clamp(angle);
}

void Axis::Jump(double angle) {
    position_ = target_ = Clamp(angle);
}

void Axis::Advance(double seconds) {
    if (seconds <= 0.0 || !Moving()) return;
    const double step = rate_ * seconds;
    const double remaining = target_ - position_;
    if (std::fabs(remaining) <= step)
        position_ = target_;
    else
        position_ += remaining > 0 ? step : -step;
}

}  // namespace kelma
