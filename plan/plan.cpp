#include "plan/plan.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace plan {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kNoCenter = std::numeric_limits<double>::quiet_NaN();
// Bisection of the path speed ends when the bracket is this narrow (degrees per second).
constexpr double kSpeedResolution = 1e-3;
// Plans whose speeds differ by less than this count as equally fast.
constexpr double kSameSpeedDegPerS = 0.05;

double Radians(double degrees) {
    return degrees * kPi / 180.0;
}

double Degrees(double radians) {
    return radians * 180.0 / kPi;
}

// Near the zenith every azimuth points within the allowed deviation.
bool NearZenith(double elevation_deg) {
    return elevation_deg >= 90.0 - kAllowedDeviationDeg;
}

// Half the width of the azimuths around az (or az + 180) that point within the allowed
// deviation of a target at this elevation: |sin(az - A)| cos el <= sin(deviation).
double BandHalfWidthDeg(double elevation_deg) {
    const double ratio = std::sin(Radians(kAllowedDeviationDeg)) / std::cos(Radians(elevation_deg));
    return ratio >= 1.0 ? 90.0 : Degrees(std::asin(ratio));
}

// A run of seconds away from the zenith, with the target's azimuth unwrapped (each sample
// within 180 of the one before), the first in 0..360.
struct Segment {
    size_t begin;
    size_t end;
    std::vector<double> azimuth_deg;
};

std::vector<Segment> SegmentsAwayFromZenith(const std::vector<SkyDirection>& track) {
    std::vector<Segment> segments;
    for (size_t i = 0; i < track.size(); ++i) {
        if (NearZenith(track[i].elevation_deg)) continue;
        const bool continues = !segments.empty() && segments.back().end == i;
        if (!continues) segments.push_back({i, i, {}});
        Segment& s = segments.back();
        double az = std::fmod(track[i].azimuth_deg, 360.0);
        if (az < 0) az += 360.0;
        if (!s.azimuth_deg.empty()) {
            az += 360.0 * std::round((s.azimuth_deg.back() - az) / 360.0);
        }
        s.azimuth_deg.push_back(az);
        s.end = i + 1;
    }
    return segments;
}

// Within a segment the path keeps near azimuth + 180 * sheet: even sheets as predicted (shifted
// by whole turns), odd ones over the top.
struct Corridor {
    std::vector<double> low;
    std::vector<double> high;
    std::vector<double> center;  // kNoCenter near the zenith: any azimuth will do
    size_t out_of_reach = 0;
};

class CorridorBuilder {
public:
    CorridorBuilder(const std::vector<SkyDirection>& track, const RotatorLimits& limits)
        : track_(track), limits_(limits) {
        corridor_.low.assign(track.size(), limits.min_azimuth_deg);
        corridor_.high.assign(track.size(), limits.max_azimuth_deg);
        corridor_.center.assign(track.size(), kNoCenter);
    }

    // Seconds of the segment that the sheet cannot reach; nothing is changed.
    size_t OutOfReach(const Segment& segment, int sheet) const {
        size_t count = 0;
        for (size_t i = segment.begin; i < segment.end; ++i) count += !Reachable(segment, sheet, i);
        return count;
    }

    void Add(const Segment& segment, int sheet) {
        for (size_t i = segment.begin; i < segment.end; ++i) {
            const double center = Center(segment, sheet, i);
            const double width = BandHalfWidthDeg(track_[i].elevation_deg);
            double low = std::max(center - width, limits_.min_azimuth_deg);
            double high = std::min(center + width, limits_.max_azimuth_deg);
            if (!Reachable(segment, sheet, i)) ++corridor_.out_of_reach;
            // Out of the range: the nearest end of it.
            if (low > high) low = high = center < limits_.min_azimuth_deg ? low : high;
            corridor_.low[i] = low;
            corridor_.high[i] = high;
            corridor_.center[i] = std::clamp(center, low, high);
        }
    }

    const Corridor& Result() const { return corridor_; }

private:
    static double Center(const Segment& segment, int sheet, size_t i) {
        return segment.azimuth_deg[i - segment.begin] + 180.0 * sheet;
    }

    bool Reachable(const Segment& segment, int sheet, size_t i) const {
        const double center = Center(segment, sheet, i);
        const double width = BandHalfWidthDeg(track_[i].elevation_deg);
        const double el = track_[i].elevation_deg;
        const double axis_el = sheet % 2 == 0 ? el : 180.0 - el;
        return center + width >= limits_.min_azimuth_deg &&
               center - width <= limits_.max_azimuth_deg &&
               axis_el >= limits_.min_elevation_deg - kAllowedDeviationDeg &&
               axis_el <= limits_.max_elevation_deg + kAllowedDeviationDeg;
    }

    const std::vector<SkyDirection>& track_;
    const RotatorLimits& limits_;
    Corridor corridor_;
};

