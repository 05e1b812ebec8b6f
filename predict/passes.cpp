#include "predict/passes.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "predict/earth.h"
#include "predict/sgp4.h"
#include "predict/sun_moon.h"

namespace predict {

namespace {

constexpr double kRootToleranceSeconds = 1e-3;
constexpr double kPeakToleranceSeconds = 1e-2;
constexpr int kMaxRefineLooks = 100;  // far beyond what either method needs on smooth angles
// Looks that fail inside a refinement count as far below the horizon.
constexpr double kLostElevationDeg = -90.0;

struct Sample {
    double t;  // seconds since the window's start
    double elevation_deg;
    double height_km;  // above the horizon plane
    double height_rate_km_per_s;
};

class Scan {
public:
    Scan(const PassTarget& target, JulianDate start) : target_(target), start_(start) {}

    JulianDate TimeAt(double t) const { return AddSeconds(start_, t); }

    std::optional<Sample> At(double t) const {
        const std::optional<LookAngles> look = target_.look(TimeAt(t));
        if (!look) return std::nullopt;
        const double elevation = look->elevation_deg * kRadiansPerDegree;
        const double height = look->range_km * std::sin(elevation);
        const double heightRate = look->range_rate_km_per_s * std::sin(elevation) +
                                  look->range_km * std::cos(elevation) *
                                      look->elevation_rate_deg_per_s * kRadiansPerDegree;
        if (!std::isfinite(height) || !std::isfinite(heightRate)) return std::nullopt;
        return Sample{t, look->elevation_deg, height, heightRate};
    }

    double ElevationAt(double t) const {
        const std::optional<Sample> sample = At(t);
        return sample ? sample->elevation_deg : kLostElevationDeg;
    }

    // The longest step from `sample` that cannot skip a horizon crossing (see passes.h).
    double StepFrom(const Sample& sample) const {
        const MotionBound& bound = target_.bound;
        // Without a speed bound nothing bounds the step: walk at the smallest.
        if (!(bound.speed_km_per_s > 0.0)) return kMinStepSeconds;
        const double height = std::fabs(sample.height_km);
        const double closing =
            sample.height_km > 0.0 ? -sample.height_rate_km_per_s : sample.height_rate_km_per_s;
        double step = height / bound.speed_km_per_s;
        if (bound.acceleration_km_per_s2 > 0.0) {
            // The root of |h| - closing t - a t^2 / 2, in the form that does not cancel.
            const double a = bound.acceleration_km_per_s2;
            const double root = std::sqrt(closing * closing + 2.0 * a * height);
            step = std::max(step,
                            closing > 0.0 ? 2.0 * height / (closing + root) : (root - closing) / a);
        }
        return step > kMinStepSeconds ? step : kMinStepSeconds;  // NaN too
    }

    // The horizon crossing between two samples on either side of it (Illinois regula falsi).
    double Crossing(Sample a, Sample b) const {
        double fa = a.elevation_deg, fb = b.elevation_deg;
        double lo = a.t, hi = b.t;
        int kept = 0;  // which end stayed last time: -1 lo, +1 hi
        for (int i = 0; i < kMaxRefineLooks && hi - lo > kRootToleranceSeconds; ++i) {
            double t = (lo * fb - hi * fa) / (fb - fa);
            if (!(t > lo && t < hi)) t = 0.5 * (lo + hi);
            const double f = ElevationAt(t);
            if ((f > 0.0) == (fb > 0.0)) {
                hi = t;
                fb = f;
                if (kept == -1) fa *= 0.5;
                kept = -1;
            } else {
                lo = t;
                fa = f;
                if (kept == 1) fb *= 0.5;
                kept = 1;
            }
        }
        return 0.5 * (lo + hi);
    }

