// Symbols follow Spacetrack Report No. 3 (STR#3) and the 2006 revision's reference code where
// the model has no better name for them; every angle is in radians, every rate per minute, and
// lengths are in Earth radii unless a name says otherwise. The order of the operations in each
// formula is the reference code's, so that results agree with it to the last bits that matter.
#include "predict/sgp4.h"

#include "predict/earth.h"

#include <cmath>

namespace predict {

namespace {

using Gravity = Sgp4Propagator::Gravity;
using Elements = Sgp4Propagator::Elements;
using InclinationTerms = Sgp4Propagator::InclinationTerms;
using NearEarthTerms = Sgp4Propagator::NearEarthTerms;
using ThirdBodyPeriodics = Sgp4Propagator::ThirdBodyPeriodics;
using DeepSpaceTerms = Sgp4Propagator::DeepSpaceTerms;

constexpr double kTwoThirds = 2.0 / 3.0;
constexpr double kMinutesPerDayPerRadian = kMinutesPerDay / kTwoPi;  // rev/day over rad/min
constexpr double kMinutesPerYear = 365.25 * kMinutesPerDay;
constexpr double kJulianDate1950 = 2433281.5;  // 1949 December 31 00:00, the model's day 0
constexpr double kDeepSpacePeriodMinutes = 225.0;
constexpr double kSimplifiedDragPerigeeKm = 220.0;
constexpr double kCosineGuard = 1.5e-12;  // keeps 1 + cos i off zero at 180 degrees
constexpr double kLyddaneInclination = 0.2;
constexpr double kEarthRotationPerMinute = 4.37526908801129966e-3;  // rptim, rad/min

// Brouwer's long-period J3 coefficient of the mean longitude: -A30 sin i (3 + 5 cos i) /
// (k2 4 (1 + cos i)) in the reference code's form (STR#3 section 6, "xlcof").
double LongPeriodLongitude(const Gravity& g, double sin_i, double cos_i) {
    const double denominator = std::fabs(cos_i + 1.0) > kCosineGuard ? 1.0 + cos_i : kCosineGuard;
    return -0.25 * g.j3_over_j2 * sin_i * (3.0 + 5.0 * cos_i) / denominator;
}

// Python's x % 2pi: the remainder in [0, 2pi), where C's fmod keeps the sign of x.
double WrapTwoPi(double radians) {
    const double remainder = std::fmod(radians, kTwoPi);
    return remainder < 0.0 ? remainder + kTwoPi : remainder;
}

Gravity GravityOf(GravityModel model) {
    // Vallado et al. 2006, getgravconst: radius (km), mu (km^3/s^2), J2, J3, J4.
    struct Constants {
        double radius_km, mu, xke, j2, j3, j4;
    };
    Constants c{};
    switch (model) {
        case GravityModel::kWgs72Old:
            c = {6378.135, 398600.79964, 0.0743669161, 0.001082616, -0.00000253881, -0.00000165597};
            break;
        case GravityModel::kWgs72:
            c = {6378.135, 398600.8, 0.0, 0.001082616, -0.00000253881, -0.00000165597};
            break;
        case GravityModel::kWgs84:
            c = {6378.137, 398600.5, 0.0, 0.00108262998905, -0.00000253215306, -0.00000161098761};
            break;
    }
    // WGS-72 old gives xke as such; the others derive it: sqrt(mu / radius^3) per minute.
    if (c.xke == 0.0) c.xke = 60.0 / std::sqrt(c.radius_km * c.radius_km * c.radius_km / c.mu);
    return {c.radius_km, c.xke, c.j2, c.j3 / c.j2, c.j4};
}

// The epoch the model starts from, in days from 1950.0: the element set's epoch rounded to the
// microsecond and summed into one Julian date, as the reference code's twoline2rv (through
// days2mdhms and jday) and python-sgp4 do. The sidereal time and the lunar-solar terms depend
// on it, so it must be the same number.
double ModelEpochDays(JulianDate epoch) {
    const JulianDate n = Normalised(epoch);
    const double seconds_of_day = (n.fraction + 0.5 / (kSecondsPerDay * 1e6)) * kSecondsPerDay;
    double second = std::fmod(seconds_of_day, 60.0);
    const double minutes = (seconds_of_day - second) / 60.0;
    const double minute = std::fmod(minutes, 60.0);
    const double hour = (minutes - minute) / 60.0;
    second = std::trunc(second * 1e6) / 1e6;
    const double julian_date = n.day + ((second / 60.0 + minute) / 60.0 + hour) / 24.0;
    return julian_date - kJulianDate1950;
}

// The sidereal time of AFSPC's code, from days since 1970 (Vallado et al. 2006, initl, 'a').
double SiderealTimeAfspc(double epoch_days_1950) {
    const double days_1970 = epoch_days_1950 - 7305.0;
    const double whole_days = std::floor(days_1970 + 1.0e-8);
    const double fraction = days_1970 - whole_days;
    const double c1 = 1.72027916940703639e-2;
    const double thgr70 = 1.7321343856509374;
    const double fk5r = 5.07551419432269442e-15;
    const double c1p2p = c1 + kTwoPi;
    return WrapTwoPi(thgr70 + c1 * whole_days + c1p2p * fraction + days_1970 * days_1970 * fk5r);
}

// The values of the epoch's orbit that the initialisation shares (STR#3 section 6; initl).
struct EpochOrbit {
    double mean_motion;      // n0'', Brouwer's, rad/min
    double semi_major_axis;  // a0''
    double cos_i, cos2_i, sin_i, beta0_squared, beta0, perigee_radius, semi_latus_squared;
    double one_minus_5_cos2;  // con42
};

// Recovers Brouwer's mean motion and semi-major axis from the element set's Kozai mean motion.
EpochOrbit RecoverEpochOrbit(const Gravity& g, const Elements& e) {
    EpochOrbit o{};
    const double eccentricity_squared = e.eccentricity * e.eccentricity;
    o.beta0_squared = 1.0 - eccentricity_squared;
    o.beta0 = std::sqrt(o.beta0_squared);
    o.cos_i = std::cos(e.inclination);
    o.cos2_i = o.cos_i * o.cos_i;
    const double a1 = std::pow(g.xke_per_minute / e.mean_motion, kTwoThirds);
    const double d1 = 0.75 * g.j2 * (3.0 * o.cos2_i - 1.0) / (o.beta0 * o.beta0_squared);
    double delta = d1 / (a1 * a1);
    const double a0 =
        a1 * (1.0 - delta * delta - delta * (1.0 / 3.0 + 134.0 * delta * delta / 81.0));
    delta = d1 / (a0 * a0);
    o.mean_motion = e.mean_motion / (1.0 + delta);
    o.semi_major_axis = std::pow(g.xke_per_minute / o.mean_motion, kTwoThirds);
    o.sin_i = std::sin(e.inclination);
    const double semi_latus = o.semi_major_axis * o.beta0_squared;
    o.one_minus_5_cos2 = 1.0 - 5.0 * o.cos2_i;
    o.semi_latus_squared = semi_latus * semi_latus;
    o.perigee_radius = o.semi_major_axis * (1.0 - e.eccentricity);
    return o;
}

// The drag model's atmosphere: s and (q0 - s)^4, lowered for perigees below 156 km (STR#3
// section 6; below 98 km s is fixed at 20 km).
struct Atmosphere {
    double s, q0_minus_s_4;
};

Atmosphere AtmosphereFor(const Gravity& g, double perigee_radius) {
    const double fourth = [](double x) { return x * x * x * x; }((120.0 - 78.0) / g.radius_km);
    Atmosphere a{78.0 / g.radius_km + 1.0, fourth};
    const double perigee_km = (perigee_radius - 1.0) * g.radius_km;
    if (perigee_km < 156.0) {
        double s_km = perigee_km - 78.0;
        if (perigee_km < 98.0) s_km = 20.0;
        const double q = (120.0 - s_km) / g.radius_km;
        a.q0_minus_s_4 = q * q * q * q;
        a.s = s_km / g.radius_km + 1.0;
    }
    return a;
}

// The J3 long-period and J2 short-period coefficients at the epoch's inclination (sgp4init).
InclinationTerms EpochInclinationTerms(const Gravity& g, const EpochOrbit& o) {
    InclinationTerms c{};
    c.sin_i = o.sin_i;
    c.cos_i = o.cos_i;
    c.long_period_l = LongPeriodLongitude(g, o.sin_i, o.cos_i);
    c.long_period_ay = -0.5 * g.j3_over_j2 * o.sin_i;
    c.three_cos2_minus_1 = -o.one_minus_5_cos2 - o.cos2_i - o.cos2_i;
    c.sin2 = 1.0 - o.cos2_i;
    c.seven_cos2_minus_1 = 7.0 * o.cos2_i - 1.0;
    return c;
}

// The secular rates of the mean anomaly, the perigee and the node from J2 and J4 (STR#3 section
// 6). Gives the node's J2 rate, which the node's drag term takes.
double AddSecularRates(const Gravity& g, const EpochOrbit& o, NearEarthTerms* t) {
    const double n0 = o.mean_motion, theta2 = t->at_epoch.three_cos2_minus_1;
    const double cos4 = o.cos2_i * o.cos2_i;
    const double p_inv2 = 1.0 / o.semi_latus_squared;
    const double temp1 = 1.5 * g.j2 * p_inv2 * n0;
    const double temp2 = 0.5 * temp1 * g.j2 * p_inv2;
    const double temp3 = -0.46875 * g.j4 * p_inv2 * p_inv2 * n0;
    t->mean_anomaly_rate = n0 + 0.5 * temp1 * o.beta0 * theta2 +
                           0.0625 * temp2 * o.beta0 * (13.0 - 78.0 * o.cos2_i + 137.0 * cos4);
    t->perigee_rate = -0.5 * temp1 * o.one_minus_5_cos2 +
                      0.0625 * temp2 * (7.0 - 114.0 * o.cos2_i + 395.0 * cos4) +
                      temp3 * (3.0 - 36.0 * o.cos2_i + 49.0 * cos4);
    const double node_rate_j2 = -temp1 * o.cos_i;
    t->node_rate =
        node_rate_j2 +
        (0.5 * temp2 * (4.0 - 19.0 * o.cos2_i) + 2.0 * temp3 * (3.0 - 7.0 * o.cos2_i)) * o.cos_i;
    return node_rate_j2;
}

// The drag coefficients C1, C4, C5 and the drag terms of the mean anomaly, the perigee and the
// node (STR#3 section 6).
void AddDrag(const Gravity& g, const Elements& e, double bstar, const EpochOrbit& o,
             double node_rate_j2, const Atmosphere& atmosphere, NearEarthTerms* t) {
    const double n0 = o.mean_motion, a0 = o.semi_major_axis, e0 = e.eccentricity;
    const double theta2 = t->at_epoch.three_cos2_minus_1;
    const double xi = 1.0 / (a0 - atmosphere.s);
    t->eta = a0 * e0 * xi;
    const double eta2 = t->eta * t->eta, e_eta = e0 * t->eta;
    const double psi2 = std::fabs(1.0 - eta2);
    const double coef = atmosphere.q0_minus_s_4 * std::pow(xi, 4.0);
    const double coef1 = coef / std::pow(psi2, 3.5);
    const double c2 = coef1 * n0 *
                      (a0 * (1.0 + 1.5 * eta2 + e_eta * (4.0 + eta2)) +
                       0.375 * g.j2 * xi / psi2 * theta2 * (8.0 + 3.0 * eta2 * (8.0 + eta2)));
    t->c1 = bstar * c2;
    const double c3 = e0 > 1.0e-4 ? -2.0 * coef * xi * g.j3_over_j2 * n0 * o.sin_i / e0 : 0.0;
    t->c4 = 2.0 * n0 * coef1 * a0 * o.beta0_squared *
            (t->eta * (2.0 + 0.5 * eta2) + e0 * (0.5 + 2.0 * eta2) -
             g.j2 * xi / (a0 * psi2) *
                 (-3.0 * theta2 * (1.0 - 2.0 * e_eta + eta2 * (1.5 - 0.5 * e_eta)) +
                  0.75 * t->at_epoch.sin2 * (2.0 * eta2 - e_eta * (1.0 + eta2)) *
                      std::cos(2.0 * e.argument_of_perigee)));
    t->c5 = 2.0 * coef1 * a0 * o.beta0_squared * (1.0 + 2.75 * (eta2 + e_eta) + e_eta * eta2);
    t->perigee_drag = bstar * c3 * std::cos(e.argument_of_perigee);
    t->mean_anomaly_drag = e0 > 1.0e-4 ? -kTwoThirds * coef * bstar / e_eta : 0.0;
    t->node_drag = 3.5 * o.beta0_squared * node_rate_j2 * t->c1;
    t->longitude_t2 = 1.5 * t->c1;
    const double eta_cos_m0 = 1.0 + t->eta * std::cos(e.mean_anomaly);
    t->eta_cos_m0_cubed = eta_cos_m0 * eta_cos_m0 * eta_cos_m0;
    t->sin_m0 = std::sin(e.mean_anomaly);
    if (t->simplified_drag) return;
    // The higher drag terms D2..D4 and the mean longitude's t^3..t^5 coefficients.
    const double c1_2 = t->c1 * t->c1;
    t->d2 = 4.0 * a0 * xi * c1_2;
    const double temp = t->d2 * xi * t->c1 / 3.0;
    t->d3 = (17.0 * a0 + atmosphere.s) * temp;
    t->d4 = 0.5 * temp * a0 * xi * (221.0 * a0 + 31.0 * atmosphere.s) * t->c1;
    t->longitude_t3 = t->d2 + 2.0 * c1_2;
    t->longitude_t4 = 0.25 * (3.0 * t->d3 + t->c1 * (12.0 * t->d2 + 10.0 * c1_2));
    t->longitude_t5 = 0.2 * (3.0 * t->d4 + 12.0 * t->c1 * t->d3 + 6.0 * t->d2 * t->d2 +
                             15.0 * c1_2 * (2.0 * t->d2 + c1_2));
}

// SGP4's initialisation for any orbit (sgp4init); a deep-space orbit then takes the simplified
// drag and SDP4's terms.
NearEarthTerms NearEarthTermsFor(const Gravity& g, const Elements& e, double bstar,
                                 const EpochOrbit& o, bool deep_space) {
    NearEarthTerms t{};
    t.simplified_drag =
        deep_space || o.perigee_radius < kSimplifiedDragPerigeeKm / g.radius_km + 1.0;
    t.at_epoch = EpochInclinationTerms(g, o);
    const double node_rate_j2 = AddSecularRates(g, o, &t);
    AddDrag(g, e, bstar, o, node_rate_j2, AtmosphereFor(g, o.perigee_radius), &t);
    return t;
}

// ---- Deep space (STR#3 section 10) ----

// Solar and lunar constants of DSCOM: mean motions (rad/min), orbit eccentricities, and the
// perturbation strengths c1ss and c1l.
constexpr double kSunMeanMotion = 1.19459e-5, kSunEccentricity = 0.01675;
constexpr double kMoonMeanMotion = 1.5835218e-4, kMoonEccentricity = 0.05490;
constexpr double kSunStrength = 2.9864797e-6, kMoonStrength = 4.7968065e-7;
// Inclinations below 3 degrees (or above 177) take no lunar-solar node rate from the h terms.
constexpr double kSmallInclination = 5.2359877e-2;

// Where a third body's orbit lies against the equator (cos and sin of its argument of
// perigee g, inclination i and node h) and how strongly it pulls.
struct ThirdBodyGeometry {
    double cos_g, sin_g, cos_i, sin_i, cos_h, sin_h, strength;
};

// The satellite's epoch angles as DSCOM uses them.
struct SatelliteAngles {
    double sin_i, cos_i, sin_w, cos_w, sin_node, cos_node;
    double eccentricity, e2, beta2, beta, inverse_mean_motion;
};

// The intermediate terms of DSCOM for one third body: s1..s7 and z1..z33.
struct ThirdBodyTerms {
    double s1, s2, s3, s4, s5, s6, s7;
    double z1, z2, z3, z11, z12, z13, z21, z22, z23, z31, z32, z33;
};

ThirdBodyTerms TermsFor(const ThirdBodyGeometry& b, const SatelliteAngles& s) {
    const double a1 = b.cos_g * b.cos_h + b.sin_g * b.cos_i * b.sin_h;
    const double a3 = -b.sin_g * b.cos_h + b.cos_g * b.cos_i * b.sin_h;
    const double a7 = -b.cos_g * b.sin_h + b.sin_g * b.cos_i * b.cos_h;
    const double a8 = b.sin_g * b.sin_i;
    const double a9 = b.sin_g * b.sin_h + b.cos_g * b.cos_i * b.cos_h;
    const double a10 = b.cos_g * b.sin_i;
    const double a2 = s.cos_i * a7 + s.sin_i * a8;
    const double a4 = s.cos_i * a9 + s.sin_i * a10;
    const double a5 = -s.sin_i * a7 + s.cos_i * a8;
    const double a6 = -s.sin_i * a9 + s.cos_i * a10;
    const double x1 = a1 * s.cos_w + a2 * s.sin_w;
    const double x2 = a3 * s.cos_w + a4 * s.sin_w;
    const double x3 = -a1 * s.sin_w + a2 * s.cos_w;
    const double x4 = -a3 * s.sin_w + a4 * s.cos_w;
    const double x5 = a5 * s.sin_w, x6 = a6 * s.sin_w, x7 = a5 * s.cos_w, x8 = a6 * s.cos_w;
    const double e2 = s.e2;
    ThirdBodyTerms t{};
    t.z31 = 12.0 * x1 * x1 - 3.0 * x3 * x3;
    t.z32 = 24.0 * x1 * x2 - 6.0 * x3 * x4;
    t.z33 = 12.0 * x2 * x2 - 3.0 * x4 * x4;
    t.z1 = 3.0 * (a1 * a1 + a2 * a2) + t.z31 * e2;
    t.z2 = 6.0 * (a1 * a3 + a2 * a4) + t.z32 * e2;
    t.z3 = 3.0 * (a3 * a3 + a4 * a4) + t.z33 * e2;
    t.z11 = -6.0 * a1 * a5 + e2 * (-24.0 * x1 * x7 - 6.0 * x3 * x5);
    t.z12 =
        -6.0 * (a1 * a6 + a3 * a5) + e2 * (-24.0 * (x2 * x7 + x1 * x8) - 6.0 * (x3 * x6 + x4 * x5));
    t.z13 = -6.0 * a3 * a6 + e2 * (-24.0 * x2 * x8 - 6.0 * x4 * x6);
    t.z21 = 6.0 * a2 * a5 + e2 * (24.0 * x1 * x5 - 6.0 * x3 * x7);
    t.z22 =
        6.0 * (a4 * a5 + a2 * a6) + e2 * (24.0 * (x2 * x5 + x1 * x6) - 6.0 * (x4 * x7 + x3 * x8));
    t.z23 = 6.0 * a4 * a6 + e2 * (24.0 * x2 * x6 - 6.0 * x4 * x8);
    t.z1 = t.z1 + t.z1 + s.beta2 * t.z31;
    t.z2 = t.z2 + t.z2 + s.beta2 * t.z32;
    t.z3 = t.z3 + t.z3 + s.beta2 * t.z33;
    t.s3 = b.strength * s.inverse_mean_motion;
    t.s2 = -0.5 * t.s3 / s.beta;
    t.s4 = t.s3 * s.beta;
    t.s1 = -15.0 * s.eccentricity * t.s4;
    t.s5 = x1 * x3 + x2 * x4;
    t.s6 = x2 * x3 + x1 * x4;
    t.s7 = x2 * x4 - x1 * x3;
    return t;
}

ThirdBodyPeriodics PeriodicsFrom(const ThirdBodyTerms& t, double e2, double body_eccentricity,
                                 double mean_anomaly_at_epoch) {
    ThirdBodyPeriodics p{};
    p.e2 = 2.0 * t.s1 * t.s6;
    p.e3 = 2.0 * t.s1 * t.s7;
    p.i2 = 2.0 * t.s2 * t.z12;
    p.i3 = 2.0 * t.s2 * (t.z13 - t.z11);
    p.l2 = -2.0 * t.s3 * t.z2;
    p.l3 = -2.0 * t.s3 * (t.z3 - t.z1);
    p.l4 = -2.0 * t.s3 * (-21.0 - 9.0 * e2) * body_eccentricity;
    p.gh2 = 2.0 * t.s4 * t.z32;
    p.gh3 = 2.0 * t.s4 * (t.z33 - t.z31);
    p.gh4 = -18.0 * t.s4 * body_eccentricity;
    p.h2 = -2.0 * t.s2 * t.z22;
    p.h3 = -2.0 * t.s2 * (t.z23 - t.z21);
    p.mean_anomaly_at_epoch = mean_anomaly_at_epoch;
    return p;
}

// A third body's secular rates of e, i, l, g and h (DSINIT), before the node's division by
// sin i.
struct ThirdBodyRates {
    double e, i, l, gh, h;
};

ThirdBodyRates RatesFrom(const ThirdBodyTerms& t, double mean_motion, double e2) {
    return {t.s1 * mean_motion * t.s5, t.s2 * mean_motion * (t.z11 + t.z13),
            -mean_motion * t.s3 * (t.z1 + t.z3 - 14.0 - 6.0 * e2),
            t.s4 * mean_motion * (t.z31 + t.z33 - 6.0), -mean_motion * t.s2 * (t.z21 + t.z23)};
}

SatelliteAngles AnglesOf(const Elements& e, double mean_motion) {
    SatelliteAngles s{};
    s.sin_node = std::sin(e.node);
    s.cos_node = std::cos(e.node);
    s.sin_w = std::sin(e.argument_of_perigee);
    s.cos_w = std::cos(e.argument_of_perigee);
    s.sin_i = std::sin(e.inclination);
    s.cos_i = std::cos(e.inclination);
    s.eccentricity = e.eccentricity;
    s.e2 = e.eccentricity * e.eccentricity;
    s.beta2 = 1.0 - s.e2;
    s.beta = std::sqrt(s.beta2);
    s.inverse_mean_motion = 1.0 / mean_motion;
    return s;
}

// The Moon's orbit on a day (from 1900 January 0.5) against the satellite's node, and its mean
// anomaly then (DSCOM).
struct MoonOrbit {
    ThirdBodyGeometry geometry;
    double mean_anomaly;
};

MoonOrbit MoonOn(double day, const SatelliteAngles& s) {
    const double node = WrapTwoPi(4.5236020 - 9.2422029e-4 * day);
    const double sin_node = std::sin(node), cos_node = std::cos(node);
    const double cos_i = 0.91375164 - 0.03568096 * cos_node;
    const double sin_i = std::sqrt(1.0 - cos_i * cos_i);
    const double sin_h = 0.089683511 * sin_node / sin_i;
    const double cos_h = std::sqrt(1.0 - sin_h * sin_h);
    const double gam = 5.8351514 + 0.0019443680 * day;
    const double zx = 0.39785416 * sin_node / sin_i;
    const double zy = cos_h * cos_node + 0.91744867 * sin_h * sin_node;
    const double g = gam + std::atan2(zx, zy) - node;
    return {{std::cos(g), std::sin(g), cos_i, sin_i, cos_h * s.cos_node + sin_h * s.sin_node,
             s.sin_node * cos_h - s.cos_node * sin_h, kMoonStrength},
            WrapTwoPi(4.7199672 + 0.22997150 * day - gam)};
}

// DSINIT's lunar-solar secular rates; near the equator the node takes none from the h terms.
void AddLunarSolarRates(const ThirdBodyTerms& sun_terms, const ThirdBodyTerms& moon_terms,
                        const SatelliteAngles& s, double inclination, DeepSpaceTerms* d) {
    const ThirdBodyRates sun = RatesFrom(sun_terms, kSunMeanMotion, s.e2);
    const ThirdBodyRates moon = RatesFrom(moon_terms, kMoonMeanMotion, s.e2);
    const bool equatorial =
        inclination < kSmallInclination || inclination > kPi - kSmallInclination;
    double sun_h = equatorial ? 0.0 : sun.h;
    const double moon_h = equatorial ? 0.0 : moon.h;
    if (s.sin_i != 0.0) sun_h = sun_h / s.sin_i;
    d->eccentricity_rate = sun.e + moon.e;
    d->inclination_rate = sun.i + moon.i;
    d->mean_anomaly_rate = sun.l + moon.l;
    d->perigee_rate = sun.gh - s.cos_i * sun_h + moon.gh;
    d->node_rate = sun_h;
    if (s.sin_i != 0.0) {
        d->perigee_rate = d->perigee_rate - s.cos_i / s.sin_i * moon_h;
        d->node_rate = d->node_rate + moon_h / s.sin_i;
    }
}

// DSCOM and the secular part of DSINIT: the lunar-solar periodic coefficients and rates.
void AddLunarSolarTerms(double epoch_days_1950, const Elements& e, double mean_motion,
                        DeepSpaceTerms* d) {
    const double day = epoch_days_1950 + 18261.5;  // days from 1900 January 0.5
    const SatelliteAngles s = AnglesOf(e, mean_motion);
    const ThirdBodyGeometry sun{0.1945905,  -0.98088458, 0.91744867,  0.39785416,
                                s.cos_node, s.sin_node,  kSunStrength};
    const MoonOrbit moon = MoonOn(day, s);
    const ThirdBodyTerms sun_terms = TermsFor(sun, s), moon_terms = TermsFor(moon.geometry, s);
    d->sun =
        PeriodicsFrom(sun_terms, s.e2, kSunEccentricity, WrapTwoPi(6.2565837 + 0.017201977 * day));
    d->moon = PeriodicsFrom(moon_terms, s.e2, kMoonEccentricity, moon.mean_anomaly);
    AddLunarSolarRates(sun_terms, moon_terms, s, e.inclination, d);
}

// The half-day resonance's eccentricity functions G_lmp (DSINIT, "irez 2"), fitted in pieces.
struct HalfDayEccentricityFunctions {
    double g201, g211, g310, g322, g410, g422, g520, g521, g532, g533;
};

HalfDayEccentricityFunctions HalfDayG(double em) {
    const double emsq = em * em, eoc = em * emsq;
    const double g201 = -0.306 - (em - 0.64) * 0.440;
    double g211, g310, g322, g410, g422, g520;
    if (em <= 0.65) {
        g211 = 3.616 - 13.2470 * em + 16.2900 * emsq;
        g310 = -19.302 + 117.3900 * em - 228.4190 * emsq + 156.5910 * eoc;
        g322 = -18.9068 + 109.7927 * em - 214.6334 * emsq + 146.5816 * eoc;
        g410 = -41.122 + 242.6940 * em - 471.0940 * emsq + 313.9530 * eoc;
        g422 = -146.407 + 841.8800 * em - 1629.014 * emsq + 1083.4350 * eoc;
        g520 = -532.114 + 3017.977 * em - 5740.032 * emsq + 3708.2760 * eoc;
    } else {
        g211 = -72.099 + 331.819 * em - 508.738 * emsq + 266.724 * eoc;
        g310 = -346.844 + 1582.851 * em - 2415.925 * emsq + 1246.113 * eoc;
        g322 = -342.585 + 1554.908 * em - 2366.899 * emsq + 1215.972 * eoc;
        g410 = -1052.797 + 4758.686 * em - 7193.992 * emsq + 3651.957 * eoc;
        g422 = -3581.690 + 16178.110 * em - 24462.770 * emsq + 12422.520 * eoc;
        g520 = em > 0.715 ? -5149.66 + 29936.92 * em - 54087.36 * emsq + 31324.56 * eoc
                          : 1464.74 - 4664.75 * em + 3763.64 * emsq;
    }
    double g533, g521, g532;
    if (em < 0.7) {
        g533 = -919.22770 + 4988.6100 * em - 9064.7700 * emsq + 5542.21 * eoc;
        g521 = -822.71072 + 4568.6173 * em - 8491.4146 * emsq + 5337.524 * eoc;
        g532 = -853.66600 + 4690.2500 * em - 8624.7700 * emsq + 5341.4 * eoc;
    } else {
        g533 = -37995.780 + 161616.52 * em - 229838.20 * emsq + 109377.94 * eoc;
        g521 = -51752.104 + 218913.95 * em - 309468.16 * emsq + 146349.42 * eoc;
        g532 = -40023.880 + 170470.89 * em - 242699.48 * emsq + 115605.82 * eoc;
    }
    return {g201, g211, g310, g322, g410, g422, g520, g521, g532, g533};
}

// The half-day resonance's coefficients D2201..D5433 from the inclination functions F_lmp and
// the eccentricity functions G_lmp (DSINIT, "irez 2").
void AddHalfDayResonance(const Elements& e, double mean_motion, double aonv, double sin_i,
                         double cos_i, DeepSpaceTerms* d) {
    const HalfDayEccentricityFunctions g = HalfDayG(e.eccentricity);
    const double cosisq = cos_i * cos_i;
    const double sini2 = sin_i * sin_i;
    const double f220 = 0.75 * (1.0 + 2.0 * cos_i + cosisq);
    const double f221 = 1.5 * sini2;
    const double f321 = 1.875 * sin_i * (1.0 - 2.0 * cos_i - 3.0 * cosisq);
    const double f322 = -1.875 * sin_i * (1.0 + 2.0 * cos_i - 3.0 * cosisq);
    const double f441 = 35.0 * sini2 * f220;
    const double f442 = 39.3750 * sini2 * sini2;
    const double f522 = 9.84375 * sin_i *
                        (sini2 * (1.0 - 2.0 * cos_i - 5.0 * cosisq) +
                         0.33333333 * (-2.0 + 4.0 * cos_i + 6.0 * cosisq));
    const double f523 = sin_i * (4.92187512 * sini2 * (-2.0 - 4.0 * cos_i + 10.0 * cosisq) +
                                 6.56250012 * (1.0 + 2.0 * cos_i - 3.0 * cosisq));
    const double f542 =
        29.53125 * sin_i * (2.0 - 8.0 * cos_i + cosisq * (-12.0 + 8.0 * cos_i + 10.0 * cosisq));
    const double f543 =
        29.53125 * sin_i * (-2.0 - 8.0 * cos_i + cosisq * (12.0 + 8.0 * cos_i - 10.0 * cosisq));
    // Geopotential strengths of the resonant harmonics (sqrt(C^2 + S^2)).
    const double root22 = 1.7891679e-6, root32 = 3.7393792e-7, root44 = 7.3636953e-9;
    const double root52 = 1.1428639e-7, root54 = 2.1765803e-9;
    const double n2 = mean_motion * mean_motion, aonv2 = aonv * aonv;
    double temp1 = 3.0 * n2 * aonv2;
    double temp = temp1 * root22;
    d->d2201 = temp * f220 * g.g201;
    d->d2211 = temp * f221 * g.g211;
    temp1 = temp1 * aonv;
    temp = temp1 * root32;
    d->d3210 = temp * f321 * g.g310;
    d->d3222 = temp * f322 * g.g322;
    temp1 = temp1 * aonv;
    temp = 2.0 * temp1 * root44;
    d->d4410 = temp * f441 * g.g410;
    d->d4422 = temp * f442 * g.g422;
    temp1 = temp1 * aonv;
    temp = temp1 * root52;
    d->d5220 = temp * f522 * g.g520;
    d->d5232 = temp * f523 * g.g532;
    temp = 2.0 * temp1 * root54;
    d->d5421 = temp * f542 * g.g521;
    d->d5433 = temp * f543 * g.g533;
}

// Resonance of the one-day orbits (DSINIT, "irez 1"): DEL1..DEL3.
void AddOneDayResonance(double e2, double mean_motion, double aonv, double sin_i, double cos_i,
                        DeepSpaceTerms* d) {
    const double q22 = 1.7891679e-6, q31 = 2.1460748e-6, q33 = 2.2123015e-7;
    const double g200 = 1.0 + e2 * (-2.5 + 0.8125 * e2);
    const double g310 = 1.0 + 2.0 * e2;
    const double g300 = 1.0 + e2 * (-6.0 + 6.60937 * e2);
    const double f220 = 0.75 * (1.0 + cos_i) * (1.0 + cos_i);
    const double f311 = 0.9375 * sin_i * sin_i * (1.0 + 3.0 * cos_i) - 0.75 * (1.0 + cos_i);
    double f330 = 1.0 + cos_i;
    f330 = 1.875 * f330 * f330 * f330;
    const double del1 = 3.0 * mean_motion * mean_motion * aonv * aonv;
    d->del2 = 2.0 * del1 * f220 * g200 * q22;
    d->del3 = 3.0 * del1 * f330 * g300 * q33 * aonv;
    d->del1 = del1 * f311 * g310 * q31 * aonv;
}

// DSINIT's resonance: which one applies (0.8 to 1.2 revolutions a day; or 1.89 to 2.12 with an
// eccentricity of 0.5 or more), its coefficients and the integrator's start.
void AddResonance(const Gravity& g, const Elements& e, double mean_motion,
                  const NearEarthTerms& near, DeepSpaceTerms* d) {
    if (mean_motion > 0.0034906585 && mean_motion < 0.0052359877) d->resonance = 1;
    if (mean_motion >= 8.26e-3 && mean_motion <= 9.24e-3 && e.eccentricity >= 0.5) d->resonance = 2;
    if (d->resonance == 0) return;
    const double theta = WrapTwoPi(d->sidereal_time_at_epoch);
    const double aonv = std::pow(mean_motion / g.xke_per_minute, kTwoThirds);
    const double sin_i = std::sin(e.inclination), cos_i = std::cos(e.inclination);
    if (d->resonance == 2) {
        AddHalfDayResonance(e, mean_motion, aonv, sin_i, cos_i, d);
        d->longitude_at_epoch = WrapTwoPi(e.mean_anomaly + e.node + e.node - theta - theta);
        d->longitude_rate_offset = near.mean_anomaly_rate + d->mean_anomaly_rate +
                                   2.0 * (near.node_rate + d->node_rate - kEarthRotationPerMinute) -
                                   mean_motion;
    } else {
        AddOneDayResonance(e.eccentricity * e.eccentricity, mean_motion, aonv, sin_i, cos_i, d);
        d->longitude_at_epoch = WrapTwoPi(e.mean_anomaly + e.node + e.argument_of_perigee - theta);
        d->longitude_rate_offset = near.mean_anomaly_rate + (near.perigee_rate + near.node_rate) -
                                   kEarthRotationPerMinute + d->mean_anomaly_rate +
                                   d->perigee_rate + d->node_rate - mean_motion;
    }
}

// ---- Propagation ----

// The mean elements at time t with SGP4's secular gravity and drag (STR#3 section 6).
struct MeanState {
    double mean_anomaly, perigee, node, eccentricity, inclination, mean_motion;
    double drag_a, drag_e, drag_l;  // the factors of a, e and the longitude: tempa, tempe, templ
};

MeanState SecularState(const NearEarthTerms& n, const Elements& e, double bstar, double t) {
    const double mean_anomaly = e.mean_anomaly + n.mean_anomaly_rate * t;
    const double perigee = e.argument_of_perigee + n.perigee_rate * t;
    const double node = e.node + n.node_rate * t;
    const double t2 = t * t;
    MeanState m{mean_anomaly,   perigee,          node + n.node_drag * t2,
                e.eccentricity, e.inclination,    e.mean_motion,
                1.0 - n.c1 * t, bstar * n.c4 * t, n.longitude_t2 * t2};
    if (n.simplified_drag) return m;
    const double eta_cos_m = 1.0 + n.eta * std::cos(mean_anomaly);
    const double drag =
        n.perigee_drag * t +
        n.mean_anomaly_drag * (eta_cos_m * eta_cos_m * eta_cos_m - n.eta_cos_m0_cubed);
    m.mean_anomaly = mean_anomaly + drag;
    m.perigee = perigee - drag;
    const double t3 = t2 * t, t4 = t3 * t;
    m.drag_a = m.drag_a - n.d2 * t2 - n.d3 * t3 - n.d4 * t4;
    m.drag_e = m.drag_e + bstar * n.c5 * (std::sin(m.mean_anomaly) - n.sin_m0);
    m.drag_l = m.drag_l + n.longitude_t3 * t3 + t4 * (n.longitude_t4 + t * n.longitude_t5);
    return m;
}

// The resonance integrator's rates at one point: dn/dt, dl/dt and d2n/dt2.
struct ResonanceRates {
    double n_dot, l_dot, n_ddot;
};

// One-day resonance: phases (fasx2, fasx4, fasx6) of the 2nd, 3rd and 4th harmonics.
ResonanceRates OneDayRates(const DeepSpaceTerms& d, double l, double n) {
    const double fasx2 = 0.13130908, fasx4 = 2.8843198, fasx6 = 0.37448087;
    const double l_dot = n + d.longitude_rate_offset;
    const double n_dot = d.del1 * std::sin(l - fasx2) + d.del2 * std::sin(2.0 * (l - fasx4)) +
                         d.del3 * std::sin(3.0 * (l - fasx6));
    const double n_ddot = d.del1 * std::cos(l - fasx2) +
                          2.0 * d.del2 * std::cos(2.0 * (l - fasx4)) +
                          3.0 * d.del3 * std::cos(3.0 * (l - fasx6));
    return {n_dot, l_dot, n_ddot * l_dot};
}

// Half-day resonance: ten tesseral terms D_lmpq sin(k_w w + k_l l - G_lm).
struct HalfDayTerm {
    double DeepSpaceTerms::*coefficient;
    double k_w, k_l, phase;
};
constexpr double kG22 = 5.7686396, kG32 = 0.95240898, kG44 = 1.8014998, kG52 = 1.0508330,
                 kG54 = 4.4108898;
constexpr HalfDayTerm kHalfDayTerms[] = {
    {&DeepSpaceTerms::d2201, 2, 1, kG22}, {&DeepSpaceTerms::d2211, 0, 1, kG22},
    {&DeepSpaceTerms::d3210, 1, 1, kG32}, {&DeepSpaceTerms::d3222, -1, 1, kG32},
    {&DeepSpaceTerms::d4410, 2, 2, kG44}, {&DeepSpaceTerms::d4422, 0, 2, kG44},
    {&DeepSpaceTerms::d5220, 1, 1, kG52}, {&DeepSpaceTerms::d5232, -1, 1, kG52},
    {&DeepSpaceTerms::d5421, 1, 2, kG54}, {&DeepSpaceTerms::d5433, -1, 2, kG54}};

ResonanceRates HalfDayRates(const DeepSpaceTerms& d, double perigee, double l, double n) {
    double n_dot = 0.0, n_ddot_single = 0.0, n_ddot_double = 0.0;
    for (const HalfDayTerm& term : kHalfDayTerms) {
        const double argument = term.k_w * perigee + term.k_l * l - term.phase;
        const double coefficient = d.*term.coefficient;
        n_dot += coefficient * std::sin(argument);
        (term.k_l == 1 ? n_ddot_single : n_ddot_double) += coefficient * std::cos(argument);
    }
    const double l_dot = n + d.longitude_rate_offset;
    return {n_dot, l_dot, (n_ddot_single + 2.0 * n_ddot_double) * l_dot};
}

// DSPACE: integrates the resonant mean motion and longitude from the epoch to t in steps of
// 720 minutes (Euler-Maclaurin), then the remainder by its Taylor series.
struct ResonantMotion {
    double mean_motion, longitude;
};

ResonantMotion IntegrateResonance(const DeepSpaceTerms& d, const NearEarthTerms& near,
                                  const Elements& e, double t) {
    constexpr double kStep = 720.0;
    constexpr double kHalfStepSquared = kStep * kStep / 2.0;
    const double step = t > 0.0 ? kStep : -kStep;
    double time = 0.0, l = d.longitude_at_epoch, n = e.mean_motion;
    ResonanceRates r{};
    for (;;) {
        r = d.resonance == 1
                ? OneDayRates(d, l, n)
                : HalfDayRates(d, e.argument_of_perigee + near.perigee_rate * time, l, n);
        if (std::fabs(t - time) < kStep) break;
        l = l + r.l_dot * step + r.n_dot * kHalfStepSquared;
        n = n + r.n_dot * step + r.n_ddot * kHalfStepSquared;
        time = time + step;
    }
    const double rest = t - time;
    return {n + r.n_dot * rest + r.n_ddot * rest * rest * 0.5,
            l + r.l_dot * rest + r.n_dot * rest * rest * 0.5};
}

// The lunar-solar secular rates and the resonance (DSPACE).
void AddDeepSpaceSecular(const DeepSpaceTerms& d, const NearEarthTerms& near, const Elements& e,
                         double t, MeanState* m) {
    m->eccentricity = m->eccentricity + d.eccentricity_rate * t;
    m->inclination = m->inclination + d.inclination_rate * t;
    m->perigee = m->perigee + d.perigee_rate * t;
    m->node = m->node + d.node_rate * t;
    m->mean_anomaly = m->mean_anomaly + d.mean_anomaly_rate * t;
    if (d.resonance == 0) return;
    const double theta = WrapTwoPi(d.sidereal_time_at_epoch + t * kEarthRotationPerMinute);
    const ResonantMotion motion = IntegrateResonance(d, near, e, t);
    m->mean_anomaly = d.resonance == 1 ? motion.longitude - m->node - m->perigee + theta
                                       : motion.longitude - 2.0 * m->node + 2.0 * theta;
    m->mean_motion = e.mean_motion + (motion.mean_motion - e.mean_motion);
}

// Osculating-to-be elements: the mean ones with the lunar-solar periodics added.
struct Orbit {
    double eccentricity, inclination, node, perigee, mean_anomaly;
};

struct PeriodicShift {
    double e, i, l, gh, h;
};

PeriodicShift ThirdBodyShift(const ThirdBodyPeriodics& p, double mean_motion,
                             double body_eccentricity, double t) {
    const double zm = p.mean_anomaly_at_epoch + mean_motion * t;
    const double zf = zm + 2.0 * body_eccentricity * std::sin(zm);
    const double sin_zf = std::sin(zf);
    const double f2 = 0.5 * sin_zf * sin_zf - 0.25;
    const double f3 = -0.5 * sin_zf * std::cos(zf);
    return {p.e2 * f2 + p.e3 * f3, p.i2 * f2 + p.i3 * f3, p.l2 * f2 + p.l3 * f3 + p.l4 * sin_zf,
            p.gh2 * f2 + p.gh3 * f3 + p.gh4 * sin_zf, p.h2 * f2 + p.h3 * f3};
}

// DPPER: the lunar-solar periodics; below 0.2 rad of inclination through Lyddane's form, which
// keeps the node defined near the pole of the equator (Vallado et al. 2006, the Lyddane choice).
void AddLunarSolarPeriodics(const DeepSpaceTerms& d, OperationMode mode, double t, Orbit* o) {
    const PeriodicShift sun = ThirdBodyShift(d.sun, kSunMeanMotion, kSunEccentricity, t);
    const PeriodicShift moon = ThirdBodyShift(d.moon, kMoonMeanMotion, kMoonEccentricity, t);
    const double pe = sun.e + moon.e, pinc = sun.i + moon.i, pl = sun.l + moon.l;
    double pgh = sun.gh + moon.gh, ph = sun.h + moon.h;
    o->inclination = o->inclination + pinc;
    o->eccentricity = o->eccentricity + pe;
    const double sin_i = std::sin(o->inclination), cos_i = std::cos(o->inclination);
    if (o->inclination >= kLyddaneInclination) {
        ph = ph / sin_i;
        pgh = pgh - cos_i * ph;
        o->perigee = o->perigee + pgh;
        o->node = o->node + ph;
        o->mean_anomaly = o->mean_anomaly + pl;
        return;
    }
    const double sin_node = std::sin(o->node), cos_node = std::cos(o->node);
    const double alpha = sin_i * sin_node + (ph * cos_node + pinc * cos_i * sin_node);
    const double beta = sin_i * cos_node + (-ph * sin_node + pinc * cos_i * cos_node);
    const bool afspc = mode == OperationMode::kAfspc;
    double node = std::fmod(o->node, kTwoPi);
    if (afspc && node < 0.0) node = node + kTwoPi;
    const double longitude =
        o->mean_anomaly + o->perigee + pl + pgh + (cos_i - pinc * sin_i) * node;
    const double old_node = node;
    node = std::atan2(alpha, beta);
    if (afspc && node < 0.0) node = node + kTwoPi;
    if (std::fabs(old_node - node) > kPi) node = node < old_node ? node + kTwoPi : node - kTwoPi;
    o->node = node;
    o->mean_anomaly = o->mean_anomaly + pl;
    o->perigee = longitude - o->mean_anomaly - cos_i * node;
}

// The periodic terms' coefficients at the perturbed inclination of a deep-space orbit.
InclinationTerms InclinationTermsAt(const Gravity& g, double inclination) {
    InclinationTerms c{};
    c.sin_i = std::sin(inclination);
    c.cos_i = std::cos(inclination);
    c.long_period_ay = -0.5 * g.j3_over_j2 * c.sin_i;
    c.long_period_l = LongPeriodLongitude(g, c.sin_i, c.cos_i);
    const double cos2 = c.cos_i * c.cos_i;
    c.three_cos2_minus_1 = 3.0 * cos2 - 1.0;
    c.sin2 = 1.0 - cos2;
    c.seven_cos2_minus_1 = 7.0 * cos2 - 1.0;
    return c;
}

// Kepler's equation for the long-period-corrected elements (STR#3 section 6): at most ten
// Newton steps of at most 0.95 rad each. Gives sin and cos of the last estimate evaluated.
struct KeplerSolution {
    double sin_e, cos_e;
};

KeplerSolution SolveKepler(double u, double axn, double ayn) {
    constexpr int kMaxIterations = 10;
    constexpr double kTolerance = 1.0e-12, kMaxStep = 0.95;
    double estimate = u, step = 9999.9;
    KeplerSolution s{};
    for (int i = 0; i < kMaxIterations && std::fabs(step) >= kTolerance; ++i) {
        s.sin_e = std::sin(estimate);
        s.cos_e = std::cos(estimate);
        step = 1.0 - s.cos_e * axn - s.sin_e * ayn;
        step = (u - ayn * s.cos_e + axn * s.sin_e - estimate) / step;
        if (std::fabs(step) >= kMaxStep) step = step > 0.0 ? kMaxStep : -kMaxStep;
        estimate = estimate + step;
    }
    return s;
}

// The long-period terms and Kepler's equation (STR#3 section 6): where the satellite is in its
// orbit's plane, as the components of the eccentricity vector and the eccentric longitude.
struct PlanePosition {
    double axn, ayn, sin_e, cos_e;
};

PlanePosition SolvePlanePosition(const InclinationTerms& c, const Orbit& o, double a) {
    const double axn = o.eccentricity * std::cos(o.perigee);
    const double temp = 1.0 / (a * (1.0 - o.eccentricity * o.eccentricity));
    const double ayn = o.eccentricity * std::sin(o.perigee) + temp * c.long_period_ay;
    const double xl = o.mean_anomaly + o.perigee + o.node + temp * c.long_period_l * axn;
    const KeplerSolution k = SolveKepler(WrapTwoPi(xl - o.node), axn, ayn);
    return {axn, ayn, k.sin_e, k.cos_e};
}

// Radius (Earth radii), argument of latitude, node, inclination, and radial and transverse
// rates with the J2 short-period terms (STR#3 section 6).
struct Osculating {
    Sgp4Error error;
    double radius, argument_of_latitude, node, inclination, radial_rate, transverse_rate;
};

Osculating ShortPeriodic(const Gravity& g, const InclinationTerms& c, const Orbit& o, double a,
                         double n, const PlanePosition& p) {
    const double e_cos_e = p.axn * p.cos_e + p.ayn * p.sin_e;
    const double e_sin_e = p.axn * p.sin_e - p.ayn * p.cos_e;
    const double el2 = p.axn * p.axn + p.ayn * p.ayn;
    const double pl = a * (1.0 - el2);
    if (!(pl >= 0.0)) return {Sgp4Error::kSemiLatusRectum, 0, 0, 0, 0, 0, 0};
    const double rl = a * (1.0 - e_cos_e);
    const double rdotl = std::sqrt(a) * e_sin_e / rl;
    const double rvdotl = std::sqrt(pl) / rl;
    const double betal = std::sqrt(1.0 - el2);
    double temp = e_sin_e / (1.0 + betal);
    const double sin_u = a / rl * (p.sin_e - p.ayn - p.axn * temp);
    const double cos_u = a / rl * (p.cos_e - p.axn + p.ayn * temp);
    const double sin_2u = (cos_u + cos_u) * sin_u;
    const double cos_2u = 1.0 - 2.0 * sin_u * sin_u;
    temp = 1.0 / pl;
    const double temp1 = 0.5 * g.j2 * temp;
    const double temp2 = temp1 * temp;
    return {Sgp4Error::kNone,
            rl * (1.0 - 1.5 * temp2 * betal * c.three_cos2_minus_1) + 0.5 * temp1 * c.sin2 * cos_2u,
            std::atan2(sin_u, cos_u) - 0.25 * temp2 * c.seven_cos2_minus_1 * sin_2u,
            o.node + 1.5 * temp2 * c.cos_i * sin_2u,
            o.inclination + 1.5 * temp2 * c.cos_i * c.sin_i * cos_2u,
            rdotl - n * temp1 * c.sin2 * sin_2u / g.xke_per_minute,
            rvdotl + n * temp1 * (c.sin2 * cos_2u + 1.5 * c.three_cos2_minus_1) / g.xke_per_minute};
}

bool IsFinite(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

Sgp4State Failed(Sgp4Error error) {
    return {error, {0, 0, 0}, {0, 0, 0}};
}

// Position and velocity in TEME from the osculating orbit: below the Earth's surface the
// satellite has decayed, and a degenerate orbit that gives no finite state counts as one too.
Sgp4State TemeState(const Gravity& g, const Osculating& s) {
    if (!(s.radius >= 1.0)) return Failed(Sgp4Error::kDecayed);
    const double sin_u = std::sin(s.argument_of_latitude), cos_u = std::cos(s.argument_of_latitude);
    const double sin_node = std::sin(s.node), cos_node = std::cos(s.node);
    const double sin_i = std::sin(s.inclination), cos_i = std::cos(s.inclination);
    const double mx = -sin_node * cos_i, my = cos_node * cos_i;
    const Vec3 along{mx * sin_u + cos_node * cos_u, my * sin_u + sin_node * cos_u, sin_i * sin_u};
    const Vec3 across{mx * cos_u - cos_node * sin_u, my * cos_u - sin_node * sin_u, sin_i * cos_u};
    const double radius_km = s.radius * g.radius_km;
    const double km_per_s = g.radius_km * g.xke_per_minute / 60.0;
    const Sgp4State state{Sgp4Error::kNone,
                          {radius_km * along.x, radius_km * along.y, radius_km * along.z},
                          {(s.radial_rate * along.x + s.transverse_rate * across.x) * km_per_s,
                           (s.radial_rate * along.y + s.transverse_rate * across.y) * km_per_s,
                           (s.radial_rate * along.z + s.transverse_rate * across.z) * km_per_s}};
    if (!IsFinite(state.position_km) || !IsFinite(state.velocity_km_per_s))
        return Failed(Sgp4Error::kDecayed);
    return state;
}

}  // namespace

const char* Sgp4ErrorText(Sgp4Error error) {
    switch (error) {
        case Sgp4Error::kNone:
            return "no error";
        case Sgp4Error::kMeanEccentricity:
            return "the mean eccentricity is outside 0..1";
        case Sgp4Error::kMeanMotion:
            return "the mean motion is not above 0";
        case Sgp4Error::kPerturbedEccentricity:
            return "the perturbed eccentricity is outside 0..1";
        case Sgp4Error::kSemiLatusRectum:
            return "the semi-latus rectum is below 0";
        case Sgp4Error::kDecayed:
            return "the satellite has decayed";
        case Sgp4Error::kTimeOutOfRange:
            return "the time is too far from the elements' epoch";
    }
    return "unknown error";
}

Sgp4Propagator::Sgp4Propagator(const ElementSet& set, GravityModel gravity, OperationMode mode)
    : epoch_(set.epoch),
      mode_(mode),
      gravity_(GravityOf(gravity)),
      bstar_(set.bstar_per_earth_radius) {
    epoch_elements_ = {set.inclination_deg * kRadiansPerDegree,
                       set.right_ascension_deg * kRadiansPerDegree,
                       set.eccentricity,
                       set.argument_of_perigee_deg * kRadiansPerDegree,
                       set.mean_anomaly_deg * kRadiansPerDegree,
                       set.mean_motion_rev_per_day / kMinutesPerDayPerRadian};
    const EpochOrbit orbit = RecoverEpochOrbit(gravity_, epoch_elements_);
    epoch_elements_.mean_motion = orbit.mean_motion;
    const double epoch_days = ModelEpochDays(set.epoch);
    deep_space_ = kTwoPi / orbit.mean_motion >= kDeepSpacePeriodMinutes;
    near_ = NearEarthTermsFor(gravity_, epoch_elements_, bstar_, orbit, deep_space_);
    deep_ = {};
    if (!deep_space_) return;
    deep_.sidereal_time_at_epoch = mode == OperationMode::kAfspc
                                       ? SiderealTimeAfspc(epoch_days)
                                       : GmstRadians({epoch_days + kJulianDate1950, 0.0});
    AddLunarSolarTerms(epoch_days, epoch_elements_, orbit.mean_motion, &deep_);
    AddResonance(gravity_, epoch_elements_, orbit.mean_motion, near_, &deep_);
}

double Sgp4Propagator::MinutesSinceEpoch(JulianDate utc) const {
    return (utc.day - epoch_.day) * kMinutesPerDay +
           (utc.fraction - epoch_.fraction) * kMinutesPerDay;
}

Sgp4State Sgp4Propagator::PropagateTo(JulianDate utc) const {
    return Propagate(MinutesSinceEpoch(utc));
}

Sgp4State Sgp4Propagator::Propagate(double minutes_since_epoch) const {
    const double t = minutes_since_epoch;
    if (!(std::fabs(t) <= kMaxYearsFromEpoch * kMinutesPerYear))
        return Failed(Sgp4Error::kTimeOutOfRange);
    MeanState m = SecularState(near_, epoch_elements_, bstar_, t);
    if (deep_space_) AddDeepSpaceSecular(deep_, near_, epoch_elements_, t, &m);
    if (!(m.mean_motion > 0.0)) return Failed(Sgp4Error::kMeanMotion);
    const double a =
        std::pow(gravity_.xke_per_minute / m.mean_motion, kTwoThirds) * m.drag_a * m.drag_a;
    const double n = gravity_.xke_per_minute / std::pow(a, 1.5);
    double eccentricity = m.eccentricity - m.drag_e;
    if (!(eccentricity < 1.0 && eccentricity >= -0.001))
        return Failed(Sgp4Error::kMeanEccentricity);
    if (eccentricity < 1.0e-6) eccentricity = 1.0e-6;
    const double mean_anomaly = m.mean_anomaly + epoch_elements_.mean_motion * m.drag_l;
    const double longitude = mean_anomaly + m.perigee + m.node;
    Orbit o{eccentricity, m.inclination, std::fmod(m.node, kTwoPi), WrapTwoPi(m.perigee), 0.0};
    o.mean_anomaly = WrapTwoPi(WrapTwoPi(longitude) - o.perigee - o.node);

    InclinationTerms c = near_.at_epoch;
    if (deep_space_) {
        AddLunarSolarPeriodics(deep_, mode_, t, &o);
        if (o.inclination < 0.0) {
            o.inclination = -o.inclination;
            o.node = o.node + kPi;
            o.perigee = o.perigee - kPi;
        }
        if (!(o.eccentricity >= 0.0 && o.eccentricity <= 1.0))
            return Failed(Sgp4Error::kPerturbedEccentricity);
        c = InclinationTermsAt(gravity_, o.inclination);
    }
    const Osculating osculating = ShortPeriodic(gravity_, c, o, a, n, SolvePlanePosition(c, o, a));
    if (osculating.error != Sgp4Error::kNone) return Failed(osculating.error);
    return TemeState(gravity_, osculating);
}

}  // namespace predict
