// Element sets in the two-line form ("TLE") as tracking programs keep them and satellite
// catalogues publish them: Celestrak's and AMSAT's files (a name line, then lines 1 and 2),
// bare two-line files, and Space-Track's three-line form (the name line starts with "0 ").
// Column layout: Hoots & Roehrich, Spacetrack Report No. 3 (1980), and Celestrak's "NORAD
// Two-Line Element Set Format" page. Lines end in LF, CRLF or CR; blank lines and trailing
// spaces are ignored. A set that is not sound is left out with its line number and the reason;
// the other sets of the file are kept.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "predict/time.h"

namespace predict {

struct ElementSet {
    std::string name;      // the name line, trimmed, without the "0 "; empty when the set has none
    int catalogue_number;  // also the Alpha-5 form: "A0001" is 100001
    char classification;   // 'U', 'C', 'S'
    std::string international_designator;  // "98067A"; may be empty
    JulianDate epoch;                      // UTC
    double ndot_over_2_rev_per_day2;       // not used by SGP4
    double nddot_over_6_rev_per_day3;      // not used by SGP4
    double bstar_per_earth_radius;
    int element_number;
    double inclination_deg;
    double right_ascension_deg;  // of the ascending node
    double eccentricity;
    double argument_of_perigee_deg;
    double mean_anomaly_deg;
    double mean_motion_rev_per_day;
    int revolution_number;
    int line_number;  // the file's line (from 1) of the set's line 1
};

struct ElementProblem {
    int line_number;
    std::string reason;
};

struct ElementFile {
    std::vector<ElementSet> sets;  // in file order
    std::vector<ElementProblem> problems;
};

ElementFile ParseElementFile(std::string_view text);

// The digit an element line's first 68 columns add up to, modulo 10: each digit its value, a
// minus sign 1, anything else 0. Column 69 holds it.
int ElementLineChecksum(std::string_view line);

// The set named `name` (letters in any case, spaces around it ignored) or whose catalogue
// number it is; of several, the one with the latest epoch. Null when there is none.
const ElementSet* FindElementSet(const std::vector<ElementSet>& sets, std::string_view name);

// For a name not found: at most five names of the sets that contain it, or that it contains,
// or that differ from it by a few letters, the closest first.
std::vector<std::string> NamesThatComeClose(const std::vector<ElementSet>& sets,
                                            std::string_view name);

}  // namespace predict
