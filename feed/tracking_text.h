// The tracking texts that satellite-tracking programs publish for their DDE rotator and radio
// drivers: fields of a two-letter prefix and a value, separated by spaces, in any order, e.g.
//   SNISS_ZARYA AZ182.1 EL36.3 DN145800000 UP145800000 UMFM-N        (Orbitron, "TrackingData")
//   SNFO-29 AZ56.7 EL6.8 UP145951275 UMLSB DN435853062 DMUSB MA52.6  (SatPC32, "SatPcDdeItem")
// and, when nothing is tracked, an empty text (Orbitron), an "AOS" notice alone (Orbitron's
// extended item) or "** NO SATELLITE **" (SatPC32). Plain C++: unit-tested and fuzzed natively.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelmafeed {

enum class TrackingKind {
    kPosition,        // a satellite's azimuth and elevation
    kNothingTracked,  // the program tracks nothing
    kGarbled,         // not a tracking text: no azimuth or elevation, bad numbers, ...
};

struct TrackingReading {
    TrackingKind kind = TrackingKind::kGarbled;
    // kPosition: the "SN" field as written (Orbitron writes spaces as '_'); none without one.
    std::optional<std::string> satellite;
    // kPosition: "AZ" (0..360) and "EL" (-90..90), rounded to the nearest whole degree.
    int32_t azimuth = 0;
    int32_t elevation = 0;
};

// Reads one tracking text. The text ends at its first NUL; line ends and blanks around it do
// not count. Numbers take a point or a comma as the decimal separator. Blanks inside double
// quotes do not separate fields, and the quotes are not part of a name (SN"ISS ZARYA"); an
// unquoted name runs on over the words that start no known field. Words that start no known
// field are skipped; a field given twice (but for AOS notices, one per tracked object), a bad
// number or an open quote make the text garbled.
TrackingReading ParseTrackingText(std::string_view text);

}  // namespace kelmafeed
