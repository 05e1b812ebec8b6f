// The station's view, the Sun and Moon and the pass search against Skyfield and PyEphem, from
// the answers sky_oracle.py wrote at build time (KELMA_SKY_ORACLE names its file).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "predict/earth.h"
#include "predict/elements.h"
#include "predict/observer.h"
#include "predict/passes.h"
#include "predict/sun_moon.h"
#include "predict/time.h"

namespace predict {
namespace {

constexpr double kViewToleranceDeg = 0.01;
constexpr double kSunToleranceDeg = 0.01;
constexpr double kMoonToleranceDeg = 0.02;
constexpr double kEventToleranceSeconds = 1.0;
constexpr int kMinViewSamples = 10000;

struct ViewSample {
    int station, satellite;
    JulianDate utc;
    Vec3 teme_km, teme_km_per_s;
    LookAngles expected;
};

struct BodySample {
    int station;
    JulianDate utc;
    double azimuth_deg, elevation_deg;
};

struct Event {
    int station, satellite, kind;  // kind: 0 rise, 1 culmination, 2 set
    JulianDate utc;
    double elevation_deg;
};

struct BodyEvent {
    std::string what;  // "sun_rise", "moon_set", ...
    int station;
    JulianDate utc;
};

struct Oracle {
    JulianDate window_start{};
    double pass_days = 0.0, body_pass_days = 0.0;
    std::vector<Station> stations;
    std::vector<std::string> element_lines;
    std::vector<ViewSample> views;
    std::map<std::string, std::vector<BodySample>> bodies;
    std::vector<Event> events;
    std::vector<BodyEvent> body_events;
};

Oracle ReadOracle() {
    Oracle oracle;
    std::ifstream file(KELMA_SKY_ORACLE);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream in(line);
        std::string kind;
        in >> kind;
        if (kind == "window") {
            in >> oracle.window_start.day >> oracle.window_start.fraction >> oracle.pass_days >>
                oracle.body_pass_days;
        } else if (kind == "station") {
            Station s{};
            in >> s.latitude_deg >> s.longitude_deg >> s.height_m;
            oracle.stations.push_back(s);
        } else if (kind == "tle") {
            oracle.element_lines.push_back(line.substr(4));
        } else if (kind == "view") {
            ViewSample v{};
            in >> v.station >> v.satellite >> v.utc.day >> v.utc.fraction >> v.teme_km.x >>
                v.teme_km.y >> v.teme_km.z >> v.teme_km_per_s.x >> v.teme_km_per_s.y >>
                v.teme_km_per_s.z >> v.expected.azimuth_deg >> v.expected.elevation_deg >>
                v.expected.range_km >> v.expected.range_rate_km_per_s >>
                v.expected.azimuth_rate_deg_per_s >> v.expected.elevation_rate_deg_per_s;
            oracle.views.push_back(v);
        } else if (kind == "sun" || kind == "moon") {
            BodySample b{};
            in >> b.station >> b.utc.day >> b.utc.fraction >> b.azimuth_deg >> b.elevation_deg;
            oracle.bodies[kind].push_back(b);
        } else if (kind == "event") {
            Event e{};
            in >> e.station >> e.satellite >> e.kind >> e.utc.day >> e.utc.fraction >>
                e.elevation_deg;
            oracle.events.push_back(e);
        } else {
            BodyEvent e{kind, 0, {}};
            in >> e.station >> e.utc.day >> e.utc.fraction;
            oracle.body_events.push_back(e);
        }
    }
    return oracle;
}

const Oracle& TheOracle() {
    static const Oracle oracle = ReadOracle();
    return oracle;
}

// The difference of two azimuths, -180..180.
double AzimuthDifference(double a, double b) {
    const double d = std::fmod(a - b + 540.0, 360.0) - 180.0;
    return d;
}

class SkyOracleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(TheOracle().stations.empty()) << "no answers in " KELMA_SKY_ORACLE;
    }
    const Oracle& oracle = TheOracle();
};

