// The prediction program's DDE service as the window reads it, and the names of its things: the
// one home of these names for the window, the relay that serves them and the simulator.
#pragma once

#include <cstddef>

namespace dde {

constexpr char kWinOrbitService[] = "WinOrbit";
constexpr char kWinOrbitTopic[] = "TrackingInfo";
constexpr char kAzElItem[] = "AzEl";
constexpr char kSatelliteNameItem[] = "SatelliteName";
// The position items of a server without "AzEl", as WinOrbit's own help documents them.
constexpr char kAzimuthDegreesItem[] = "AzimuthDegrees";
constexpr char kElevationDegreesItem[] = "ElevationDegrees";

// The satellite name the window shows while there is none.
constexpr char kNoSatelliteName[] = "none";
// Size of the satellite-name field: 31 characters and the terminator.
constexpr size_t kSatelliteNameSize = 32;

}  // namespace dde
