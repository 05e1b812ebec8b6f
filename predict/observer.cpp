#include "predict/observer.h"

#include <cmath>

namespace kelma::predict {

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
    const double east = Dot(line, east_);
    const double north = Dot(line, north_);
    const double up = Dot(line, up_);
    double azimuthDeg = std::atan2(east, north) * kDegreesPerRadian;
    if (azimuthDeg < 0.0) azimuthDeg += 360.0;
    // -1e-17 + 360 rounds to 360, and atan2 may give -0: both are north.
    if (azimuthDeg >= 360.0 || azimuthDeg == 0.0) azimuthDeg = 0.0;
    // atan2 rather than asin: exact at the zenith, where asin loses half the digits.
    const double elevationDeg = std::atan2(up, std::hypot(east, north)) * kDegreesPerRadian;
    // The station stands still in Earth-fixed axes: the range changes with the target alone.
    const double rangeRate = Dot(line, target.velocity_km_per_s) / rangeKm;
    return {azimuthDeg, elevationDeg, rangeKm, rangeRate};
}

}  // namespace kelma::predict
