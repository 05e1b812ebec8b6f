#include "feed/relay_state.h"

#include "dde/azel_text.h"
#include "feed/tracking_text.h"

namespace kelmafeed {
namespace {

// The window keeps this much of a name; a longer one would only cost bytes.
constexpr size_t kNameMax = dde::kSatelliteNameSize - 1;

std::string ShownPosition(const RelayState& state) {
    if (!state.LastPosition()) return "no position yet";
    std::string shown;
    if (state.LastSatellite()) shown = *state.LastSatellite() + " ";
    return shown + "az " + std::to_string(state.LastPosition()->azimuth) + " el " +
           std::to_string(state.LastPosition()->elevation);
}

}  // namespace

Publication RelayState::OnText(std::string_view text) {
    return OnReading(ParseTrackingText(text));
}

Publication RelayState::OnReading(const TrackingReading& reading) {
    switch (reading.kind) {
        case TrackingKind::kPosition:
            return OnPosition(rotator::Position{reading.azimuth, reading.elevation},
                              reading.satellite);
        case TrackingKind::kNothingTracked:
            ++m_received;
            m_nothingTracked = true;
            return {};
        case TrackingKind::kGarbled:
            break;
    }
    ++m_received;
    ++m_garbled;
    return {};
}

Publication RelayState::OnPosition(rotator::Position position,
                                   const std::optional<std::string>& satellite) {
    ++m_received;
    m_nothingTracked = false;
    return OnPlannedPosition(position, satellite);
}

Publication RelayState::OnHeldPosition(const std::optional<std::string>& satellite) {
    ++m_received;
    m_nothingTracked = false;
    return OnPlannedPosition(std::nullopt, satellite);
}

Publication RelayState::OnPlannedPosition(const std::optional<rotator::Position>& position,
                                          const std::optional<std::string>& satellite) {
    Publication publication;
    if (satellite) {
        std::string name = satellite->substr(0, kNameMax);
        if (name != m_satellite) publication.satelliteName = m_satellite = name;
    }
    if (position && m_position != position) {
        m_position = position;
        publication.azel = AzElText(*position);
    }
    if (!publication.Empty()) ++m_published;
    return publication;
}

std::string AzElText(rotator::Position position) {
    return std::to_string(position.azimuth) + "|" + std::to_string(position.elevation);
}

std::string StatusLine(std::string_view source, bool connected, const RelayState& state) {
    std::string line(source);
    line += connected ? ": connected | " : ": waiting | ";
    line += state.NothingTracked() ? "nothing tracked (last: " + ShownPosition(state) + ")"
                                   : ShownPosition(state);
    line += " | received " + std::to_string(state.Received()) + ", published " +
            std::to_string(state.Published()) + ", garbled " + std::to_string(state.Garbled());
    return line;
}

}  // namespace kelmafeed
