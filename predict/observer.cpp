#include "predict/observer.h"

#include <cmath>

namespace predict {

StationView::StationView(const Station& station)
    : station_(station), position_km_(EarthFixedKm(station)) {
    // The local axes of the geodetic normal (Vallado, Fundamentals of Astrodynamics, 4th ed.,
    // eq. 3-28, SEZ axes with south turned to north).
    const double latitude = station.latitude_deg * kRadiansPerDegree;
    const double longitude = station.longitude_deg * kRadiansPerDegree;
    const double sinLat = std::sin(latitude), cosLat = std::cos(latitude);
    const double sinLon = std::sin(longitude), cosLon = std::cos(longitude);
    east_ = {-sinLon, cosLon, 0.0};
    north_ = {-sinLat * cosLon, -sinLat * sinLon, cosLat};
    up_ = {cosLat * cosLon, cosLat * sinLon, sinLat};
}

LookAngles StationView::Look(Vec3 teme_km, Vec3 teme_km_per_s, JulianDate utc) const {
    return LookEarthFixed(TemeToEarthFixed(teme_km, teme_km_per_s, GmstRadians(utc)));
}

LookAngles StationView::LookEarthFixed(const EarthFixedState& target) const {
    const Vec3 line = target.position_km - position_km_;
    const double rangeKm = Norm(line);
    const double east = Dot(line, east_), north = Dot(line, north_), up = Dot(line, up_);
    double azimuthDeg = std::atan2(east, north) * kDegreesPerRadian;
    if (azimuthDeg < 0.0) azimuthDeg += 360.0;
    // -1e-17 + 360 rounds to 360, and atan2 may give -0: both are north.
    if (azimuthDeg >= 360.0 || azimuthDeg == 0.0) azimuthDeg = 0.0;
    const double horizontalSquared = east * east + north * north;
    const double horizontal = std::sqrt(horizontalSquared);
    // atan2 rather than asin: exact at the zenith, where asin loses half the digits.
    const double elevationDeg = std::atan2(up, horizontal) * kDegreesPerRadian;

    // The station stands still in Earth-fixed axes: the target's velocity is the line's.
    const Vec3 velocity = target.velocity_km_per_s;
    const double eastRate = Dot(velocity, east_), northRate = Dot(velocity, north_);
    const double upRate = Dot(velocity, up_);
    const double horizontalRange = east * eastRate + north * northRate;  // horizontal x its rate
    const double rangeRate = (horizontalRange + up * upRate) / rangeKm;
    // The derivatives of the two atan2 above; straight overhead the azimuth has none.
    double azimuthRate = 0.0, elevationRate = 0.0;
    if (horizontal > 0.0) {
        azimuthRate = (north * eastRate - east * northRate) / horizontalSquared;
        elevationRate =
            (horizontal * upRate - up * horizontalRange / horizontal) / (rangeKm * rangeKm);
    } else {
        elevationRate = -std::hypot(eastRate, northRate) / rangeKm;
    }
    return {azimuthDeg,
            elevationDeg,
            rangeKm,
            rangeRate,
            azimuthRate * kDegreesPerRadian,
            elevationRate * kDegreesPerRadian};
}

}  // namespace predict