TEST_F(SkyOracleTest, LookAnglesMatchSkyfieldAtEveryStation) {
    ASSERT_GE(oracle.views.size(), static_cast<size_t>(kMinViewSamples));
    double worstAzimuth = 0.0, worstElevation = 0.0, worstRange = 0.0, worstRate = 0.0;
    double worstAngleRate = 0.0;  // deg/s, or relative where above 1 deg/s
    for (const ViewSample& v : oracle.views) {
        const StationView view(oracle.stations[v.station]);
        const LookAngles look = view.Look(v.teme_km, v.teme_km_per_s, v.utc);
        worstAzimuth = std::max(
            worstAzimuth, std::fabs(AzimuthDifference(look.azimuth_deg, v.expected.azimuth_deg)));
        worstElevation =
            std::max(worstElevation, std::fabs(look.elevation_deg - v.expected.elevation_deg));
        worstRange = std::max(worstRange, std::fabs(look.range_km - v.expected.range_km));
        worstRate = std::max(worstRate,
                             std::fabs(look.range_rate_km_per_s - v.expected.range_rate_km_per_s));
        for (const auto& [ours, theirs] :
             {std::pair(look.azimuth_rate_deg_per_s, v.expected.azimuth_rate_deg_per_s),
              std::pair(look.elevation_rate_deg_per_s, v.expected.elevation_rate_deg_per_s)}) {
            worstAngleRate = std::max(worstAngleRate,
                                      std::fabs(ours - theirs) / std::max(1.0, std::fabs(theirs)));
        }
        ASSERT_GE(look.azimuth_deg, 0.0);
        ASSERT_LT(look.azimuth_deg, 360.0);
    }
    printf(
        "view: %zu samples, worst azimuth %.2e deg, elevation %.2e deg, range %.2e km, "
        "range rate %.2e km/s, angle rates %.2e deg/s\n",
        oracle.views.size(), worstAzimuth, worstElevation, worstRange, worstRate, worstAngleRate);
    EXPECT_LT(worstAzimuth, kViewToleranceDeg);
    EXPECT_LT(worstElevation, kViewToleranceDeg);
    EXPECT_LT(worstRange, 1e-3);
    EXPECT_LT(worstRate, 1e-5);
    EXPECT_LT(worstAngleRate, 1e-6);
}

void ExpectBodyMatches(const Oracle& oracle, const char* name,
                       LookAngles (*look_at)(const StationView&, JulianDate), double tolerance) {
    const std::vector<BodySample>& samples = oracle.bodies.at(name);
    double worstAzimuth = 0.0, worstElevation = 0.0;
    for (const BodySample& b : samples) {
        const LookAngles look = look_at(StationView(oracle.stations[b.station]), b.utc);
        // The azimuth's error across the sky, which near the zenith is not its change.
        const double cosElevation = std::cos(b.elevation_deg * kRadiansPerDegree);
        worstAzimuth =
            std::max(worstAzimuth,
                     std::fabs(AzimuthDifference(look.azimuth_deg, b.azimuth_deg)) * cosElevation);
        worstElevation = std::max(worstElevation, std::fabs(look.elevation_deg - b.elevation_deg));
    }
    printf(
        "%s: %zu samples 1950..2100, worst azimuth x cos(elevation) %.2e deg, elevation "
        "%.2e deg\n",
        name, samples.size(), worstAzimuth, worstElevation);
    EXPECT_LT(worstAzimuth, tolerance);
    EXPECT_LT(worstElevation, tolerance);
}

TEST_F(SkyOracleTest, SunMatchesPyEphemFrom1950To2100) {
    ExpectBodyMatches(oracle, "sun", LookAtSun, kSunToleranceDeg);
}

TEST_F(SkyOracleTest, MoonMatchesPyEphemFrom1950To2100) {
    ExpectBodyMatches(oracle, "moon", LookAtMoon, kMoonToleranceDeg);
}

// Every rise (or set) of the oracle's kind at a station has one of ours within a second, and we
// find no others in the window.
void ExpectSameEvents(const std::vector<JulianDate>& ours, const std::vector<JulianDate>& theirs,
                      const std::string& what, double* worst_seconds) {
    EXPECT_EQ(ours.size(), theirs.size()) << what;
    for (const JulianDate& expected : theirs) {
        double nearest = 1e9;
        for (const JulianDate& found : ours)
            nearest = std::min(nearest, std::fabs(SecondsBetween(expected, found)));
        EXPECT_LT(nearest, kEventToleranceSeconds) << what << " at " << FormatUtc(expected);
        *worst_seconds = std::max(*worst_seconds, nearest);
    }
}

