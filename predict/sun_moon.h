// The Sun and the Moon as a station sees them, for EME and solar-noise work: their apparent
// places (light time, aberration and nutation included, as the antenna receives them), without
// refraction. The series hold about 1" (Sun) and 10" (Moon); against PyEphem over 1950..2100 the
// look angles differ by at most 2" and 25" (its Delta T forecast differs by up to 30 s in 2100).
// Without light time and aberration the Sun would stand 20" off where the antenna hears it.
#pragma once

#include "predict/observer.h"
#include "predict/time.h"
#include "predict/vector.h"

namespace predict {

constexpr double kKmPerAu = 149597870.7;  // IAU 2012 resolution B2

// TT - UTC, s: 32.184 s plus TAI - UTC from the leap seconds of IERS Bulletin C (1972-01-01 on,
// holding until 2026-07-01 by Bulletin C 70). Before 1972 it is Delta T (UT taken as UTC); after
// the table it grows as Delta T does, from Espenak & Meeus, "Five Millennium Canon of Solar
// Eclipses" (NASA/TP-2006-214141), section 2.6.
double TerrestrialMinusUtcSeconds(JulianDate utc);

// Geocentric apparent places in the true equator and equinox of date, km.
Vec3 SunEquatorialKm(JulianDate utc);
Vec3 MoonEquatorialKm(JulianDate utc);

// Look angles from the station; the rates from the places a second either side.
LookAngles LookAtSun(const StationView& view, JulianDate utc);
LookAngles LookAtMoon(const StationView& view, JulianDate utc);

}  // namespace predict
