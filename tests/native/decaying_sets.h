// Two made-up element sets with a perigee inside the Earth, for the tests of sets the model refuses
// or gives up on: DOWN-AT-EPOCH is underground at its epoch, 2024-02-12 00:00 (mean anomaly 0),
// DOWN-SOON half an orbit later, at 00:48.
#pragma once

namespace synthetic {

constexpr char kDecayingSets[] =
    "DOWN-AT-EPOCH\n"
    "1 99999U 24001A   24043.00000000  .00000000  00000+0  00000+0 0  9993\n"
    "2 99999  51.6406 220.6676 5000000 228.7563 000.0000 15.00000000    13\n"
    "DOWN-SOON\n"
    "1 99999U 24001A   24043.00000000  .00000000  00000+0  00000+0 0  9993\n"
    "2 99999  51.6406 220.6676 5000000 228.7563 180.0000 15.00000000    12\n";

}  // namespace synthetic
