// Arbitrary bytes as a tracking program's text, both raw and read as a choice of the words the
// programs use (so that inputs reach the field rules, not only the "garbled" answer): the reader
// must never read past the bytes, a position must lie within the ranges, a name must come from
// the text, and the relay must publish nothing for the same text twice.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "feed/relay_state.h"
#include "feed/tracking_text.h"

namespace {

constexpr const char* kPieces[] = {
    "SNISS_ZARYA ",
    "SN\"ISS ZARYA\" ",
    "AZ182.1 ",
    "EL-10.1 ",
    "AZ",
    "EL",
    "UP145800000 ",
    "UMFM-N ",
    "AOS\"HST\" ",
    "\"",
    " ",
    "\r\n",
    "0",
    "9",
    ".",
    ",",
    "-",
    "\0",
    "** NO SATELLITE **",
};
constexpr size_t kPieceCount = sizeof kPieces / sizeof kPieces[0];
constexpr uint8_t kRawByteMark = 0xC0;

void Check(bool condition) {
    if (!condition) abort();
}

// Each byte picks a piece; one with both top bits set stands for itself instead.
std::string Assemble(const uint8_t* data, size_t size) {
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        if ((data[i] & kRawByteMark) == kRawByteMark) {
            text += static_cast<char>(data[i]);
        } else {
            const char* piece = kPieces[data[i] % kPieceCount];
            text += *piece == '\0' ? std::string(1, '\0') : std::string(piece);
        }
    }
    return text;
}

void CheckText(const std::string& text) {
    const kelmafeed::TrackingReading reading = kelmafeed::ParseTrackingText(text);
    if (reading.kind == kelmafeed::TrackingKind::kPosition) {
        Check(reading.azimuth >= 0 && reading.azimuth <= 360);
        Check(reading.elevation >= -90 && reading.elevation <= 90);
        if (reading.satellite) {
            Check(reading.satellite->size() <= text.size());
            Check(reading.satellite->find('"') == std::string::npos);
        }
    }
    kelmafeed::RelayState state;
    state.OnText(text);
    Check(state.OnText(text).Empty());
    Check(state.Published() <= 1 && state.Received() == 2);
    Check(state.Garbled() == (reading.kind == kelmafeed::TrackingKind::kGarbled ? 2u : 0u));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size heap copy, so the sanitizer sees any read beyond the data.
    const std::vector<char> raw(data, data + size);
    kelmafeed::ParseTrackingText(std::string_view(raw.data(), raw.size()));
    CheckText(Assemble(data, size));
    return 0;
}
