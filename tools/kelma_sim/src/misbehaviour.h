// Byte sequences with which the simulated controller misbehaves on purpose, to test how the
// program copes with a faulty or noisy line.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace kelma {

// count random bytes, none of them CR or LF, then CR LF.
std::string JunkLine(size_t count, std::mt19937& random);
// count printable characters without any line end.
std::string LongRun(size_t count);
// count complete report lines in one piece, azimuth and elevation by turns.
std::string Burst(size_t count, const std::string& azimuthReport,
                  const std::string& elevationReport);
// A report with a NUL inside: the report text, NUL, " MV", NUL, CR LF. The text after the first
// NUL must not count, so a standing axis must not be shown as moving.
std::string NulReport(const std::string& report);

}  // namespace kelma
