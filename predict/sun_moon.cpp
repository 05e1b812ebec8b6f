#include "predict/sun_moon.h"

#include <cmath>
#include <iterator>

#include "predict/earth.h"

namespace predict {

namespace {

constexpr double kRadiansPerArcsecond = kRadiansPerDegree / 3600.0;
constexpr double kTtMinusTaiSeconds = 32.184;
constexpr double kDaysPerJulianYear = 365.25;
constexpr double kModifiedJulianDateOffset = 2400000.5;

// ---- Time scales ----

// Days (MJD) from which TAI - UTC took its value: IERS Bulletin C, as the USNO's tai-utc.dat and
// the leap-seconds.list of the IERS list them.
struct LeapSecond {
    int first_mjd;
    int tai_minus_utc_seconds;
};
constexpr LeapSecond kLeapSeconds[] = {
    {41317, 10}, {41499, 11}, {41683, 12}, {42048, 13}, {42413, 14}, {42778, 15}, {43144, 16},
    {43509, 17}, {43874, 18}, {44239, 19}, {44786, 20}, {45151, 21}, {45516, 22}, {46247, 23},
    {47161, 24}, {47892, 25}, {48257, 26}, {48804, 27}, {49169, 28}, {49534, 29}, {50083, 30},
    {50630, 31}, {51179, 32}, {53736, 33}, {54832, 34}, {56109, 35}, {57204, 36}, {57754, 37},
};
// 2026-07-01: Bulletin C 70 put no leap second at the end of June 2026 or before.
constexpr double kLeapSecondsHoldUntilMjd = 61222.0;

double DecimalYear(double modified_julian_date) {
    constexpr double kMjdOf2000 = 51544.0;  // 2000-01-01 00:00
    return 2000.0 + (modified_julian_date - kMjdOf2000) / kDaysPerJulianYear;
}

// Delta T = TT - UT1, s (Espenak & Meeus 2006, section 2.6; the long-term parabola outside the
// years the polynomials cover).
double DeltaTSeconds(double year) {
    if (year >= 1941.0 && year < 1961.0) {
        const double t = year - 1950.0;
        return 29.07 + 0.407 * t - t * t / 233.0 + t * t * t / 2547.0;
    }
    if (year >= 1961.0 && year < 1986.0) {
        const double t = year - 1975.0;
        return 45.45 + 1.067 * t - t * t / 260.0 - t * t * t / 718.0;
    }
    if (year >= 2005.0 && year < 2050.0) {
        const double t = year - 2000.0;
        return 62.92 + 0.32217 * t + 0.005589 * t * t;
    }
    const double u = (year - 1820.0) / 100.0;
    const double longTerm = -20.0 + 32.0 * u * u;
    if (year >= 2050.0 && year < 2150.0) return longTerm - 0.5628 * (2150.0 - year);
    return longTerm;
}

// ---- Nutation and obliquity ----

struct Nutation {
    double longitude_radians;  // delta psi
    double obliquity_radians;  // true obliquity: mean obliquity + delta epsilon
};

// IAU 1980 nutation to 0.5" from its four largest terms and the mean obliquity of IAU 1976
// (Meeus ch. 22, the short form after eq. 22.1, and eq. 22.2); T in Julian centuries of TT.
Nutation NutationAt(double t) {
    const double node = (125.04452 - 1934.136261 * t) * kRadiansPerDegree;
    const double sunLongitude = (280.4665 + 36000.7698 * t) * kRadiansPerDegree;
    const double moonLongitude = (218.3165 + 481267.8813 * t) * kRadiansPerDegree;
    const double psiArcsec = -17.20 * std::sin(node) - 1.32 * std::sin(2.0 * sunLongitude) -
                             0.23 * std::sin(2.0 * moonLongitude) + 0.21 * std::sin(2.0 * node);
    const double epsilonArcsec = 9.20 * std::cos(node) + 0.57 * std::cos(2.0 * sunLongitude) +
                                 0.10 * std::cos(2.0 * moonLongitude) - 0.09 * std::cos(2.0 * node);
    const double meanObliquityArcsec = 84381.448 + (-46.8150 + (-0.00059 + 0.001813 * t) * t) * t;
    return {psiArcsec * kRadiansPerArcsecond,
            (meanObliquityArcsec + epsilonArcsec) * kRadiansPerArcsecond};
}

// Julian centuries of TT since J2000.0.
double TerrestrialCenturies(JulianDate utc) {
    const double days = (utc.day - kJ2000JulianDate) + utc.fraction +
                        TerrestrialMinusUtcSeconds(utc) / kSecondsPerDay;
    return days / kDaysPerJulianCentury;
}

// Ecliptic longitude, latitude and distance of date to the equator of date.
Vec3 EclipticToEquatorial(double longitude, double latitude, double distance_km, double obliquity) {
    const double cosLatitude = std::cos(latitude);
    const double y = cosLatitude * std::sin(longitude);
    const double z = std::sin(latitude);
    return {distance_km * cosLatitude * std::cos(longitude),
            distance_km * (y * std::cos(obliquity) - z * std::sin(obliquity)),
            distance_km * (y * std::sin(obliquity) + z * std::cos(obliquity))};
}

// ---- The Sun: VSOP87D for the Earth, truncated ----

// One term A cos(B + C tau) of a VSOP87 series: A in 1e-8 rad or au, B rad, C rad per Julian
// millennium.
struct VsopTerm {
    double amplitude, phase, frequency;
};

// Bretagnon & Francou 1988, A&A 202, 309, version D (heliocentric, ecliptic and equinox of date)
// for the Earth, as Meeus truncates it (Astronomical Algorithms, 2nd ed., appendix III; also
// Reda & Andreas, NREL/TP-560-34302, table A4.2): about 1" in 1950..2100.
constexpr VsopTerm kEarthL0[] = {
    {175347046, 0, 0},           {3341656, 4.6692568, 6283.0758500},
    {34894, 4.6261, 12566.1517}, {3497, 2.7441, 5753.3849},
    {3418, 2.8289, 3.5231},      {3136, 3.6277, 77713.7715},
    {2676, 4.4181, 7860.4194},   {2343, 6.1352, 3930.2097},
    {1324, 0.7425, 11506.7698},  {1273, 2.0371, 529.6910},
    {1199, 1.1096, 1577.3435},   {990, 5.233, 5884.927},
    {902, 2.045, 26.298},        {857, 3.508, 398.149},
    {780, 1.179, 5223.694},      {753, 2.533, 5507.553},
    {505, 4.583, 18849.228},     {492, 4.205, 775.523},
    {357, 2.920, 0.067},         {317, 5.849, 11790.629},
    {284, 1.899, 796.298},       {271, 0.315, 10977.079},
    {243, 0.345, 5486.778},      {206, 4.806, 2544.314},
    {205, 1.869, 5573.143},      {202, 2.458, 6069.777},
    {156, 0.833, 213.299},       {132, 3.411, 2942.463},
    {126, 1.083, 20.775},        {115, 0.645, 0.980},
    {103, 0.636, 4694.003},      {102, 0.976, 15720.839},
    {102, 4.267, 7.114},         {99, 6.21, 2146.17},
    {98, 0.68, 155.42},          {86, 5.98, 161000.69},
    {85, 1.30, 6275.96},         {85, 3.67, 71430.70},
    {80, 1.81, 17260.15},        {79, 3.04, 12036.46},
    {75, 1.76, 5088.63},         {74, 3.50, 3154.69},
    {74, 4.68, 801.82},          {70, 0.83, 9437.76},
    {62, 3.98, 8827.39},         {61, 1.82, 7084.90},
    {57, 2.78, 6286.60},         {56, 4.39, 14143.50},
    {56, 3.47, 6279.55},         {52, 0.19, 12139.55},
    {52, 1.33, 1748.02},         {51, 0.28, 5856.48},
    {49, 0.49, 1194.45},         {41, 5.37, 8429.24},
    {41, 2.40, 19651.05},        {39, 6.17, 10447.39},
    {37, 6.04, 10213.29},        {37, 2.57, 1059.38},
    {36, 1.71, 2352.87},         {36, 1.78, 6812.77},
    {33, 0.59, 17789.85},        {30, 0.44, 83996.85},
    {30, 2.74, 1349.87},         {25, 3.16, 4690.48},
};
constexpr VsopTerm kEarthL1[] = {
    {628331966747, 0, 0},       {206059, 2.678235, 6283.07585},
    {4303, 2.6351, 12566.1517}, {425, 1.590, 3.523},
    {119, 5.796, 26.298},       {109, 2.966, 1577.344},
    {93, 2.59, 18849.23},       {72, 1.14, 529.69},
    {68, 1.87, 398.15},         {67, 4.41, 5507.55},
    {59, 2.89, 5223.69},        {56, 2.17, 155.42},
    {45, 0.40, 796.30},         {36, 0.47, 775.52},
    {29, 2.65, 7.11},           {21, 5.34, 0.98},
    {19, 1.85, 5486.78},        {19, 4.97, 213.30},
    {17, 2.99, 6275.96},        {16, 0.03, 2544.31},
    {16, 1.43, 2146.17},        {15, 1.21, 10977.08},
    {12, 2.83, 1748.02},        {12, 3.26, 5088.63},
    {12, 5.27, 1194.45},        {12, 2.08, 4694.00},
    {11, 0.77, 553.57},         {10, 1.30, 6286.60},
    {10, 4.24, 1349.87},        {9, 2.70, 242.73},
    {9, 5.64, 951.72},          {8, 5.30, 2352.87},
    {6, 2.65, 9437.76},         {6, 4.67, 4690.48},
};
constexpr VsopTerm kEarthL2[] = {
    {52919, 0, 0},     {8720, 1.0721, 6283.0758}, {309, 0.867, 12566.152}, {27, 0.05, 3.52},
    {16, 5.19, 26.30}, {16, 3.68, 155.42},        {10, 0.76, 18849.23},    {9, 2.06, 77713.77},
    {7, 0.83, 775.52}, {5, 4.66, 1577.34},        {4, 1.03, 7.11},         {4, 3.44, 5573.14},
    {3, 5.14, 796.30}, {3, 6.05, 5507.55},        {3, 1.19, 242.73},       {3, 6.12, 529.69},
    {3, 0.31, 398.15}, {3, 2.28, 553.57},         {2, 4.38, 5223.69},      {2, 3.75, 0.98},
};
constexpr VsopTerm kEarthL3[] = {
    {289, 5.844, 6283.076}, {35, 0, 0},          {17, 5.49, 12566.15}, {3, 5.20, 155.42},
    {1, 4.72, 3.52},        {1, 5.30, 18849.23}, {1, 5.97, 242.73},
};
constexpr VsopTerm kEarthL4[] = {{114, 3.142, 0}, {8, 4.13, 6283.08}, {1, 3.84, 12566.15}};
constexpr VsopTerm kEarthL5[] = {{1, 3.14, 0}};
constexpr VsopTerm kEarthB0[] = {
    {280, 3.199, 84334.662}, {102, 5.422, 5507.553}, {80, 3.88, 5223.69},
    {44, 3.70, 2352.87},     {32, 4.00, 1577.34},
};
constexpr VsopTerm kEarthB1[] = {{9, 3.90, 5507.55}, {6, 1.73, 5223.69}};
constexpr VsopTerm kEarthR0[] = {
    {100013989, 0, 0},
    {1670700, 3.0984635, 6283.0758500},
    {13956, 3.05525, 12566.15170},
    {3084, 5.1985, 77713.7715},
    {1628, 1.1739, 5753.3849},
    {1576, 2.8469, 7860.4194},
    {925, 5.453, 11506.770},
    {542, 4.564, 3930.210},
    {472, 3.661, 5884.927},
    {346, 0.964, 5507.553},
    {329, 5.900, 5223.694},
    {307, 0.299, 5573.143},
    {243, 4.273, 11790.629},
    {212, 5.847, 1577.344},
    {186, 5.022, 10977.079},
    {175, 3.012, 18849.228},
    {110, 5.055, 5486.778},
    {98, 0.89, 6069.78},
    {86, 5.69, 15720.84},
    {86, 1.27, 161000.69},
    {85, 0.27, 17260.15},
    {63, 0.92, 529.69},
    {57, 2.01, 83996.85},
    {56, 5.24, 71430.70},
    {49, 3.25, 2544.31},
    {47, 2.58, 775.52},
    {45, 5.54, 9437.76},
    {43, 6.01, 6275.96},
    {39, 5.36, 4694.00},
    {38, 2.39, 8827.39},
    {37, 0.83, 19651.05},
    {37, 4.90, 12139.55},
    {36, 1.67, 12036.46},
    {35, 1.84, 2942.46},
    {33, 0.24, 7084.90},
    {32, 0.18, 5088.63},
    {32, 1.78, 398.15},
    {28, 1.21, 6286.60},
    {28, 1.90, 6279.55},
    {26, 4.59, 10447.39},
};
constexpr VsopTerm kEarthR1[] = {
    {103019, 1.107490, 6283.075850},
    {1721, 1.0644, 12566.1517},
    {702, 3.142, 0},
    {32, 1.02, 18849.23},
    {31, 2.84, 5507.55},
    {25, 1.32, 5223.69},
    {18, 1.42, 1577.34},
    {10, 5.91, 10977.08},
    {9, 1.42, 6275.96},
    {9, 0.27, 5486.78},
};
constexpr VsopTerm kEarthR2[] = {
    {4359, 5.7846, 6283.0758}, {124, 5.579, 12566.152}, {12, 3.14, 0},
    {9, 3.63, 77713.77},       {6, 1.87, 5573.14},      {3, 5.47, 18849.23},
};
constexpr VsopTerm kEarthR3[] = {{145, 4.273, 6283.076}, {7, 3.92, 12566.15}};
constexpr VsopTerm kEarthR4[] = {{4, 2.56, 6283.08}};

struct VsopSeries {
    const VsopTerm* terms;
    size_t count;
};
template <size_t kCount>
constexpr VsopSeries Series(const VsopTerm (&terms)[kCount]) {
    return {terms, kCount};
}
constexpr VsopSeries kEarthLongitude[] = {Series(kEarthL0), Series(kEarthL1), Series(kEarthL2),
                                          Series(kEarthL3), Series(kEarthL4), Series(kEarthL5)};
constexpr VsopSeries kEarthLatitude[] = {Series(kEarthB0), Series(kEarthB1)};
constexpr VsopSeries kEarthDistance[] = {Series(kEarthR0), Series(kEarthR1), Series(kEarthR2),
                                         Series(kEarthR3), Series(kEarthR4)};

// Sum over the powers of tau of each series (Meeus eq. 32.2), in rad or au.
template <size_t kPowers>
double VsopSum(const VsopSeries (&powers)[kPowers], double tau) {
    constexpr double kVsopUnit = 1e-8;
    double sum = 0.0;
    for (size_t power = kPowers; power-- > 0;) {
        double series = 0.0;
        for (size_t i = 0; i < powers[power].count; ++i) {
            const VsopTerm& term = powers[power].terms[i];
            series += term.amplitude * std::cos(term.phase + term.frequency * tau);
        }
        sum = sum * tau + series;
    }
    return sum * kVsopUnit;
}

Vec3 SunEquatorialAt(double t, const Nutation& nutation) {
    const double tau = t / 10.0;  // Julian millennia
    const double earthLongitude = VsopSum(kEarthLongitude, tau);
    const double earthLatitude = VsopSum(kEarthLatitude, tau);
    const double distanceAu = VsopSum(kEarthDistance, tau);
    // Geocentric, then to the FK5 system (Meeus eq. 32.3), then apparent: nutation, and light
    // time with aberration as one term (Meeus eq. 25.10).
    const double geometricLongitude = earthLongitude + kPi;
    const double fk5Longitude = geometricLongitude - (1.397 + 0.00031 * t) * t * kRadiansPerDegree;
    const double longitude = geometricLongitude - 0.09033 * kRadiansPerArcsecond +
                             nutation.longitude_radians -
                             20.4898 * kRadiansPerArcsecond / distanceAu;
    const double latitude = -earthLatitude + 0.03916 * kRadiansPerArcsecond *
                                                 (std::cos(fk5Longitude) - std::sin(fk5Longitude));
    return EclipticToEquatorial(longitude, latitude, distanceAu * kKmPerAu,
                                nutation.obliquity_radians);
}

// ---- The Moon: ELP-2000/82, truncated ----

// A term of the Moon's series: multiples of D, M, M', F and the coefficients (Meeus ch. 47,
// tables 47.A and 47.B, from Chapront's ELP-2000/82): sine of longitude in 1e-6 deg, cosine of
// distance in 1e-3 km, sine of latitude in 1e-6 deg. About 10" in longitude and 4" in latitude.
struct MoonTerm {
    signed char d, m, m_prime, f;
    double first, second;
};
constexpr MoonTerm kMoonLongitudeDistance[] = {
    {0, 0, 1, 0, 6288774, -20905355},
    {2, 0, -1, 0, 1274027, -3699111},
    {2, 0, 0, 0, 658314, -2955968},
    {0, 0, 2, 0, 213618, -569925},
    {0, 1, 0, 0, -185116, 48888},
    {0, 0, 0, 2, -114332, -3149},
    {2, 0, -2, 0, 58793, 246158},
    {2, -1, -1, 0, 57066, -152138},
    {2, 0, 1, 0, 53322, -170733},
    {2, -1, 0, 0, 45758, -204586},
    {0, 1, -1, 0, -40923, -129620},
    {1, 0, 0, 0, -34720, 108743},
    {0, 1, 1, 0, -30383, 104755},
    {2, 0, 0, -2, 15327, 10321},
    {0, 0, 1, 2, -12528, 0},
    {0, 0, 1, -2, 10980, 79661},
    {4, 0, -1, 0, 10675, -34782},
    {0, 0, 3, 0, 10034, -23210},
    {4, 0, -2, 0, 8548, -21636},
    {2, 1, -1, 0, -7888, 24208},
    {2, 1, 0, 0, -6766, 30824},
    {1, 0, -1, 0, -5163, -8379},
    {1, 1, 0, 0, 4987, -16675},
    {2, -1, 1, 0, 4036, -12831},
    {2, 0, 2, 0, 3994, -10445},
    {4, 0, 0, 0, 3861, -11650},
    {2, 0, -3, 0, 3665, 14403},
    {0, 1, -2, 0, -2689, -7003},
    {2, 0, -1, 2, -2602, 0},
    {2, -1, -2, 0, 2390, 10056},
    {1, 0, 1, 0, -2348, 6322},
    {2, -2, 0, 0, 2236, -9884},
    {0, 1, 2, 0, -2120, 5751},
    {0, 2, 0, 0, -2069, 0},
    {2, -2, -1, 0, 2048, -4950},
    {2, 0, 1, -2, -1773, 4130},
    {2, 0, 0, 2, -1595, 0},
    {4, -1, -1, 0, 1215, -3958},
    {0, 0, 2, 2, -1110, 0},
    {3, 0, -1, 0, -892, 3258},
    {2, 1, 1, 0, -810, 2616},
    {4, -1, -2, 0, 759, -1897},
    {0, 2, -1, 0, -713, -2117},
    {2, 2, -1, 0, -700, 2354},
    {2, 1, -2, 0, 691, 0},
    {2, -1, 0, -2, 596, 0},
    {4, 0, 1, 0, 549, -1423},
    {0, 0, 4, 0, 537, -1117},
    {4, -1, 0, 0, 520, -1571},
    {1, 0, -2, 0, -487, -1739},
    {2, 1, 0, -2, -399, 0},
    {0, 0, 2, -2, -381, -4421},
    {1, 1, 1, 0, 351, 0},
    {3, 0, -2, 0, -340, 0},
    {4, 0, -3, 0, 330, 0},
    {2, -1, 2, 0, 327, 0},
    {0, 2, 1, 0, -323, 1165},
    {1, 1, -1, 0, 299, 0},
    {2, 0, 3, 0, 294, 0},
    {2, 0, -1, -2, 0, 8752},
};
constexpr MoonTerm kMoonLatitude[] = {
    {0, 0, 0, 1, 5128122, 0}, {0, 0, 1, 1, 280602, 0},  {0, 0, 1, -1, 277693, 0},
    {2, 0, 0, -1, 173237, 0}, {2, 0, -1, 1, 55413, 0},  {2, 0, -1, -1, 46271, 0},
    {2, 0, 0, 1, 32573, 0},   {0, 0, 2, 1, 17198, 0},   {2, 0, 1, -1, 9266, 0},
    {0, 0, 2, -1, 8822, 0},   {2, -1, 0, -1, 8216, 0},  {2, 0, -2, -1, 4324, 0},
    {2, 0, 1, 1, 4200, 0},    {2, 1, 0, -1, -3359, 0},  {2, -1, -1, 1, 2463, 0},
    {2, -1, 0, 1, 2211, 0},   {2, -1, -1, -1, 2065, 0}, {0, 1, -1, -1, -1870, 0},
    {4, 0, -1, -1, 1828, 0},  {0, 1, 0, 1, -1794, 0},   {0, 0, 0, 3, -1749, 0},
    {0, 1, -1, 1, -1565, 0},  {1, 0, 0, 1, -1491, 0},   {0, 1, 1, 1, -1475, 0},
    {0, 1, 1, -1, -1410, 0},  {0, 1, 0, -1, -1344, 0},  {1, 0, 0, -1, -1335, 0},
    {0, 0, 3, 1, 1107, 0},    {4, 0, 0, -1, 1021, 0},   {4, 0, -1, 1, 833, 0},
    {0, 0, 1, -3, 777, 0},    {4, 0, -2, 1, 671, 0},    {2, 0, 0, -3, 607, 0},
    {2, 0, 2, -1, 596, 0},    {2, -1, 1, -1, 491, 0},   {2, 0, -2, 1, -451, 0},
    {0, 0, 3, -1, 439, 0},    {2, 0, 2, 1, 422, 0},     {2, 0, -3, -1, 421, 0},
    {2, 1, -1, 1, -366, 0},   {2, 1, 0, 1, -351, 0},    {4, 0, 0, 1, 331, 0},
    {2, -1, 1, 1, 315, 0},    {2, -2, 0, -1, 302, 0},   {0, 0, 1, 3, -283, 0},
    {2, 1, 1, -1, -229, 0},   {1, 1, 0, -1, 223, 0},    {1, 1, 0, 1, 223, 0},
    {0, 1, -2, -1, -220, 0},  {2, 1, -1, -1, -220, 0},  {1, 0, 1, 1, -185, 0},
    {2, -1, -2, -1, 181, 0},  {0, 1, 2, 1, -177, 0},    {4, 0, -2, -1, 176, 0},
    {4, -1, -1, -1, 166, 0},  {1, 0, 1, -1, -164, 0},   {4, 0, 1, -1, 132, 0},
    {1, 0, -1, -1, -119, 0},  {4, -1, 0, -1, 115, 0},   {2, -2, 0, 1, 107, 0},
};

// An angle in degrees, brought below a turn (the polynomials reach 10^6 deg), in radians.
double ReducedRadians(double degrees) {
    return std::fmod(degrees, 360.0) * kRadiansPerDegree;
}

Vec3 MoonEquatorialAt(double t, const Nutation& nutation) {
    // Mean arguments (Meeus eqs. 47.1 to 47.5), the planetary arguments and the factor for the
    // terms in M, which shrink with the Earth's eccentricity (eq. 47.6).
    const double meanLongitude = ReducedRadians(
        218.3164477 + (481267.88123421 + (-0.0015786 + (1.0 / 538841 - t / 65194000) * t) * t) * t);
    const double elongation = ReducedRadians(
        297.8501921 + (445267.1114034 + (-0.0018819 + (1.0 / 545868 - t / 113065000) * t) * t) * t);
    const double sunAnomaly =
        ReducedRadians(357.5291092 + (35999.0502909 + (-0.0001536 + t / 24490000) * t) * t);
    const double moonAnomaly = ReducedRadians(
        134.9633964 + (477198.8675055 + (0.0087414 + (1.0 / 69699 - t / 14712000) * t) * t) * t);
    const double latitudeArgument = ReducedRadians(
        93.2720950 +
        (483202.0175233 + (-0.0036539 + (-1.0 / 3526000 + t / 863310000) * t) * t) * t);
    const double a1 = ReducedRadians(119.75 + 131.849 * t);
    const double a2 = ReducedRadians(53.09 + 479264.290 * t);
    const double a3 = ReducedRadians(313.45 + 481266.484 * t);
    const double e = 1.0 - (0.002516 + 0.0000074 * t) * t;
    const double eccentricityFactor[] = {1.0, e, e * e};

    auto argument = [&](const MoonTerm& term) {
        return term.d * elongation + term.m * sunAnomaly + term.m_prime * moonAnomaly +
               term.f * latitudeArgument;
    };
    double longitudeSum = 0.0, distanceSum = 0.0, latitudeSum = 0.0;
    for (const MoonTerm& term : kMoonLongitudeDistance) {
        const double factor = eccentricityFactor[term.m < 0 ? -term.m : term.m];
        const double angle = argument(term);
        longitudeSum += factor * term.first * std::sin(angle);
        distanceSum += factor * term.second * std::cos(angle);
    }
    for (const MoonTerm& term : kMoonLatitude)
        latitudeSum += eccentricityFactor[term.m < 0 ? -term.m : term.m] * term.first *
                       std::sin(argument(term));
    // The additive terms of Venus, Jupiter and the Earth's flattening (Meeus ch. 47).
    longitudeSum += 3958 * std::sin(a1) + 1962 * std::sin(meanLongitude - latitudeArgument) +
                    318 * std::sin(a2);
    latitudeSum += -2235 * std::sin(meanLongitude) + 382 * std::sin(a3) +
                   175 * std::sin(a1 - latitudeArgument) + 175 * std::sin(a1 + latitudeArgument) +
                   127 * std::sin(meanLongitude - moonAnomaly) -
                   115 * std::sin(meanLongitude + moonAnomaly);

    constexpr double kMicrodegree = 1e-6 * kRadiansPerDegree;
    const double longitude =
        meanLongitude + longitudeSum * kMicrodegree + nutation.longitude_radians;
    const double distanceKm = 385000.56 + distanceSum / 1000.0;
    return EclipticToEquatorial(longitude, latitudeSum * kMicrodegree, distanceKm,
                                nutation.obliquity_radians);
}

using EquatorialPlace = Vec3 (*)(double t, const Nutation& nutation);

// Earth-fixed position of a body at a time.
Vec3 EarthFixedAt(EquatorialPlace place, JulianDate utc) {
    const double t = TerrestrialCenturies(utc);
    const Nutation nutation = NutationAt(t);
    // Greenwich apparent sidereal time: the equation of the equinoxes added (Meeus ch. 12).
    const double gast =
        GmstRadians(utc) + nutation.longitude_radians * std::cos(nutation.obliquity_radians);
    return EquatorialToEarthFixed(place(t, nutation), gast);
}

LookAngles LookAtBody(EquatorialPlace place, const StationView& view, JulianDate utc) {
    // The range rate from the places a second either side: the body's own motion counts for
    // EME Doppler, and the series are smooth over seconds.
    constexpr double kHalfStepSeconds = 1.0;
    const Vec3 before = EarthFixedAt(place, AddSeconds(utc, -kHalfStepSeconds));
    const Vec3 after = EarthFixedAt(place, AddSeconds(utc, kHalfStepSeconds));
    const Vec3 velocity = (1.0 / (2.0 * kHalfStepSeconds)) * (after - before);
    return view.LookEarthFixed({EarthFixedAt(place, utc), velocity});
}

}  // namespace

double TerrestrialMinusUtcSeconds(JulianDate utc) {
    const double mjd = (utc.day - kModifiedJulianDateOffset) + utc.fraction;
    const double year = DecimalYear(mjd);
    if (mjd < kLeapSeconds[0].first_mjd) return DeltaTSeconds(year);
    if (mjd >= kLeapSecondsHoldUntilMjd) {
        const double lastTable =
            kTtMinusTaiSeconds + std::end(kLeapSeconds)[-1].tai_minus_utc_seconds;
        return lastTable + DeltaTSeconds(year) -
               DeltaTSeconds(DecimalYear(kLeapSecondsHoldUntilMjd));
    }
    int taiMinusUtc = kLeapSeconds[0].tai_minus_utc_seconds;
    for (const LeapSecond& leap : kLeapSeconds)
        if (mjd >= leap.first_mjd) taiMinusUtc = leap.tai_minus_utc_seconds;
    return kTtMinusTaiSeconds + taiMinusUtc;
}

Vec3 SunEquatorialKm(JulianDate utc) {
    const double t = TerrestrialCenturies(utc);
    return SunEquatorialAt(t, NutationAt(t));
}

Vec3 MoonEquatorialKm(JulianDate utc) {
    const double t = TerrestrialCenturies(utc);
    return MoonEquatorialAt(t, NutationAt(t));
}

LookAngles LookAtSun(const StationView& view, JulianDate utc) {
    return LookAtBody(SunEquatorialAt, view, utc);
}

LookAngles LookAtMoon(const StationView& view, JulianDate utc) {
    return LookAtBody(MoonEquatorialAt, view, utc);
}

}  // namespace predict