// Skyfield's rises and sets within a second, and its highest elevations within 0.01 deg, for
// each element set at each station: low orbits, a Molniya, one never seen from the pole and a
// geostationary one, up all the time or never.
TEST_F(SkyOracleTest, SatellitePassesMatchSkyfield) {
    std::string text;
    for (const std::string& line : oracle.element_lines) text += line + "\n";
    const ElementFile file = ParseElementFile(text);
    ASSERT_TRUE(file.problems.empty());
    const JulianDate end = AddSeconds(oracle.window_start, oracle.pass_days * kSecondsPerDay);
    double worstEvent = 0.0, worstElevation = 0.0;
    size_t events = 0, peaks = 0, neverUp = 0, alwaysUp = 0;
    for (size_t s = 0; s < oracle.stations.size(); ++s) {
        const StationView view(oracle.stations[s]);
        for (size_t k = 0; k < file.sets.size(); ++k) {
            const PassSearch search =
                FindPasses(SatelliteTarget(file.sets[k], view), oracle.window_start, end);
            EXPECT_FALSE(search.lost_at);
            std::vector<JulianDate> rises, sets, expected[3];
            std::vector<double> expectedPeak;
            for (const Pass& pass : search.passes) {
                if (!pass.cut_at_start) rises.push_back(pass.rise);
                if (!pass.cut_at_end) sets.push_back(pass.set);
            }
            for (const Event& e : oracle.events) {
                if (e.station != static_cast<int>(s) || e.satellite != static_cast<int>(k))
                    continue;
                expected[e.kind].push_back(e.utc);
                if (e.kind == 1) expectedPeak.push_back(e.elevation_deg);
            }
            const std::string where = file.sets[k].name + " at station " + std::to_string(s);
            // Never seen, or (the geostationary set) up all along: culminations only.
            if (expected[0].empty() && expected[2].empty()) {
                if (expected[1].empty()) {
                    ++neverUp;
                    EXPECT_TRUE(search.passes.empty()) << where;
                } else {
                    ++alwaysUp;
                    ASSERT_EQ(search.passes.size(), 1u) << where;
                    EXPECT_TRUE(search.passes[0].cut_at_start && search.passes[0].cut_at_end);
                }
            }
            ExpectSameEvents(rises, expected[0], where + ", rises", &worstEvent);
            ExpectSameEvents(sets, expected[2], where + ", sets", &worstEvent);
            events += expected[0].size() + expected[2].size();
            // A whole pass's highest point is Skyfield's highest culmination within it.
            for (const Pass& pass : search.passes) {
                double highest = -90.0;
                JulianDate when{};
                for (size_t i = 0; i < expected[1].size(); ++i) {
                    const bool inside = SecondsBetween(pass.rise, expected[1][i]) >= 0.0 &&
                                        SecondsBetween(expected[1][i], pass.set) >= 0.0;
                    if (inside && expectedPeak[i] > highest)
                        highest = expectedPeak[i], when = expected[1][i];
                }
                if (pass.cut_at_start || pass.cut_at_end) {
                    EXPECT_LE(highest, pass.max_elevation_deg + kViewToleranceDeg) << where;
                    continue;
                }
                ++peaks;
                EXPECT_NEAR(pass.max_elevation_deg, highest, kViewToleranceDeg) << where;
                EXPECT_NEAR(SecondsBetween(when, pass.culmination), 0.0, kEventToleranceSeconds)
                    << where << " culminating at " << FormatUtc(when);
                worstElevation =
                    std::max(worstElevation, std::fabs(pass.max_elevation_deg - highest));
            }
        }
    }
    printf(
        "satellites: %zu rises and sets, worst %.3f s; %zu passes, worst highest elevation "
        "%.2e deg; %zu never up, %zu always up\n",
        events, worstEvent, peaks, worstElevation, neverUp, alwaysUp);
    EXPECT_GT(peaks, 100u);
    EXPECT_GT(neverUp, 0u);
    EXPECT_GT(alwaysUp, 0u);
}

TEST_F(SkyOracleTest, SunAndMoonRiseAndSetAsPyEphemSays) {
    const JulianDate end = AddSeconds(oracle.window_start, oracle.body_pass_days * kSecondsPerDay);
    double worst = 0.0;
    size_t compared = 0;
    for (size_t s = 0; s < oracle.stations.size(); ++s) {
        const StationView view(oracle.stations[s]);
        for (const char* body : {"sun", "moon"}) {
            const PassTarget target =
                std::string(body) == "sun" ? SunTarget(view) : MoonTarget(view);
            const PassSearch search = FindPasses(target, oracle.window_start, end);
            std::vector<JulianDate> rises, sets, expectedRises, expectedSets;
            for (const Pass& pass : search.passes) {
                if (!pass.cut_at_start) rises.push_back(pass.rise);
                if (!pass.cut_at_end) sets.push_back(pass.set);
            }
            for (const BodyEvent& e : oracle.body_events) {
                if (e.station != static_cast<int>(s)) continue;
                if (e.what == std::string(body) + "_rise") expectedRises.push_back(e.utc);
                if (e.what == std::string(body) + "_set") expectedSets.push_back(e.utc);
            }
            const std::string where = std::string(body) + " at station " + std::to_string(s);
            ExpectSameEvents(rises, expectedRises, where + ", rises", &worst);
            ExpectSameEvents(sets, expectedSets, where + ", sets", &worst);
            compared += expectedRises.size() + expectedSets.size();
        }
    }
    printf("sun and moon: %zu rises and sets, worst %.3f s\n", compared, worst);
    EXPECT_GT(compared, 30u);
}

}  // namespace
}  // namespace predict
