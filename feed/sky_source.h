// kelmafeed's sky source: our own prediction of the --track targets instead of another program's,
// each pass planned by the tracking engine (sky/tracker.h) for the KELMA controller (azimuth
// 0..360 with its stop at north, elevation 0..180 unless --el-max says less), on the sky clock of
// --at and --speed. The relay serves the engine's command as the window's position and the target
// followed as the satellite's name. Plain C++: the relay passes in its steady clock's
// milliseconds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "feed/relay_state.h"
#include "sky/front.h"
#include "sky/tracker.h"

namespace kelmafeed {

// The window pauses 100 ms after each azimuth command: a position every 200 ms at most leaves it
// time for both axes' commands and its polls, however fast the sky clock runs.
constexpr int64_t kShortestTickMs = 200;
// A slower sky clock is still looked at once a second.
constexpr int64_t kLongestTickMs = 1000;

class SkySource {
public:
    // The clock starts at --at (else the time of day) at `wallMs`.
    SkySource(std::vector<sky::Target> targets, const sky::SkyOptions& options, int64_t wallMs);

    struct Tick {
        std::vector<std::string> messages;          // stamped with the sky clock's time
        std::optional<rotator::Position> position;  // none before the first pass's lead time
        std::optional<std::string> satellite;       // the target followed, or the next one
    };
    Tick Advance(int64_t wallMs);

    // The sky clock's time and the engine's status line: "2024-02-12 11:35:20  SO-50: tracking,
    // az 92 el 178 | rose 2024-02-12 11:35:08 UTC, highest 49.9 deg, over the top | elements
    // 0.6 days old".
    std::string StatusLine(int64_t wallMs) const;
    // "our own prediction of SO-50, sky clock from 2024-02-12 11:34:00 UTC at 30 times real time".
    std::string Description() const;
    // How often to advance: every second of the sky clock, within kShortestTickMs and
    // kLongestTickMs.
    int64_t TickMs() const;

private:
    std::string m_names;
    predict::JulianDate m_start;
    sky::SkyClock m_clock;
    sky::Tracker m_tracker;
};

}  // namespace kelmafeed
