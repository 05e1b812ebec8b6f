// The rules by which the prediction program's position becomes rotator commands.
#pragma once

#include <cstdint>
#include <optional>

namespace rotator {

// In the link's position: no value has arrived yet; in the window's last commanded angles:
// nothing has been commanded yet.
constexpr int32_t kNoAngleYet = -1000;
constexpr int32_t kLowestShownAzimuth = -360;    // below: no data yet (kNoAngleYet)
constexpr int32_t kLowestShownElevation = -180;  // below: no data yet
constexpr int32_t kLowestTrackedElevation = -5;  // below: the satellite is not followed
constexpr int kAzimuthSettleMs = 100;            // pause after a tracking azimuth command

// Whether the window shows (and tracks) the link's position.
bool ShowsTrackingPosition(int32_t azimuth, int32_t elevation);

// What one tracking step sends. Each angle is the one to command and to store as the last
// commanded; an elevation below 0 goes out as 0.
struct TrackingDecision {
    std::optional<int32_t> azimuth;
    std::optional<int32_t> elevation;
};

// Nothing while manual control is on or the elevation is below -5; otherwise each axis whose
// angle, as received, differs from the last one commanded.
TrackingDecision DecideTracking(int32_t linkAzimuth, int32_t linkElevation, int32_t lastAzimuth,
                                int32_t lastElevation, bool manual);

}  // namespace rotator
