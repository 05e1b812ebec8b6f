// The targets named on a command line (--track NAME[,NAME...]): satellites of the element file,
// and "sun" and "moon". Plain C++: the fronts read the file and pass in its text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "predict/earth.h"
#include "predict/elements.h"
#include "sky/tracker.h"

namespace sky {

// A satellite as the station sees it (predict::SatelliteTarget), named as in its set.
Target FromElementSet(const predict::ElementSet& set, const predict::StationView& view);

// Whether a name means the Sun or the Moon rather than a satellite ("sun", "moon", any case).
bool IsSunOrMoon(std::string_view name);

// What one name means: the Sun, the Moon, or a set of the element file, as the station sees it.
// A set is found by its name (any case) or catalogue number, by its name with '_' for the spaces
// (Orbitron's "ISS_(ZARYA)"), or by the designation in brackets at the end of its name ("SO-50"
// for "SAUDISAT 1C (SO-50)"), as tracking programs and catalogues name satellites.
struct FoundTarget {
    std::optional<Target> target;
    // Why there is none: the name is not in the file (`not_found`, with the names that come
    // close), or the model refuses its set ("FILE:LINE: NAME: the model refuses it (...)").
    std::string problem;
    bool not_found = false;
};

FoundTarget FindTarget(std::string_view name, std::string_view file_name,
                       const predict::ElementFile& file, const predict::StationView& view);

// The sets of the file that were refused: "FILE:LINE: reason".
std::vector<std::string> RefusedSets(std::string_view file_name, const predict::ElementFile& file);

struct TargetSetup {
    std::vector<Target> targets;
    // Sets of the file that were refused ("FILE:LINE: reason") and sets that the model refuses.
    std::vector<std::string> warnings;
    // Why nothing can be tracked: a name that is not in the file (with the names that come
    // close), or no target left. Empty when the targets are ready.
    std::string error;
};

TargetSetup SetUpTargets(const std::vector<std::string>& names, std::string_view file_name,
                         std::string_view file_text, const predict::Station& station);

}  // namespace sky