// The sheets whose band can meet the azimuth range somewhere in the segment.
std::vector<int> CandidateSheets(const Segment& segment, const RotatorLimits& limits) {
    const auto [lowest, highest] =
        std::minmax_element(segment.azimuth_deg.begin(), segment.azimuth_deg.end());
    const int first = static_cast<int>(std::floor((limits.min_azimuth_deg - *highest) / 180.0));
    const int last = static_cast<int>(std::ceil((limits.max_azimuth_deg - *lowest) / 180.0));
    std::vector<int> sheets;
    for (int sheet = first; sheet <= last; ++sheet) sheets.push_back(sheet);
    return sheets;
}

struct Interval {
    double low;
    double high;
};

// The azimuths reachable at each second from some start in the first band, turning at most
// `speed` degrees a second; nothing when the corridor cannot be followed that slowly.
std::optional<std::vector<Interval>> Reachable(const Corridor& corridor, double speed) {
    std::vector<Interval> reach(corridor.low.size());
    reach[0] = {corridor.low[0], corridor.high[0]};
    for (size_t i = 1; i < reach.size(); ++i) {
        reach[i] = {std::max(reach[i - 1].low - speed, corridor.low[i]),
                    std::min(reach[i - 1].high + speed, corridor.high[i])};
        if (reach[i].low > reach[i].high) return std::nullopt;
    }
    return reach;
}

double LowestSpeed(const Corridor& corridor, const RotatorLimits& limits) {
    // Any path is possible at one whole azimuth range a second (every band is non-empty).
    double slow = 0;
    double fast = limits.max_azimuth_deg - limits.min_azimuth_deg;
    if (Reachable(corridor, slow)) return slow;
    while (fast - slow > kSpeedResolution) {
        const double middle = (slow + fast) / 2;
        (Reachable(corridor, middle) ? fast : slow) = middle;
    }
    return fast;
}

// Walks back from the end, each second as near the target's azimuth as the speed and the
// azimuths reachable from the start allow; near the zenith it stays where it is.
std::vector<double> AzimuthPath(const Corridor& corridor, double speed, double preferred_start) {
    const std::vector<Interval> reach = *Reachable(corridor, speed);
    std::vector<double> path(reach.size());
    size_t i = reach.size() - 1;
    double want = std::isnan(corridor.center[i]) ? preferred_start : corridor.center[i];
    path[i] = std::clamp(want, reach[i].low, reach[i].high);
    while (i-- > 0) {
        want = std::isnan(corridor.center[i]) ? path[i + 1] : corridor.center[i];
        const double low = std::max(reach[i].low, path[i + 1] - speed);
        const double high = std::min(reach[i].high, path[i + 1] + speed);
        path[i] = std::clamp(want, low, high);
    }
    return path;
}

double AxisElevationDeg(const SkyDirection& target, double azimuth_deg,
                        const RotatorLimits& limits) {
    // A target a hair below the horizon (at its rise) counts as on it.
    const double el = Radians(std::max(target.elevation_deg, 0.0));
    const double off = Radians(target.azimuth_deg - azimuth_deg);
    const double axis = Degrees(std::atan2(std::sin(el), std::cos(el) * std::cos(off)));
    return std::clamp(axis, limits.min_elevation_deg, limits.max_elevation_deg);
}

double FastestStep(const std::vector<AxisAngles>& angles, double AxisAngles::*axis) {
    double fastest = 0;
    for (size_t i = 1; i < angles.size(); ++i)
        fastest = std::max(fastest, std::fabs(angles[i].*axis - angles[i - 1].*axis));
    return fastest;
}

PlanKind KindOf(const std::vector<int>& sheets) {
    const auto odd = std::count_if(sheets.begin(), sheets.end(), [](int s) { return s % 2 != 0; });
    if (odd == 0) return PlanKind::kAsPredicted;
    return static_cast<size_t>(odd) == sheets.size() ? PlanKind::kOverTheTop
                                                     : PlanKind::kSwitchAtTheZenith;
}

struct Candidate {
    PassPlan plan;
    size_t over_the_top_segments = 0;
    double start_distance_deg = 0;
};

Candidate MakeCandidate(const std::vector<SkyDirection>& track, const RotatorLimits& limits,
                        const Corridor& corridor, const std::vector<int>& sheets,
                        double preferred_start) {
    Candidate c;
    const double speed = LowestSpeed(corridor, limits);
    const std::vector<double> azimuths = AzimuthPath(corridor, speed, preferred_start);
    c.plan.kind = KindOf(sheets);
    for (size_t i = 0; i < track.size(); ++i)
        c.plan.angles.push_back({azimuths[i], AxisElevationDeg(track[i], azimuths[i], limits)});
    c.plan.azimuth_speed_deg_per_s = FastestStep(c.plan.angles, &AxisAngles::azimuth_deg);
    c.plan.elevation_speed_deg_per_s = FastestStep(c.plan.angles, &AxisAngles::elevation_deg);
    c.plan.seconds_out_of_reach = corridor.out_of_reach;
    c.over_the_top_segments =
        std::count_if(sheets.begin(), sheets.end(), [](int s) { return s % 2 != 0; });
    c.start_distance_deg = std::fabs(azimuths[0] - preferred_start);
    return c;
}

