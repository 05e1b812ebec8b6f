#include "rotator/tracking_rule.h"

namespace rotator {

bool ShowsTrackingPosition(int32_t azimuth, int32_t elevation) {
    return azimuth >= kLowestShownAzimuth && elevation >= kLowestShownElevation;
}

TrackingDecision DecideTracking(int32_t linkAzimuth, int32_t linkElevation, int32_t lastAzimuth,
                                int32_t lastElevation, bool manual) {
    TrackingDecision decision;
    if (linkElevation < kLowestTrackedElevation || manual) return decision;
    if (linkAzimuth != lastAzimuth) decision.azimuth = linkAzimuth;
    if (linkElevation != lastElevation) decision.elevation = linkElevation < 0 ? 0 : linkElevation;
    return decision;
}

}  // namespace rotator
