// A rotator position in whole degrees, as the programs command it: the relay publishes it, the
// tracking engine works it out and kelmatrack sends it to a rotctld-protocol server.
#pragma once

#include <cstdint>

namespace rotator {

struct Position {
    int32_t azimuth;
    int32_t elevation;
};

inline bool operator==(const Position& a, const Position& b) {
    return a.azimuth == b.azimuth && a.elevation == b.elevation;
}
inline bool operator!=(const Position& a, const Position& b) {
    return !(a == b);
}

}  // namespace rotator
