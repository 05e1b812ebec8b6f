// SGP4 and its deep-space extension SDP4: the model NORAD's element sets are made for. Written
// from Hoots & Roehrich, Spacetrack Report No. 3 (1980): section 6 (SGP4), sections 7 and 10
// (SDP4 and its deep-space terms), with the corrections of Vallado, Crawford, Hujsak & Kelso,
// "Revisiting Spacetrack Report #3", AIAA 2006-6753 (2006): both operation modes, three gravity
// models, the Lyddane choice, the integrator restart and the error codes.
//
// Positions and velocities are in TEME, the frame of the element sets (true equator, mean
// equinox of date). Making the model does all the work that depends only on the element set;
// Propagate is then a const call without allocation, safe from several threads. The
// deep-space resonance integrator restarts from the epoch at every call (as python-sgp4 does),
// so an answer does not depend on the calls before it; its cost grows with the time from epoch.
#pragma once

#include "predict/elements.h"
#include "predict/time.h"
#include "predict/vector.h"

namespace predict {

enum class GravityModel { kWgs72Old, kWgs72, kWgs84 };

// kAfspc ('a'): the sidereal time at epoch and the node of the Lyddane choice as AFSPC's code
// computes them; kImproved ('i'): the 2006 revision's.
enum class OperationMode { kAfspc, kImproved };

// The 2006 revision's error codes (it no longer raises 5, "epoch elements are sub-orbital": its
// decay test covers it), and one for times the propagator does not take.
enum class Sgp4Error {
    kNone = 0,
    kMeanEccentricity = 1,       // mean eccentricity not within -0.001..1
    kMeanMotion = 2,             // mean motion not above 0
    kPerturbedEccentricity = 3,  // eccentricity with the lunar-solar terms not within 0..1
    kSemiLatusRectum = 4,        // semi-latus rectum below 0
    kDecayed = 6,                // below the Earth's surface, or no finite position at all
    kTimeOutOfRange = 7,         // more than kMaxYearsFromEpoch from the epoch, or not a number
};

// Beyond a century element sets mean nothing, and the deep-space integrator's work grows with
// the time from epoch (one step per 720 minutes).
constexpr double kMaxYearsFromEpoch = 100.0;

const char* Sgp4ErrorText(Sgp4Error error);

struct Sgp4State {
    Sgp4Error error;
    Vec3 position_km;        // TEME; zero on an error
    Vec3 velocity_km_per_s;  // TEME; zero on an error
};

class Sgp4Propagator {
public:
    explicit Sgp4Propagator(const ElementSet& set, GravityModel gravity = GravityModel::kWgs72,
                            OperationMode mode = OperationMode::kImproved);

    Sgp4State Propagate(double minutes_since_epoch) const;
    Sgp4State PropagateTo(JulianDate utc) const;
    // From the two parts separately, as the reference code does, for full precision.
    double MinutesSinceEpoch(JulianDate utc) const;

    JulianDate epoch() const { return epoch_; }
    // Period of 225 minutes or more: SDP4's lunar-solar terms apply.
    bool deep_space() const { return deep_space_; }

    struct Gravity {
        double radius_km, xke_per_minute, j2, j3_over_j2, j4;
    };
    // Mean elements in radians and radians per minute.
    struct Elements {
        double inclination, node, eccentricity, argument_of_perigee, mean_anomaly, mean_motion;
    };
    // The J3 long-period and J2 short-period coefficients at one inclination.
    struct InclinationTerms {
        double sin_i, cos_i;
        double long_period_l, long_period_ay;                 // xlcof, aycof
        double three_cos2_minus_1, sin2, seven_cos2_minus_1;  // con41, x1mth2, x7thm1
    };
    // Secular gravity and drag of SGP4 (Spacetrack Report No. 3, section 6), and the
    // periodic terms' coefficients at the epoch's inclination.
    struct NearEarthTerms {
        bool simplified_drag;  // perigee below 220 km: the drag series stops at t^2
        double eta, c1, c4, c5, d2, d3, d4;
        double mean_anomaly_rate, perigee_rate, node_rate, node_drag;
        double perigee_drag, mean_anomaly_drag, eta_cos_m0_cubed, sin_m0;
        double longitude_t2, longitude_t3, longitude_t4, longitude_t5;
        InclinationTerms at_epoch;
    };
    // The periodic terms one third body (the Sun or the Moon) adds (section 10, DPPER).
    struct ThirdBodyPeriodics {
        double e2, e3, i2, i3, l2, l3, l4, gh2, gh3, gh4, h2, h3;
        double mean_anomaly_at_epoch;
    };
    // The lunar-solar secular rates and the geopotential resonance of 12 and 24 hour orbits
    // (section 10, DSINIT and DSPACE).
    struct DeepSpaceTerms {
        ThirdBodyPeriodics sun, moon;
        double eccentricity_rate, inclination_rate, mean_anomaly_rate, perigee_rate, node_rate;
        int resonance;  // 0 none, 1 one day, 2 half a day
        double sidereal_time_at_epoch;
        double d2201, d2211, d3210, d3222, d4410, d4422, d5220, d5232, d5421, d5433;
        double del1, del2, del3;
        double longitude_at_epoch, longitude_rate_offset;  // xlamo and xfact
    };

private:
    JulianDate epoch_;
    OperationMode mode_;
    Gravity gravity_;
    Elements epoch_elements_;  // mean motion un-Kozai'd (Brouwer's)
    double bstar_;
    bool deep_space_;
    NearEarthTerms near_;
    DeepSpaceTerms deep_;
};

}  // namespace predict
