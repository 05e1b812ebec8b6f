#include "feed/tracking_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using kelmafeed::ParseTrackingText;
using kelmafeed::TrackingKind;
using kelmafeed::TrackingReading;

struct TextCase {
    std::string text;
    TrackingKind kind;
    std::optional<std::string> satellite;
    int32_t azimuth;
    int32_t elevation;
};

void PrintTo(const TextCase& c, std::ostream* out) {
    *out << '"' << c.text << '"';
}

void ExpectReading(const TextCase& c) {
    const TrackingReading reading = ParseTrackingText(c.text);
    ASSERT_EQ(reading.kind, c.kind);
    if (c.kind != TrackingKind::kPosition) return;
    EXPECT_EQ(reading.satellite, c.satellite);
    EXPECT_EQ(reading.azimuth, c.azimuth);
    EXPECT_EQ(reading.elevation, c.elevation);
}

constexpr TrackingKind kPosition = TrackingKind::kPosition;
constexpr TrackingKind kNothing = TrackingKind::kNothingTracked;
constexpr TrackingKind kGarbled = TrackingKind::kGarbled;

// Orbitron's description of its DDE drivers (read_me.txt of its My DDE Client 1.05,
// 2005-02-26, as kept in github.com/kamilgardelo/MyDDE): the examples of its items
// "TrackingData" (3.1) and "TrackingDataEx" (3.2), and the empty text while nothing is tracked.
class OrbitronTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(OrbitronTextTest, ReadsTheDocumentedExamples) {
    ExpectReading(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    DriverSpecification, OrbitronTextTest,
    ::testing::Values(TextCase{"SNISS_ZARYA AZ182.1 EL36.3 DN145800000 UP145800000 UMFM-N",
                               kPosition, "ISS_ZARYA", 182, 36},
                      TextCase{"SNISS_ZARYA AZ180.3 EL-10.1 DN145800000 UP145800000", kPosition,
                               "ISS_ZARYA", 180, -10},
                      TextCase{"SN\"ISS ZARYA\" AZ182.1 EL36.3 DN145800000 UP145800000", kPosition,
                               "ISS ZARYA", 182, 36},
                      TextCase{"SN\"ISS ZARYA\" AZ182.1 EL36.3 DN145800000 UP145800000 AOS\"HST\"",
                               kPosition, "ISS ZARYA", 182, 36},
                      TextCase{"AOS\"HST\"", kNothing, std::nullopt, 0, 0},
                      TextCase{"", kNothing, std::nullopt, 0, 0}));

// The same document, 3.2: 'AOS - AOS notification for satellite "xxx" (name in quotes; AOS
// notification is provided for all tracked objects, not only for active one)', so the field
// repeats, with or without the active satellite's fields and among the fields RA, RR, LO, LA,
// AL, TU and TL that 3.2 adds.
INSTANTIATE_TEST_SUITE_P(
    AosNotices, OrbitronTextTest,
    ::testing::Values(
        TextCase{"SN\"ISS ZARYA\" AZ182.1 EL36.3 DN145800000 UP145800000 AOS\"HST\" AOS\"NOAA 19\"",
                 kPosition, "ISS ZARYA", 182, 36},
        TextCase{"SN\"ISS ZARYA\" AZ182.1 EL36.3 DN145800000 UP145800000 DMFM UMFM RA1043.6 "
                 "RR-5.127 LO21.0125 LA48.3372 AL417.9 TU20240501120000 TL20240501140000 "
                 "AOS\"HST\" AOS\"ISS ZARYA\" AOS\"AO-7\"",
                 kPosition, "ISS ZARYA", 182, 36},
        TextCase{"AOS\"HST\" AOS\"NOAA 19\" AOS\"AO-7\"", kNothing, std::nullopt, 0, 0},
        // Repeats of the other fields, and an open quote, stay garbled.
        TextCase{"SN\"ISS ZARYA\" AZ182.1 EL36.3 AZ10 AOS\"HST\" AOS\"AO-7\"", kGarbled,
                 std::nullopt, 0, 0},
        TextCase{"SN\"ISS ZARYA\" AZ182.1 EL36.3 AOS\"HST\" AOS\"NOAA 19", kGarbled, std::nullopt,
                 0, 0}));

// SatPC32's "SatPcDdeItem" as its public clients quote it: github.com/M0LTE/satpc32-dde-utils
// (SatPC32Client.cs, commit 4755b72) and github.com/kevinsan1/turnt-octo-wookie (satpc32.m),
// with "** NO SATELLITE **" while nothing is in range, and the CR LF SatPC32 ends it with.
class SatPc32TextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(SatPc32TextTest, ReadsTheTextsItsClientsQuote) {
    ExpectReading(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    PublicClients, SatPc32TextTest,
    ::testing::Values(
        TextCase{"SNFO-29 AZ56.7 EL6.8 UP145951275 UMLSB DN435853062 DMUSB MA52.6", kPosition,
                 "FO-29", 57, 7},
        TextCase{"SNJUGNU AZ16.3 EL-48.4 UP0 UM DN0 DM MA132.0", kPosition, "JUGNU", 16, -48},
        TextCase{"SNFO-29 AZ56.7 EL6.8 UP145951275 UMLSB DN435853062 DMUSB MA52.6\r\n", kPosition,
                 "FO-29", 57, 7},
        TextCase{"** NO SATELLITE **", kNothing, std::nullopt, 0, 0},
        TextCase{"** NO SATELLITE **\n\r\n", kNothing, std::nullopt, 0, 0}));

// The relay's own rules: comma decimals, rounding, ranges, names, and what counts as garbled.
class TrackingTextRuleTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(TrackingTextRuleTest, FollowsTheRule) {
    ExpectReading(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, TrackingTextRuleTest,
    ::testing::Values(
        // A comma as the decimal point (Orbitron's own example driver reads it so).
        TextCase{"SNISS_ZARYA AZ182,1 EL36,6 DN145800000", kPosition, "ISS_ZARYA", 182, 37},
        // Nearest whole degree, halves away from zero.
        TextCase{"AZ182.5 EL-0.5", kPosition, std::nullopt, 183, -1},
        TextCase{"AZ0.49 EL-0.4", kPosition, std::nullopt, 0, 0},
        TextCase{"AZ359.6 EL89.5", kPosition, std::nullopt, 360, 90},
        TextCase{"AZ+7 EL-90", kPosition, std::nullopt, 7, -90},
        TextCase{"AZ.5 EL5.", kPosition, std::nullopt, 1, 5},
        TextCase{"EL12.0 AZ240.0 SNNOAA_19", kPosition, "NOAA_19", 240, 12},
        TextCase{"AZ0360 EL00", kPosition, std::nullopt, 360, 0},
        // Out of range, not numbers, or missing.
        TextCase{"AZ360.1 EL10", kGarbled, std::nullopt, 0, 0},
        TextCase{"AZ-0.1 EL10", kGarbled, std::nullopt, 0, 0},
        TextCase{"AZ10 EL-90.1", kGarbled, std::nullopt, 0, 0},
        TextCase{"AZ10 EL1" + std::string(400, '0'), kGarbled, std::nullopt, 0, 0},
        TextCase{"AZ1e2 EL10", kGarbled, std::nullopt, 0, 0},
        TextCase{"AZ1.2.3 EL10", kGarbled, std::nullopt, 0, 0},
        TextCase{"AZ1,5,5 EL10", kGarbled, std::nullopt, 0, 0},
        TextCase{"AZ- EL10", kGarbled, std::nullopt, 0, 0},
        TextCase{"AZ EL10", kGarbled, std::nullopt, 0, 0},
        TextCase{"AZ12° EL10", kGarbled, std::nullopt, 0, 0},
        TextCase{"AZ12", kGarbled, std::nullopt, 0, 0},
        TextCase{"EL12 SNISS", kGarbled, std::nullopt, 0, 0},
        TextCase{"az12 el10", kGarbled, std::nullopt, 0, 0},
        TextCase{"hello world", kGarbled, std::nullopt, 0, 0}));

INSTANTIATE_TEST_SUITE_P(
    Fields, TrackingTextRuleTest,
    ::testing::Values(
        // A name with blanks runs on to the next field; one in quotes ends at its quote.
        TextCase{"SNAO 7 AZ10 EL20", kPosition, "AO 7", 10, 20},
        TextCase{"SN\"ISS (ZARYA)\" XX1 AZ10 EL20", kPosition, "ISS (ZARYA)", 10, 20},
        TextCase{"SN AZ10 EL20", kPosition, "", 10, 20},
        TextCase{"AZ10 EL20", kPosition, std::nullopt, 10, 20},
        // Fields the relay does not know are skipped, blanks of any kind separate.
        TextCase{"SNISS AZ75.9 EL-49.8 RA10281.505 LO21.7041 TU20121221221254", kPosition, "ISS",
                 76, -50},
        TextCase{"\t SNISS\tAZ10 \r\n EL20 \r\n", kPosition, "ISS", 10, 20},
        // The text ends at its first NUL.
        TextCase{std::string("AZ10 EL20\0AZ30", 14), kPosition, std::nullopt, 10, 20},
        TextCase{std::string("\0AZ10 EL20", 10), kNothing, std::nullopt, 0, 0},
        // A field twice, or an open quote, cannot be trusted.
        TextCase{"AZ10 EL20 AZ30", kGarbled, std::nullopt, 0, 0},
        TextCase{"SNA SNB AZ10 EL20", kGarbled, std::nullopt, 0, 0},
        TextCase{"SN\"ISS AZ10 EL20", kGarbled, std::nullopt, 0, 0},
        TextCase{"** NO SATELLITE ** AZ10", kGarbled, std::nullopt, 0, 0},
        TextCase{"   \r\n", kNothing, std::nullopt, 0, 0}));

}  // namespace