    // The highest point in [lo, hi], starting from `guess` (Brent, Algorithms for Minimization
    // without Derivatives, 1973, ch. 5, localmin, on minus the elevation).
    Sample Peak(double lo, double hi, Sample guess) const {
        const double golden = 0.5 * (3.0 - std::sqrt(5.0));
        double x = guess.t, w = x, v = x;
        double fx = -guess.elevation_deg, fw = fx, fv = fx;
        double d = 0.0, e = 0.0;
        for (int i = 0; i < kMaxRefineLooks; ++i) {
            const double middle = 0.5 * (lo + hi);
            const double tol = kPeakToleranceSeconds, tol2 = 2.0 * tol;
            if (std::fabs(x - middle) <= tol2 - 0.5 * (hi - lo)) break;
            double p = 0.0, q = 0.0, r = 0.0;
            if (std::fabs(e) > tol) {
                r = (x - w) * (fx - fv);
                q = (x - v) * (fx - fw);
                p = (x - v) * q - (x - w) * r;
                q = 2.0 * (q - r);
                if (q > 0.0) p = -p;
                q = std::fabs(q);
                r = e;
                e = d;
            }
            if (std::fabs(p) < std::fabs(0.5 * q * r) && p > q * (lo - x) && p < q * (hi - x)) {
                d = p / q;  // parabolic step
                const double u = x + d;
                if (u - lo < tol2 || hi - u < tol2) d = x < middle ? tol : -tol;
            } else {
                e = (x < middle ? hi : lo) - x;  // golden section step
                d = golden * e;
            }
            const double u = x + (std::fabs(d) >= tol ? d : (d > 0.0 ? tol : -tol));
            const double fu = -ElevationAt(u);
            if (fu <= fx) {
                (u < x ? hi : lo) = x;
                v = w, fv = fw, w = x, fw = fx, x = u, fx = fu;
            } else {
                (u < x ? lo : hi) = u;
                if (fu <= fw || w == x) {
                    v = w, fv = fw, w = u, fw = fu;
                } else if (fu <= fv || v == x || v == w) {
                    v = u, fv = fu;
                }
            }
        }
        return {x, -fx, 0.0, 0.0};
    }

private:
    const PassTarget& target_;
    JulianDate start_;
};

// A pass being walked: where it began, its highest point so far and its last two samples, from
// which a peak between samples shows.
class OpenPass {
public:
    OpenPass(const Scan& scan, Sample first, bool cut_at_start)
        : scan_(scan), rise_(first.t), cut_at_start_(cut_at_start), best_(first), last_(first) {}

    void Add(const Sample& next) {
        // A sample at the window's start is not a rise: the peak may lie just after it.
        const bool peakBeforeNext =
            before_ ? before_->elevation_deg <= last_.elevation_deg : cut_at_start_;
        if (peakBeforeNext && last_.elevation_deg > next.elevation_deg)
            Consider(scan_.Peak(before_ ? before_->t : last_.t, next.t, last_));
        Consider(next);
        before_ = last_;
        last_ = next;
    }

    // The pass ends at `t`: at a set, or (cut) at the window's end or where the target was lost.
    Pass Close(double t, bool cut_at_end) {
        // Still rising at a cut end: the peak may lie between the last two samples.
        if (cut_at_end && before_ && before_->elevation_deg <= last_.elevation_deg)
            Consider(scan_.Peak(before_->t, last_.t, last_));
        return {scan_.TimeAt(rise_), scan_.TimeAt(best_.t), scan_.TimeAt(t),
                best_.elevation_deg, cut_at_start_,         cut_at_end};
    }

private:
    void Consider(const Sample& sample) {
        if (sample.elevation_deg > best_.elevation_deg) best_ = sample;
    }

