#include "rotator/protocol.h"

#include <algorithm>
#include <cstdio>

#include "framework/decimal.h"

namespace rotator {
namespace {

constexpr size_t kReportMinLength = 12;
constexpr size_t kReportKindIndex = 2;    // the third character, "P"
constexpr size_t kReportNumberIndex = 4;  // the fifth character, where the angle begins
constexpr char kReportKind = 'P';
constexpr std::string_view kMovingMarker = "MV";
// Room for the longest command: axis line, an 11-character int32, CR LF and the terminator.
constexpr size_t kCommandBufferSize = 24;

const char* AxisLine(Axis axis) {
    return axis == Axis::kAzimuth ? "A\r\n" : "E\r\n";
}

std::string Format(const char* format, Axis axis, int32_t angle) {
    char text[kCommandBufferSize];
    snprintf(text, sizeof(text), format, AxisLine(axis), static_cast<int>(angle));
    return text;
}

}  // namespace

std::string StopCommand(Axis axis) {
    return std::string(AxisLine(axis)) + "S\r\n";
}

std::string PollCommand(Axis axis) {
    return AxisLine(axis);
}

std::string ManualCommand(Axis axis, int32_t angle) {
    return Format("%s%d\r\n", axis, angle);
}

std::string TrackingCommand(Axis axis, int32_t angle) {
    return Format("%s%03d\r\n", axis, angle);
}

int32_t ManualAngle(Axis axis, std::string_view boxText) {
    const size_t kept = static_cast<size_t>(kSetTextReadCount - 1);
    const int32_t value =
        framework::ParseLeadingInteger(boxText.substr(0, std::min(boxText.size(), kept)));
    const int32_t upper = axis == Axis::kAzimuth ? kAzimuthMax : kElevationMax;
    return std::clamp<int32_t>(value, 0, upper);
}

std::string FormatAngle(int32_t angle) {
    char text[kCommandBufferSize];
    snprintf(text, sizeof(text), "%03d", static_cast<int>(angle));
    return text;
}

std::optional<PositionReport> ParsePositionReport(std::string_view line) {
    const size_t nul = line.find('\0');
    if (nul != std::string_view::npos) line = line.substr(0, nul);
    if (line.size() < kReportMinLength) return std::nullopt;
    if (line[0] != 'A' && line[0] != 'E') return std::nullopt;
    if (line[kReportKindIndex] != kReportKind) return std::nullopt;

    const std::string_view rest = line.substr(kReportNumberIndex);
    PositionReport report;
    report.axis = line[0] == 'A' ? Axis::kAzimuth : Axis::kElevation;
    report.angle = framework::ParseLeadingInteger(rest);
    report.moving = rest.find(kMovingMarker) != std::string_view::npos;
    return report;
}

std::string FormatPositionDisplay(const PositionReport& report) {
    const std::string angle = FormatAngle(report.angle);
    return report.moving ? "<" + angle + ">" : angle;
}

}  // namespace rotator
