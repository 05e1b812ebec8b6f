// The rotator's state in the operator window and the decisions made with it: the last angles
// commanded, the manual-control switch and the poll turn. Plain C++: the window reads its
// controls and the DDE link, asks for the commands and writes them to the port.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rotator/protocol.h"
#include "rotator/tracking_rule.h"

namespace rotator {

// What one tracking step sends: the azimuth command, then after kAzimuthSettleMs the elevation
// command, whose angle (a negative elevation goes out as 0) the link is given back.
struct TrackingCommands {
    std::optional<std::string> azimuth;
    std::optional<std::string> elevation;
    int32_t elevationSent = 0;
};

// One tick of the poll timer: the poll to send, after retrying the DDE conversation if asked.
struct PollTick {
    bool reconnect;
    std::string poll;
};

class TrackingState {
public:
    // A manual Set: the typed text's clamped angle becomes the last commanded, whatever the write
    // then reports; returns its command.
    std::string SetAzimuth(std::string_view typed);
    std::string SetElevation(std::string_view typed);
    // The tracking step for the link's position; the last commanded angles are set before the
    // writes.
    TrackingCommands Track(int32_t linkAzimuth, int32_t linkElevation);
    // Elevation and azimuth in turn, starting with the elevation; the azimuth's tick retries the
    // conversation when there is none.
    PollTick NextPoll(bool connected);

    int32_t m_nLastAzimuth = kNoAngleYet;
    int32_t m_nLastElevation = kNoAngleYet;
    bool m_bManual = false;
    bool m_bPollAzimuth = false;  // which poll the next tick sends
};

// The lines of one ID_SERIAL_DATA: the newest report's display text per axis and what the
// traffic log gets (each non-empty line, then CR LF).
struct ReceivedLines {
    void Add(const char* line, size_t length);

    std::string azimuthShown;  // empty when no azimuth report came
    std::string elevationShown;
    std::vector<std::string> logged;
};

}  // namespace rotator
