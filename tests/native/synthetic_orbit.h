// A satellite on a circular orbit over a station on an Earth that does not turn, for the planner
// and tracker tests: every revolution brings the same pass. Its ground track passes `offset_deg`
// (central angle; to the right of its motion when positive) from the station, heading
// `heading_deg` there. The station looks up along z, with north along x and east along y.
#pragma once

#include <cmath>
#include <vector>

#include "plan/plan.h"
#include "predict/observer.h"

namespace synthetic {

struct Orbit {
    static constexpr double kPi = 3.14159265358979323846;
    static constexpr double kEarthRadiusKm = 6371.0;
    static constexpr double kEarthMuKm3PerS2 = 398600.4418;

    double altitude_km;
    double offset_deg;
    double heading_deg;

    double RadiusKm() const { return kEarthRadiusKm + altitude_km; }
    double RadiansPerSecond() const {
        return std::sqrt(kEarthMuKm3PerS2 / (RadiusKm() * RadiusKm() * RadiusKm()));
    }
    double PeriodSeconds() const { return 2 * kPi / RadiansPerSecond(); }
    double SpeedKmPerS() const { return RadiusKm() * RadiansPerSecond(); }
    double AccelerationKmPerS2() const { return SpeedKmPerS() * RadiansPerSecond(); }

    // `seconds` after the satellite was closest to the station.
    predict::LookAngles Look(double seconds) const {
        const double theta = RadiansPerSecond() * seconds;
        const double beta = offset_deg * kPi / 180;
        const double heading = heading_deg * kPi / 180;
        const double side = heading + kPi / 2;
        const double g[3] = {std::sin(beta) * std::cos(side), std::sin(beta) * std::sin(side),
                             std::cos(beta)};
        const double t[3] = {std::cos(heading), std::sin(heading), 0};
        double d[3];
        for (int k = 0; k < 3; ++k)
            d[k] = RadiusKm() * (std::cos(theta) * g[k] + std::sin(theta) * t[k]);
        d[2] -= kEarthRadiusKm;
        const double range = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        const double az = std::atan2(d[1], d[0]) * 180 / kPi;
        return {az < 0 ? az + 360 : az, std::asin(d[2] / range) * 180 / kPi, range, 0, 0, 0};
    }

    // The pass around the closest approach, once a second from the rise to the set.
    std::vector<plan::SkyDirection> Pass() const {
        std::vector<plan::SkyDirection> track;
        const int half = static_cast<int>(PeriodSeconds() / 4);
        for (int s = -half; s <= half; ++s) {
            const predict::LookAngles look = Look(s);
            if (look.elevation_deg >= 0) track.push_back({look.azimuth_deg, look.elevation_deg});
        }
        return track;
    }
};

}  // namespace synthetic
