#include "predict/earth.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace predict {

namespace {

// WGS-84 (NIMA TR8350.2, table 3.1).
constexpr double kWgs84EquatorialRadiusKm = 6378.137;
constexpr double kWgs84Flattening = 1.0 / 298.257223563;
constexpr double kWgs84EccentricitySquared = kWgs84Flattening * (2.0 - kWgs84Flattening);

constexpr double kMetresPerKm = 1000.0;
// Heights a station can have: the Dead Sea shore to well above any mountain or balloon.
constexpr double kLowestHeightM = -1000.0;
constexpr double kHighestHeightM = 100000.0;

std::string Number(double value) {
    char text[40];
    snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// A whole decimal number ("-33.9", "18", "1.5e3"), nothing before or after it.
std::optional<double> ParseNumber(std::string_view text) {
    const std::string field(Trimmed(text));
    if (field.empty() || field.find_first_not_of("0123456789+-.eE") != std::string::npos)
        return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(field.c_str(), &end);
    if (end != field.c_str() + field.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

double FractionOf(double value) {
    return value - std::floor(value);
}

}  // namespace

std::string StationProblem(const Station& station) {
    if (!(station.latitude_deg >= -90.0 && station.latitude_deg <= 90.0))
        return "latitude " + Number(station.latitude_deg) + " is outside -90..90 degrees";
    if (!(station.longitude_deg >= -180.0 && station.longitude_deg <= 180.0))
        return "longitude " + Number(station.longitude_deg) + " is outside -180..180 degrees";
    if (!(station.height_m >= kLowestHeightM && station.height_m <= kHighestHeightM))
        return "height " + Number(station.height_m) + " m is outside " + Number(kLowestHeightM) +
               ".." + Number(kHighestHeightM) + " m";
    return {};
}

ParsedStation ParseStation(std::string_view text) {
    constexpr size_t kMaxFields = 3;  // latitude, longitude, height
    double fields[kMaxFields] = {0.0, 0.0, 0.0};
    size_t count = 0;
    bool readable = true;
    for (size_t from = 0; readable && from <= text.size(); ++count) {
        const size_t comma = std::min(text.find(',', from), text.size());
        const std::optional<double> value = ParseNumber(text.substr(from, comma - from));
        readable = count < kMaxFields && value.has_value();
        if (readable) fields[count] = *value;
        from = comma + 1;
    }
    if (!readable || count < 2) {
        return {std::nullopt,
                "a station is LAT,LON or LAT,LON,HEIGHT_M in degrees (north and east "
                "positive) and metres, not \"" +
                    std::string(text) + "\""};
    }
    const Station station{fields[0], fields[1], fields[2]};
    std::string problem = StationProblem(station);
    if (!problem.empty()) return {std::nullopt, "station " + std::string(text) + ": " + problem};
    return {station, {}};
}

double GmstRadians(JulianDate utc) {
    const double daysSinceJ2000 = (utc.day - kJ2000JulianDate) + utc.fraction;
    const double centuries = daysSinceJ2000 / kDaysPerJulianCentury;
    const double seconds =
        67310.54841 + (8640184.812866 + (0.093104 - 6.2e-6 * centuries) * centuries) * centuries;
    // The formula's 876600 h * T term turns the Earth once a day: only the day's fraction counts,
    // taken from the two parts apart so that it keeps its precision.
    const double turns =
        FractionOf(utc.day - kJ2000JulianDate) + utc.fraction + seconds / kSecondsPerDay;
    return kTwoPi * FractionOf(turns);
}

EarthFixedState TemeToEarthFixed(Vec3 position_km, Vec3 velocity_km_per_s, double gmst_radians) {
    const Vec3 position = EquatorialToEarthFixed(position_km, gmst_radians);
    const Vec3 velocity = EquatorialToEarthFixed(velocity_km_per_s, gmst_radians);
    const double w = kEarthRotationRadiansPerSecond;
    return {position, {velocity.x + w * position.y, velocity.y - w * position.x, velocity.z}};
}

Vec3 EquatorialToEarthFixed(Vec3 equatorial, double sidereal_time_radians) {
    const double c = std::cos(sidereal_time_radians);
    const double s = std::sin(sidereal_time_radians);
    return {c * equatorial.x + s * equatorial.y, -s * equatorial.x + c * equatorial.y,
            equatorial.z};
}

Vec3 EarthFixedKm(const Station& station) {
    const double latitude = station.latitude_deg * kRadiansPerDegree;
    const double longitude = station.longitude_deg * kRadiansPerDegree;
    const double sinLatitude = std::sin(latitude);
    const double primeVerticalKm =
        kWgs84EquatorialRadiusKm /
        std::sqrt(1.0 - kWgs84EccentricitySquared * sinLatitude * sinLatitude);
    const double heightKm = station.height_m / kMetresPerKm;
    const double axisDistanceKm = (primeVerticalKm + heightKm) * std::cos(latitude);
    return {axisDistanceKm * std::cos(longitude), axisDistanceKm * std::sin(longitude),
            (primeVerticalKm * (1.0 - kWgs84EccentricitySquared) + heightKm) * sinLatitude};
}

}  // namespace predict