// Fewest seconds out of reach, then the lowest speed, then as predicted rather than over the
// top, then the start nearest to the antenna.
bool Better(const Candidate& a, const Candidate& b) {
    if (a.plan.seconds_out_of_reach != b.plan.seconds_out_of_reach)
        return a.plan.seconds_out_of_reach < b.plan.seconds_out_of_reach;
    const double speed_a = a.plan.azimuth_speed_deg_per_s;
    const double speed_b = b.plan.azimuth_speed_deg_per_s;
    if (std::fabs(speed_a - speed_b) >= kSameSpeedDegPerS) return speed_a < speed_b;
    if (a.over_the_top_segments != b.over_the_top_segments)
        return a.over_the_top_segments < b.over_the_top_segments;
    return a.start_distance_deg < b.start_distance_deg;
}

// The later segments' sheets follow the first: each the one in reach for the most seconds,
// then the one that starts nearest to where the previous segment ended.
std::vector<int> FollowingSheets(const std::vector<Segment>& segments, int first_sheet,
                                 const CorridorBuilder& builder, const RotatorLimits& limits) {
    std::vector<int> sheets{first_sheet};
    for (size_t s = 1; s < segments.size(); ++s) {
        const double previous_end = segments[s - 1].azimuth_deg.back() + 180.0 * sheets.back();
        const double start = segments[s].azimuth_deg.front();
        int best = 0;
        std::optional<std::pair<size_t, double>> best_score;
        for (int sheet : CandidateSheets(segments[s], limits)) {
            const std::pair<size_t, double> score{builder.OutOfReach(segments[s], sheet),
                                                  std::fabs(start + 180.0 * sheet - previous_end)};
            if (!best_score || score < *best_score) {
                best_score = score;
                best = sheet;
            }
        }
        sheets.push_back(best);
    }
    return sheets;
}

}  // namespace

const char* PlanKindText(PlanKind kind) {
    switch (kind) {
        case PlanKind::kAsPredicted:
            return "as predicted";
        case PlanKind::kOverTheTop:
            return "over the top";
        case PlanKind::kSwitchAtTheZenith:
            return "switching at the zenith";
    }
    return "";
}

AxisAngles PassPlan::At(double seconds) const {
    if (!(seconds > 0)) return angles.front();
    const size_t before = static_cast<size_t>(seconds);
    if (before + 1 >= angles.size()) return angles.back();
    const double f = seconds - static_cast<double>(before);
    const AxisAngles& a = angles[before];
    const AxisAngles& b = angles[before + 1];
    return {a.azimuth_deg + f * (b.azimuth_deg - a.azimuth_deg),
            a.elevation_deg + f * (b.elevation_deg - a.elevation_deg)};
}

PassPlan PlanPass(const std::vector<SkyDirection>& track, const RotatorLimits& limits,
                  double preferred_start_azimuth_deg) {
    const std::vector<Segment> segments = SegmentsAwayFromZenith(track);
    if (segments.empty()) {
        // Near the zenith all along: any azimuth, so the antenna's own.
        return MakeCandidate(track, limits, CorridorBuilder(track, limits).Result(), {},
                             preferred_start_azimuth_deg)
            .plan;
    }
    std::optional<Candidate> best;
    for (int first : CandidateSheets(segments.front(), limits)) {
        CorridorBuilder builder(track, limits);
        const std::vector<int> sheets = FollowingSheets(segments, first, builder, limits);
        for (size_t s = 0; s < segments.size(); ++s) builder.Add(segments[s], sheets[s]);
        Candidate c =
            MakeCandidate(track, limits, builder.Result(), sheets, preferred_start_azimuth_deg);
        if (!best || Better(c, *best)) best = std::move(c);
    }
    return best->plan;
}

double PointingErrorDeg(const AxisAngles& axes, const SkyDirection& target) {
    const double a1 = Radians(axes.azimuth_deg);
    const double e1 = Radians(axes.elevation_deg);
    const double a2 = Radians(target.azimuth_deg);
    const double e2 = Radians(target.elevation_deg);
    const double cosine =
        std::sin(e1) * std::sin(e2) + std::cos(e1) * std::cos(e2) * std::cos(a1 - a2);
    return Degrees(std::acos(std::clamp(cosine, -1.0, 1.0)));
}

}  // namespace plan