    const Scan& scan_;
    double rise_;
    bool cut_at_start_;
    Sample best_;
    std::optional<Sample> before_;
    Sample last_;
};

// The Earth's gravity constant of WGS-72, as SGP4 uses it (Hoots & Roehrich 1980).
constexpr double kWgs72GravityKm3PerS2 = 398600.8;
// The mean orbit's speed and gravity against the osculating ones of SGP4 (J2, drag, deep-space
// terms), which differ by well under a percent.
constexpr double kSatelliteMargin = 1.1;
constexpr double kMaxEccentricity = 0.99;
// The Sun's and Moon's farthest and their own motion: the Earth's orbital speed at perihelion,
// the Moon's at perigee.
constexpr double kSunMaxDistanceKm = 1.0168 * kKmPerAu;
constexpr double kSunOwnSpeedKmPerS = 30.3;
constexpr double kMoonMaxDistanceKm = 406720.0;
constexpr double kMoonOwnSpeedKmPerS = 1.1;

// A body far out: in the turning axes it moves at the ground's speed at its distance and its
// own, and accelerates by the centrifugal and Coriolis terms (its own acceleration is tiny).
PassTarget BodyTarget(LookAngles (*look)(const StationView&, JulianDate), const StationView& view,
                      double max_distance_km, double own_speed_km_per_s) {
    const double w = kEarthRotationRadiansPerSecond;
    return {[look, view](JulianDate utc) -> std::optional<LookAngles> { return look(view, utc); },
            {w * max_distance_km + own_speed_km_per_s,
             kSatelliteMargin * (w * w * max_distance_km + 2.0 * w * own_speed_km_per_s)}};
}

}  // namespace

PassSearch FindPasses(const PassTarget& target, JulianDate start, JulianDate end) {
    PassSearch result;
    const double span = SecondsBetween(start, end);
    if (!(span > 0.0)) return result;
    const Scan scan(target, start);
    std::optional<Sample> previous = scan.At(0.0);
    if (!previous) {
        result.lost_at = start;
        return result;
    }
    std::optional<OpenPass> open;
    if (previous->elevation_deg > 0.0) open.emplace(scan, *previous, true);
    while (previous->t < span) {
        const double t = std::min(previous->t + scan.StepFrom(*previous), span);
        const std::optional<Sample> next = scan.At(t);
        if (!next) {
            result.lost_at = scan.TimeAt(t);
            if (open) result.passes.push_back(open->Close(previous->t, true));
            return result;
        }
        const bool up = next->elevation_deg > 0.0;
        if (!open && up) {
            open.emplace(scan, Sample{scan.Crossing(*previous, *next), 0.0, 0.0, 0.0}, false);
            open->Add(*next);
        } else if (open && up) {
            open->Add(*next);
        } else if (open) {
            const double set = scan.Crossing(*previous, *next);
            open->Add({set, 0.0, 0.0, 0.0});
            result.passes.push_back(open->Close(set, false));
            open.reset();
        }
        previous = next;
    }
    if (open) result.passes.push_back(open->Close(span, true));
    return result;
}

MotionBound SatelliteMotionBound(double mean_motion_rev_per_day, double eccentricity) {
    const double w = kEarthRotationRadiansPerSecond;
    const double meanMotion = mean_motion_rev_per_day * kTwoPi / kSecondsPerDay;
    const double e = std::clamp(eccentricity, 0.0, kMaxEccentricity);
    const double semiMajorAxisKm = std::cbrt(kWgs72GravityKm3PerS2 / (meanMotion * meanMotion));
    const double perigeeKm = semiMajorAxisKm * (1.0 - e), apogeeKm = semiMajorAxisKm * (1.0 + e);
    const double perigeeSpeed =
        std::sqrt(kWgs72GravityKm3PerS2 / semiMajorAxisKm * (1.0 + e) / (1.0 - e));  // vis-viva
    const double speed = perigeeSpeed + w * apogeeKm;
    const double acceleration =
        kWgs72GravityKm3PerS2 / (perigeeKm * perigeeKm) + 2.0 * w * speed + w * w * apogeeKm;
    return {kSatelliteMargin * speed, kSatelliteMargin * acceleration};
}

PassTarget SatelliteTarget(const ElementSet& set, const StationView& view) {
    // Shared, since targets are copied and the model holds all its set-dependent terms.
    const auto model = std::make_shared<const Sgp4Propagator>(set);
    return {[model, view](JulianDate utc) -> std::optional<LookAngles> {
                const Sgp4State state = model->PropagateTo(utc);
                if (state.error != Sgp4Error::kNone) return std::nullopt;
                return view.Look(state.position_km, state.velocity_km_per_s, utc);
            },
            SatelliteMotionBound(set.mean_motion_rev_per_day, set.eccentricity)};
}

PassTarget SunTarget(const StationView& view) {
    return BodyTarget(LookAtSun, view, kSunMaxDistanceKm, kSunOwnSpeedKmPerS);
}

PassTarget MoonTarget(const StationView& view) {
    return BodyTarget(LookAtMoon, view, kMoonMaxDistanceKm, kMoonOwnSpeedKmPerS);
}

}  // namespace predict
