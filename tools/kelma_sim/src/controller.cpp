#include "controller.h"

#include "report.h"

namespace kelma {

namespace {
constexpr double kMicrosPerSecond = 1e6;
}

Controller::Controller(const ControllerSettings& settings, int64_t nowMicros)
    : azimuth_(kAzimuthMax, settings.azimuthRate),
      elevation_(kElevationMax, settings.elevationRate),
      framer_(settings.quietMicros),
      lastMicros_(nowMicros) {}

void Controller::Advance(int64_t nowMicros) {
    if (nowMicros <= lastMicros_) return;
    const double seconds = static_cast<double>(nowMicros - lastMicros_) / kMicrosPerSecond;
    azimuth_.Advance(seconds);
    elevation_.Advance(seconds);
    lastMicros_ = nowMicros;
}

std::string Controller::Report(char axis, int64_t nowMicros) {
    Advance(nowMicros);
    const Axis& a = AxisOf(axis);
    return FormatReport(axis, a.Position(), a.Moving());
}

std::string Controller::Apply(const ControllerCommand& command, int64_t nowMicros) {
    Advance(nowMicros);
    switch (command.kind) {
        case ControllerCommand::Kind::Poll:
            return autoAnswer_ ? Report(command.axis, nowMicros) : std::string();
        case ControllerCommand::Kind::Goto:
            AxisOf(command.axis).Goto(command.angle);
            return {};
        case ControllerCommand::Kind::Stop:
            AxisOf(command.axis).Stop();
            return {};
    }
    return {};
}

std::string Controller::Receive(std::string_view bytes, int64_t nowMicros) {
    std::string out;
    for (const ControllerCommand& command : framer_.Feed(bytes, nowMicros))
        out += Apply(command, nowMicros);
    return out;
}

std::string Controller::Tick(int64_t nowMicros) {
    Advance(nowMicros);
    if (auto poll = framer_.Expire(nowMicros)) return Apply(*poll, nowMicros);
    return {};
}

}  // namespace kelma
