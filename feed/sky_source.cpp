#include "feed/sky_source.h"

#include <algorithm>
#include <cstdio>

namespace kelmafeed {
namespace {

constexpr double kMsPerSecond = 1000;

std::string JoinedNames(const std::vector<sky::Target>& targets) {
    std::string names;
    for (const sky::Target& target : targets) names += (names.empty() ? "" : ", ") + target.name;
    return names;
}

}  // namespace

SkySource::SkySource(std::vector<sky::Target> targets, const sky::SkyOptions& options,
                     int64_t wallMs)
    : m_names(JoinedNames(targets)),
      m_start(options.at ? *options.at : sky::UtcNow()),
      m_clock(m_start, options.speed, wallMs),
      m_tracker(std::move(targets), {sky::WithElevationMax(sky::kKelmaLimits, options),
                                     options.leadSeconds, options.park}) {}

SkySource::Tick SkySource::Advance(int64_t wallMs) {
    const predict::JulianDate now = m_clock.Now(wallMs);
    Tick tick;
    for (const std::string& event : m_tracker.Advance(now))
        tick.messages.push_back(sky::Stamped(now, event));
    tick.position = m_tracker.Command();
    const std::string& target = m_tracker.CurrentStatus().target;
    if (!target.empty()) tick.satellite = target;
    return tick;
}

std::string SkySource::StatusLine(int64_t wallMs) const {
    return sky::Stamped(m_clock.Now(wallMs), sky::StatusLine(m_tracker.CurrentStatus()));
}

std::string SkySource::Description() const {
    char speed[32];
    snprintf(speed, sizeof(speed), "%g", m_clock.Speed());
    return "our own prediction of " + m_names + ", sky clock from " + predict::FormatUtc(m_start) +
           " UTC at " + speed + " times real time";
}

int64_t SkySource::TickMs() const {
    const double secondMs = kMsPerSecond / m_clock.Speed();
    return static_cast<int64_t>(std::clamp(secondMs, static_cast<double>(kShortestTickMs),
                                           static_cast<double>(kLongestTickMs)));
}

}  // namespace kelmafeed
