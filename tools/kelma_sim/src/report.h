// The controller's position report line.
//
//   "AZP 045.0 ST\r\n"   azimuth 45.0 degrees, standing
//   "ELP 010.4 MV\r\n"   elevation 10.4 degrees, moving
//
// 12 characters before CR LF: axis letter, "Z"/"L", "P", a space, the angle as %05.1f (so the
// number starts at the 5th character), a space, then "MV" while the axis moves or "ST".
#pragma once

#include <string>

namespace kelma {

constexpr char kAzimuthLetter = 'A';
constexpr char kElevationLetter = 'E';

// The report for one axis ('A' or 'E'), ending in CR LF.
std::string FormatReport(char axis, double angle, bool moving);

}  // namespace kelma
