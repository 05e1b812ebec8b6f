// The station's view of a target: azimuth, elevation, range and range rate, geometric (no
// refraction), on the WGS-84 normal of the station.
#pragma once

#include "predict/earth.h"
#include "predict/time.h"
#include "predict/vector.h"

namespace predict {

struct LookAngles {
    double azimuth_deg;    // 0..360, from north through east
    double elevation_deg;  // -90..90, from the horizon plane
    double range_km;
    double range_rate_km_per_s;  // positive while the target recedes
    double azimuth_rate_deg_per_s;
    double elevation_rate_deg_per_s;
};

// A station with its place and its local east, north and up axes worked out once, since a
// search asks it for many looks.
class StationView {
public:
    explicit StationView(const Station& station);

    // A satellite's look angles from its TEME position and velocity at a time (UTC = UT1).
    LookAngles Look(Vec3 teme_km, Vec3 teme_km_per_s, JulianDate utc) const;
    // Look angles of a target given in Earth-fixed axes.
    LookAngles LookEarthFixed(const EarthFixedState& target) const;

    const Station& station() const { return station_; }
    Vec3 position_km() const { return position_km_; }

private:
    Station station_;
    Vec3 position_km_;
    Vec3 east_, north_, up_;
};

}  // namespace predict
