#include "rotator/tracking_state.h"

namespace rotator {

std::string TrackingState::SetAzimuth(std::string_view typed) {
    m_nLastAzimuth = ManualAngle(Axis::kAzimuth, typed);
    return ManualCommand(Axis::kAzimuth, m_nLastAzimuth);
}

std::string TrackingState::SetElevation(std::string_view typed) {
    m_nLastElevation = ManualAngle(Axis::kElevation, typed);
    return ManualCommand(Axis::kElevation, m_nLastElevation);
}

TrackingCommands TrackingState::Track(int32_t linkAzimuth, int32_t linkElevation) {
    const TrackingDecision decision =
        DecideTracking(linkAzimuth, linkElevation, m_nLastAzimuth, m_nLastElevation, m_bManual);
    TrackingCommands commands;
    if (decision.azimuth) {
        m_nLastAzimuth = *decision.azimuth;
        commands.azimuth = TrackingCommand(Axis::kAzimuth, m_nLastAzimuth);
    }
    if (decision.elevation) {
        m_nLastElevation = *decision.elevation;
        commands.elevation = TrackingCommand(Axis::kElevation, m_nLastElevation);
        commands.elevationSent = m_nLastElevation;
    }
    return commands;
}

PollTick TrackingState::NextPoll(bool connected) {
    const Axis axis = m_bPollAzimuth ? Axis::kAzimuth : Axis::kElevation;
    const PollTick tick = {m_bPollAzimuth && !connected, PollCommand(axis)};
    m_bPollAzimuth = !m_bPollAzimuth;
    return tick;
}

void ReceivedLines::Add(const char* line, size_t length) {
    if (const auto report = ParsePositionReport(std::string_view(line, length))) {
        std::string& shown = report->axis == Axis::kAzimuth ? azimuthShown : elevationShown;
        shown = FormatPositionDisplay(*report);
    }
    if (length == 0) return;
    logged.emplace_back(line, length);
    logged.emplace_back("\r\n");
}

}  // namespace rotator
