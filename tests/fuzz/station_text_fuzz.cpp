// Arbitrary text as --station: either refused with a reason, or a station within -90..90,
// -180..180 and the heights taken, from which the look angles of a satellite, the Sun and the
// Moon are finite with the azimuth in 0..360.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "predict/earth.h"
#include "predict/observer.h"
#include "predict/sun_moon.h"

namespace {

namespace predict = predict;

void Check(bool holds) {
    if (!holds) abort();
}

void CheckLook(const predict::LookAngles& look) {
    Check(look.azimuth_deg >= 0.0 && look.azimuth_deg < 360.0);
    Check(look.elevation_deg >= -90.0 && look.elevation_deg <= 90.0);
    Check(std::isfinite(look.range_km) && std::isfinite(look.range_rate_km_per_s));
    Check(std::isfinite(look.azimuth_rate_deg_per_s) &&
          std::isfinite(look.elevation_rate_deg_per_s));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const predict::ParsedStation parsed = predict::ParseStation(text);
    Check(parsed.station.has_value() == parsed.error.empty());
    if (!parsed.station) return 0;
    Check(predict::StationProblem(*parsed.station).empty());
    const predict::StationView view(*parsed.station);
    const predict::JulianDate utc{2460389.5, 0.25};
    // A low satellite over the Atlantic, in TEME.
    CheckLook(view.Look({5000.0, -3000.0, 3500.0}, {2.0, 5.0, -4.0}, utc));
    CheckLook(predict::LookAtSun(view, utc));
    CheckLook(predict::LookAtMoon(view, utc));
    return 0;
}
