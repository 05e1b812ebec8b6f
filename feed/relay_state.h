// What the relay publishes as the prediction program's "AzEl" and "SatelliteName" items, from
// the updates its source delivers, and the counts its status line shows. Plain C++.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dde/winorbit.h"
#include "rotator/position.h"

namespace kelmafeed {

// The item texts to post after one update; an item that did not change is left out.
struct Publication {
    std::optional<std::string> satelliteName;
    std::optional<std::string> azel;  // "az|el" in whole degrees

    bool Empty() const { return !satelliteName && !azel; }
};

struct TrackingReading;

class RelayState {
public:
    // A tracking text from a DDE source. Nothing tracked and garbled texts publish nothing.
    Publication OnText(std::string_view text);
    Publication OnReading(const TrackingReading& reading);
    // A position from any source; a name, when the source gives one.
    Publication OnPosition(rotator::Position position, const std::optional<std::string>& satellite);
    // A position from the source that the antenna does not follow (a planned pass has not begun):
    // only its name is published.
    Publication OnHeldPosition(const std::optional<std::string>& satellite);
    // A position the relay works out itself (its own prediction, a planned pass between the
    // source's updates): published the same way, not counted as received.
    Publication OnPlannedPosition(const std::optional<rotator::Position>& position,
                                  const std::optional<std::string>& satellite);

    uint64_t Received() const { return m_received; }
    uint64_t Published() const { return m_published; }
    uint64_t Garbled() const { return m_garbled; }
    bool NothingTracked() const { return m_nothingTracked; }
    // The items as published last; none before the first.
    const std::optional<rotator::Position>& LastPosition() const { return m_position; }
    const std::optional<std::string>& LastSatellite() const { return m_satellite; }

private:
    uint64_t m_received = 0;
    uint64_t m_published = 0;
    uint64_t m_garbled = 0;
    bool m_nothingTracked = false;
    std::optional<rotator::Position> m_position;
    std::optional<std::string> m_satellite;
};

// The "AzEl" text of a position: "182|36".
std::string AzElText(rotator::Position position);

// The status line: the source and whether it is connected, the satellite and the last position
// published, and the counts, e.g.
//   "Orbitron: connected | ISS_ZARYA az 182 el 36 | received 120, published 80, garbled 0"
std::string StatusLine(std::string_view source, bool connected, const RelayState& state);

}  // namespace kelmafeed
