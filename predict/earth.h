// The rotating Earth: the station on the WGS-84 ellipsoid, sidereal time, and the turn from the
// SGP4 model's TEME frame to Earth-fixed axes.
//
// UT1 is taken as UTC, as amateur trackers do: |UT1 - UTC| stays below 0.9 s, so the Earth is
// turned up to 13.5" (0.004 deg) too far or too short. That moves the station by up to 0.42 km
// against a satellite: up to 0.05 deg of direction to a satellite 500 km away, 0.1 s on a rise
// time, and the same 0.004 deg on the Sun and Moon. Polar motion (under 0.5", 15 m) is left out
// too: the Earth-fixed axes are the pseudo-Earth-fixed ones of Vallado et al. 2006.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "predict/angles.h"
#include "predict/time.h"
#include "predict/vector.h"

namespace predict {

// J2000.0, 2000-01-01 12:00, as a Julian date; the series count their time from it.
constexpr double kJ2000JulianDate = 2451545.0;
constexpr double kDaysPerJulianCentury = 36525.0;

// The Earth's turn rate against the mean equinox: the rate of GmstRadians (its T^2 and T^3 terms,
// under 1e-9 of it, left out).
constexpr double kEarthRotationRadiansPerSecond =
    kTwoPi / kSecondsPerDay * (1.0 + 8640184.812866 / (kSecondsPerDay * kDaysPerJulianCentury));

// A station: geodetic latitude and longitude on WGS-84 (north and east positive) and the height
// above the ellipsoid.
struct Station {
    double latitude_deg;
    double longitude_deg;
    double height_m;
};

// Why a station cannot be used, as a message for the command line; empty when it can.
std::string StationProblem(const Station& station);

// The text of --station: "LAT,LON" or "LAT,LON,HEIGHT_M" in decimal degrees and metres. A text
// that is not that, or a station that StationProblem refuses, gives no station and the reason.
struct ParsedStation {
    std::optional<Station> station;
    std::string error;
};
ParsedStation ParseStation(std::string_view text);

// Greenwich mean sidereal time, IAU 1982 (Aoki et al. 1982), as the TEME frame of SGP4 needs it
// (Vallado et al. 2006, AIAA 2006-6753, gstime), with UT1 = UTC. 0..2 pi.
double GmstRadians(JulianDate utc);

// A position and velocity in Earth-fixed axes (z to the pole, x to Greenwich).
struct EarthFixedState {
    Vec3 position_km;
    Vec3 velocity_km_per_s;  // against the turning Earth
};

// TEME to Earth-fixed: a turn by GMST about the pole, and the Earth's turn rate taken from the
// velocity (Vallado et al. 2006, eq. C-2 without polar motion).
EarthFixedState TemeToEarthFixed(Vec3 position_km, Vec3 velocity_km_per_s, double gmst_radians);

// A direction given in the equator and equinox of date, in Earth-fixed axes: a turn by the
// sidereal time about the pole.
Vec3 EquatorialToEarthFixed(Vec3 equatorial, double sidereal_time_radians);

// The station's place in Earth-fixed axes, km (WGS-84, NIMA TR8350.2 eq. 4-14).
Vec3 EarthFixedKm(const Station& station);

}  // namespace predict
