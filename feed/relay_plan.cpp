#include "feed/relay_plan.h"

#include <cmath>
#include <cstdio>

#include "plan/plan.h"
#include "sky/targets.h"

namespace kelmafeed {
namespace {

using predict::JulianDate;

// A source that names ever new satellites (or garbage) must not grow the relay without bound;
// past this many names the decisions are made, and said, anew.
constexpr size_t kNamesRemembered = 64;

std::string Fixed(double value) {
    char text[32];
    snprintf(text, sizeof(text), "%.1f", value);
    return text;
}

std::string AzEl(double azimuth, double elevation) {
    return "az " + std::to_string(static_cast<int>(std::lround(azimuth))) + " el " +
           std::to_string(static_cast<int>(std::lround(elevation)));
}

std::string NotPlanned(const std::string& name, const std::string& why) {
    return name + ": not planned, relayed unchanged: " + why;
}

std::string ModelFails(JulianDate utc) {
    return "our prediction fails from " + predict::FormatUtc(utc) +
           " UTC on (decayed, or its elements out of range)";
}

}  // namespace

RelayPlanner::RelayPlanner(std::optional<PlanningSetup> setup) : m_setup(std::move(setup)) {}

RelayPlanner::Outcome RelayPlanner::OnSourcePosition(const std::string& source,
                                                     const std::optional<std::string>& satellite,
                                                     rotator::Position position, JulianDate utc) {
    utc = NotBefore(utc);
    Outcome outcome;
    const std::string name = satellite.value_or("");
    const bool planned = Decide(name, utc, &outcome.messages).has_value();
    if (!planned || PredictionDiffers(source, name, position, utc, &outcome.messages)) {
        m_active = false;
        outcome.position = position;
        return outcome;
    }
    if (!m_tracker || m_following != name) {
        m_tracker.emplace(std::vector<sky::Target>{*m_decisions[name]}, m_setup->settings);
        m_following = name;
    }
    m_active = true;
    Outcome followed = Follow(utc);
    outcome.messages.insert(outcome.messages.end(), followed.messages.begin(),
                            followed.messages.end());
    outcome.position = followed.position;
    return outcome;
}

std::string RelayPlanner::Description() const {
    if (!m_setup) return "";
    return "; planning the passes of the " + std::to_string(m_setup->file.sets.size()) +
           " sets in " + m_setup->fileName;
}

RelayPlanner::Outcome RelayPlanner::Advance(JulianDate utc) {
    if (!m_active) return {};
    return Follow(NotBefore(utc));
}

RelayPlanner::Outcome RelayPlanner::Follow(JulianDate utc) {
    Outcome outcome;
    outcome.messages = m_tracker->Advance(utc);
    outcome.position = m_tracker->Command();
    return outcome;
}

const RelayPlanner::Decision& RelayPlanner::Decide(const std::string& name, JulianDate utc,
                                                   std::vector<std::string>* messages) {
    const auto known = m_decisions.find(name);
    if (known != m_decisions.end()) return known->second;
    if (m_decisions.size() >= kNamesRemembered) m_decisions.clear();
    return m_decisions[name] = Planned(name, utc, messages);
}

RelayPlanner::Decision RelayPlanner::Planned(const std::string& name, JulianDate utc,
                                             std::vector<std::string>* messages) const {
    if (name.empty()) {
        messages->push_back("Positions without a satellite's name: not planned, relayed unchanged");
        return std::nullopt;
    }
    if (!m_setup) {
        messages->push_back(
            NotPlanned(name, "no --elements FILE and --station LAT,LON to plan its passes with"));
        return std::nullopt;
    }
    sky::FoundTarget found = sky::FindTarget(name, m_setup->fileName, m_setup->file,
                                             predict::StationView(m_setup->station));
    if (!found.target) {
        messages->push_back(NotPlanned(name, found.problem));
        return std::nullopt;
    }
    if (!found.target->sky.look(utc)) {
        messages->push_back(NotPlanned(name, ModelFails(utc)));
        return std::nullopt;
    }
    messages->push_back(name + ": passes planned with the elements of \"" + found.target->name +
                        "\" in " + m_setup->fileName);
    return found.target;
}

bool RelayPlanner::PredictionDiffers(const std::string& source, const std::string& name,
                                     rotator::Position position, JulianDate utc,
                                     std::vector<std::string>* messages) {
    const sky::Target& target = *m_decisions[name];
    const auto look = target.sky.look(utc);
    if (!look) {
        messages->push_back(NotPlanned(name, ModelFails(utc)));
        Distrust(name);
        return true;
    }
    const double apart = plan::PointingErrorDeg(
        {static_cast<double>(position.azimuth), static_cast<double>(position.elevation)},
        {look->azimuth_deg, look->elevation_deg});
    if (apart <= kDisagreementDeg) return false;
    std::string ours = AzEl(look->azimuth_deg, look->elevation_deg);
    if (target.elements_epoch)
        ours +=
            ", elements " +
            Fixed(predict::SecondsBetween(*target.elements_epoch, utc) / predict::kSecondsPerDay) +
            " days old";
    messages->push_back(name + ": " + source + " has it at " +
                        AzEl(position.azimuth, position.elevation) + ", " + Fixed(apart) +
                        " deg from our prediction (" + ours +
                        "): not planned, relayed unchanged from now on (are the elements and the "
                        "station the same as " +
                        source + "'s?)");
    Distrust(name);
    return true;
}

void RelayPlanner::Distrust(const std::string& name) {
    m_decisions[name].reset();
    if (m_following == name) m_tracker.reset();
}

JulianDate RelayPlanner::NotBefore(JulianDate utc) {
    // The tracker only goes forward; the system clock may be set back.
    if (m_last && predict::SecondsBetween(*m_last, utc) < 0) return *m_last;
    m_last = utc;
    return utc;
}

}  // namespace kelmafeed
