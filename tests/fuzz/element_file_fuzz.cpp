// Arbitrary text as an element file, as it is and with its element lines' checksums mended (so
// that changed values reach the field checks and the model): parsing reads nothing out of
// bounds, every set kept holds sound values and every problem names a line of the text, and the
// model made from a kept set answers at any time with a finite state or an error and zero
// vectors. The text also goes through the UTC time parser and the name lookup.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "predict/elements.h"
#include "predict/sgp4.h"
#include "predict/time.h"

namespace {

namespace predict = predict;

// Sets of one input given to the model: enough to reach every branch, few enough to stay fast.
constexpr size_t kMaxSetsModelled = 3;
constexpr size_t kElementLineLength = 69;

void Check(bool holds) {
    if (!holds) abort();
}

std::string WithMendedChecksums(std::string text) {
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find_first_of("\r\n", start), text.size());
        const bool elementLine = end - start >= kElementLineLength &&
                                 (text[start] == '1' || text[start] == '2') &&
                                 text[start + 1] == ' ';
        if (elementLine) {
            const int sum = predict::ElementLineChecksum(
                std::string_view(text).substr(start, kElementLineLength));
            text[start + kElementLineLength - 1] = static_cast<char>('0' + sum);
        }
        start = end + 1;
    }
    return text;
}

// The most lines the parser can count in the text.
int MaxLines(std::string_view text) {
    int lines = 1;
    for (char c : text) lines += c == '\n' || c == '\r';
    return lines;
}

void CheckSet(const predict::ElementSet& set, int maxLines) {
    Check(set.line_number >= 1 && set.line_number < maxLines);
    Check(set.inclination_deg >= 0.0 && set.inclination_deg <= 180.0);
    Check(set.right_ascension_deg >= 0.0 && set.right_ascension_deg <= 360.0);
    Check(set.argument_of_perigee_deg >= 0.0 && set.argument_of_perigee_deg <= 360.0);
    Check(set.mean_anomaly_deg >= 0.0 && set.mean_anomaly_deg <= 360.0);
    Check(set.eccentricity >= 0.0 && set.eccentricity < 1.0);
    Check(set.mean_motion_rev_per_day > 0.0 && std::isfinite(set.mean_motion_rev_per_day));
    Check(std::isfinite(set.epoch.day) && set.epoch.fraction >= 0.0 && set.epoch.fraction <= 1.0);
    Check(std::isfinite(set.bstar_per_earth_radius));
}

bool Finite(const predict::Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

bool Zero(const predict::Vec3& v) {
    return v.x == 0.0 && v.y == 0.0 && v.z == 0.0;
}

void CheckModel(const predict::ElementSet& set, uint8_t choice) {
    // Both ways from the epoch (the resonance integrator steps 720 minutes), beyond the
    // propagator's range, and not a number.
    const double kMinutes[] = {0.0,     -1.0,  97.5,    1440.0,
                               -2880.0, 6.0e7, 1.0e300, std::numeric_limits<double>::quiet_NaN()};
    const predict::Sgp4Propagator model(
        set, static_cast<predict::GravityModel>(choice % 3),
        choice & 4 ? predict::OperationMode::kAfspc : predict::OperationMode::kImproved);
    for (const double minutes : kMinutes) {
        const predict::Sgp4State state = model.Propagate(minutes);
        if (state.error == predict::Sgp4Error::kNone) {
            Check(Finite(state.position_km) && Finite(state.velocity_km_per_s));
        } else {
            Check(Zero(state.position_km) && Zero(state.velocity_km_per_s));
        }
    }
}

void CheckFile(std::string_view text, uint8_t choice) {
    const predict::ElementFile file = predict::ParseElementFile(text);
    const int maxLines = MaxLines(text);
    for (const predict::ElementProblem& problem : file.problems)
        Check(problem.line_number >= 1 && problem.line_number <= maxLines &&
              !problem.reason.empty());
    for (size_t i = 0; i < file.sets.size(); ++i) {
        CheckSet(file.sets[i], maxLines);
        if (i < kMaxSetsModelled) CheckModel(file.sets[i], choice);
    }
    const std::string_view name = text.substr(0, text.find('\n'));
    const predict::ElementSet* found = predict::FindElementSet(file.sets, name);
    Check(found == nullptr ||
          (found >= file.sets.data() && found < file.sets.data() + file.sets.size()));
    Check(predict::NamesThatComeClose(file.sets, name).size() <= 5);
}

// A time read is printed as one that reads back within half a second (and a microsecond for
// the rounding of a half).
void CheckUtc(std::string_view text) {
    const predict::ParsedUtc parsed = predict::ParseUtc(text);
    Check(parsed.utc.has_value() == parsed.error.empty());
    if (!parsed.utc) return;
    const predict::ParsedUtc again = predict::ParseUtc(predict::FormatUtc(*parsed.utc));
    Check(again.utc && std::fabs(predict::SecondsBetween(*parsed.utc, *again.utc)) <= 0.500001);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const uint8_t choice = size > 0 ? data[size - 1] : 0;
    CheckFile(text, choice);
    const std::string mended = WithMendedChecksums(text);
    if (mended != text) CheckFile(mended, choice);
    CheckUtc(text);
    return 0;
}
