#include "sky/targets.h"

#include <algorithm>
#include <cctype>

#include "predict/passes.h"
#include "predict/sgp4.h"
#include "predict/sun_moon.h"

namespace sky {
namespace {

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

bool EndsWithLetters(std::string_view text, std::string_view end) {
    return text.size() > end.size() && SameLetters(text.substr(text.size() - end.size()), end);
}

// The set a name means: as written (or its catalogue number), with the spaces that Orbitron
// writes as '_' ("ISS_(ZARYA)"), or as the designation in brackets that catalogues add (AMSAT's
// files name "SO-50" what Celestrak's name "SAUDISAT 1C (SO-50)").
const predict::ElementSet* FindSet(const std::vector<predict::ElementSet>& sets,
                                   std::string_view name) {
    if (const predict::ElementSet* set = predict::FindElementSet(sets, name)) return set;
    std::string spaced(name);
    std::replace(spaced.begin(), spaced.end(), '_', ' ');
    if (const predict::ElementSet* set = predict::FindElementSet(sets, spaced)) return set;
    const std::string bracketed = "(" + spaced + ")";
    for (const predict::ElementSet& set : sets)
        if (EndsWithLetters(set.name, bracketed)) return predict::FindElementSet(sets, set.name);
    return nullptr;
}

std::string NotFound(const std::string& name, std::string_view file_name,
                     const std::vector<predict::ElementSet>& sets) {
    const std::vector<std::string> close = predict::NamesThatComeClose(sets, name);
    return "no element set named \"" + name + "\" in " + std::string(file_name) +
           (close.empty() ? "; none comes close" : "; names that come close: " + Joined(close));
}

}  // namespace

Target FromElementSet(const predict::ElementSet& set, const predict::StationView& view) {
    Target target;
    target.name = set.name.empty() ? std::to_string(set.catalogue_number) : set.name;
    target.elements_epoch = set.epoch;
    target.sky = predict::SatelliteTarget(set, view);
    return target;
}

bool IsSunOrMoon(std::string_view name) {
    return SameLetters(name, "sun") || SameLetters(name, "moon");
}

FoundTarget FindTarget(std::string_view name, std::string_view file_name,
                       const predict::ElementFile& file, const predict::StationView& view) {
    FoundTarget found;
    if (SameLetters(name, "sun")) {
        found.target = Target{"Sun", predict::SunTarget(view), std::nullopt};
        return found;
    }
    if (SameLetters(name, "moon")) {
        found.target = Target{"Moon", predict::MoonTarget(view), std::nullopt};
        return found;
    }
    const predict::ElementSet* set = FindSet(file.sets, name);
    if (set == nullptr) {
        found.not_found = true;
        found.problem = NotFound(std::string(name), file_name, file.sets);
        return found;
    }
    // A set the model refuses at its own epoch is of no use at any time.
    const predict::Sgp4Error error = predict::Sgp4Propagator(*set).Propagate(0).error;
    if (error != predict::Sgp4Error::kNone) {
        found.problem = std::string(file_name) + ":" + std::to_string(set->line_number) + ": " +
                        set->name + ": the model refuses it (" + predict::Sgp4ErrorText(error) +
                        ")";
        return found;
    }
    found.target = FromElementSet(*set, view);
    return found;
}

std::vector<std::string> RefusedSets(std::string_view file_name, const predict::ElementFile& file) {
    std::vector<std::string> refused;
    for (const predict::ElementProblem& p : file.problems)
        refused.push_back(std::string(file_name) + ":" + std::to_string(p.line_number) + ": " +
                          p.reason);
    return refused;
}

TargetSetup SetUpTargets(const std::vector<std::string>& names, std::string_view file_name,
                         std::string_view file_text, const predict::Station& station) {
    TargetSetup setup;
    const predict::StationView view(station);
    const predict::ElementFile file = predict::ParseElementFile(file_text);
    setup.warnings = RefusedSets(file_name, file);
    for (const std::string& name : names) {
        FoundTarget found = FindTarget(name, file_name, file, view);
        if (found.target) {
            setup.targets.push_back(std::move(*found.target));
        } else if (found.not_found) {
            setup.error = found.problem;
            return setup;
        } else {
            setup.warnings.push_back(found.problem + "; skipped");
        }
    }
    if (setup.targets.empty()) setup.error = "nothing left to track";
    return setup;
}

}  // namespace sky
