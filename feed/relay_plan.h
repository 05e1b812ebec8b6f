// kelmafeed's planning of relayed passes. A tracking program sends the satellite's azimuth in
// 0..360, so a pass across north swings the antenna the long way round at its stop. Where the
// relayed source names its satellite, that satellite is in --elements and --station is given, the
// relay serves the tracking engine's plan of the pass instead (sky/tracker.h), from our own
// prediction at the time of day: the source's name decides which satellite, the plan where the
// antenna goes. Otherwise it relays the source's positions unchanged and says once why.
//
// The operator's program is the one to believe: where its position and our prediction differ by
// more than kDisagreementDeg (old elements on either side, another station), the relay says so
// and relays that satellite unchanged from then on.
// Plain C++: the relay passes in the time of each update and of its once-a-second check.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "feed/relay_state.h"
#include "predict/elements.h"
#include "sky/tracker.h"

namespace kelmafeed {

// Farther apart than this, the source's position and our prediction disagree: two current
// element sets, whole-degree rounding, refraction near the horizon and a second of lag near the
// zenith stay well within it.
constexpr double kDisagreementDeg = 5.0;

// What plans a relayed pass: --elements, --station and the plan's settings.
struct PlanningSetup {
    std::string fileName;
    predict::ElementFile file;
    predict::Station station;
    sky::TrackerSettings settings;
};

class RelayPlanner {
public:
    // Without a setup nothing is planned.
    explicit RelayPlanner(std::optional<PlanningSetup> setup);

    struct Outcome {
        std::optional<rotator::Position> position;  // to publish; none: the antenna holds
        std::vector<std::string> messages;
    };

    // A position from `source` ("Orbitron") for the satellite it names (none: it names none),
    // received at `utc`.
    Outcome OnSourcePosition(const std::string& source, const std::optional<std::string>& satellite,
                             rotator::Position position, predict::JulianDate utc);
    // Between the source's updates: the plan's position at `utc` while its satellite is named.
    Outcome Advance(predict::JulianDate utc);
    // "; planning the passes of the 15 sets in amateur.txt", or nothing without a setup.
    std::string Description() const;
    // The source tracks nothing or has gone. The plan is kept for when it names the satellite
    // again: a pass once started keeps its plan.
    void Pause() { m_active = false; }

private:
    // Whether a name's passes are planned: its target, or none when they are relayed unchanged.
    using Decision = std::optional<sky::Target>;

    const Decision& Decide(const std::string& name, predict::JulianDate utc,
                           std::vector<std::string>* messages);
    Decision Planned(const std::string& name, predict::JulianDate utc,
                     std::vector<std::string>* messages) const;
    // Whether our prediction fails or differs from the source's position; it is then not used
    // for that name any more.
    bool PredictionDiffers(const std::string& source, const std::string& name,
                           rotator::Position position, predict::JulianDate utc,
                           std::vector<std::string>* messages);
    void Distrust(const std::string& name);
    predict::JulianDate NotBefore(predict::JulianDate utc);
    Outcome Follow(predict::JulianDate utc);

    const std::optional<PlanningSetup> m_setup;
    std::map<std::string, Decision> m_decisions;  // by the source's name, each said once
    std::string m_following;                      // the name the tracker plans for
    std::optional<sky::Tracker> m_tracker;
    bool m_active = false;  // the source names m_following now
    std::optional<predict::JulianDate> m_last;
};

}  // namespace kelmafeed
