#include "simulated_port.h"

#include <cstdio>
#include <map>

#include "hex.h"
#include "misbehaviour.h"

namespace kelma {

namespace {

constexpr size_t kMaxMisbehaviourBytes = 1 << 20;
constexpr int64_t kMicrosPerMilli = 1000;
constexpr long kMaxQuietMillis = 60000;

const std::map<std::string, PortCommandKind>& PortCommands() {
    static const std::map<std::string, PortCommandKind> commands{
        {"recv", PortCommandKind::Model},  {"chunks", PortCommandKind::Model},
        {"clear", PortCommandKind::Model}, {"get", PortCommandKind::Model},
        {"auto", PortCommandKind::Model},  {"quiet", PortCommandKind::Model},
        {"rate", PortCommandKind::Model},  {"setpos", PortCommandKind::Model},
        {"send", PortCommandKind::Line},   {"flush", PortCommandKind::Line},
        {"junk", PortCommandKind::Line},   {"long", PortCommandKind::Line},
        {"burst", PortCommandKind::Line},  {"nul", PortCommandKind::Line},
    };
    return commands;
}

}  // namespace

std::optional<PortCommandKind> KindOfPortCommand(const std::string& name) {
    auto it = PortCommands().find(name);
    return it == PortCommands().end() ? std::nullopt : std::optional(it->second);
}

const char* PortCommandNames() {
    return "send recv chunks clear flush auto rate setpos get quiet junk long burst nul";
}

SimulatedPort::SimulatedPort(const ControllerSettings& settings, int64_t nowMicros)
    : controller_(settings, nowMicros) {}

void SimulatedPort::Receive(const std::string& bytes, int64_t nowMicros, SerialLine* line) {
    if (bytes.empty()) return;
    received_.push_back({nowMicros, bytes});
    const std::string reply = controller_.Receive(bytes, nowMicros);
    if (!reply.empty() && line) line->Write(reply);
}

void SimulatedPort::Tick(int64_t nowMicros, SerialLine* line) {
    const std::string reply = controller_.Tick(nowMicros);
    if (!reply.empty() && line) line->Write(reply);
}

std::string SimulatedPort::Run(const std::string& name, const Words& params, int64_t nowMicros,
                               SerialLine* line, std::mt19937& random) {
    const auto kind = KindOfPortCommand(name);
    if (!kind) return Err("bad command: " + name);
    if (*kind == PortCommandKind::Model) return RunModel(name, params, nowMicros);
    if (!line) return Err("unplugged");
    return RunLine(name, params, nowMicros, *line, random);
}

std::string SimulatedPort::Received(bool withTimes) const {
    std::string text;
    for (const Chunk& chunk : received_) {
        if (withTimes) text += (text.empty() ? "" : " ") + std::to_string(chunk.micros) + ":";
        text += HexEncode(chunk.bytes);
    }
    return Ok(text);
}

std::string SimulatedPort::Get(int64_t nowMicros) {
    Controller& c = controller_;
    c.Advance(nowMicros);
    char text[128];
    std::snprintf(text, sizeof text, "%.1f %.1f %.1f %.1f %d %d", c.Azimuth().Position(),
                  c.Elevation().Position(), c.Azimuth().Target(), c.Elevation().Target(),
                  c.Azimuth().Moving() ? 1 : 0, c.Elevation().Moving() ? 1 : 0);
    return Ok(text);
}

std::string SimulatedPort::SetAxes(const std::string& name, const Words& params,
                                   int64_t nowMicros) {
    auto az = params.size() == 2 ? ParseNumber(params[0]) : std::nullopt;
    auto el = params.size() == 2 ? ParseNumber(params[1]) : std::nullopt;
    if (!az || !el || (name == "rate" && (*az <= 0 || *el <= 0)))
        return Err("usage: " + name + " <az> <el>");
    controller_.Advance(nowMicros);
    if (name == "rate") {
        controller_.Azimuth().SetRate(*az);
        controller_.Elevation().SetRate(*el);
    } else {
        controller_.Azimuth().Jump(*az);
        controller_.Elevation().Jump(*el);
    }
    return Ok();
}

std::string SimulatedPort::RunModel(const std::string& name, const Words& params,
                                    int64_t nowMicros) {
    if (name == "recv" || name == "chunks") return Received(name == "chunks");
    if (name == "clear") {
        received_.clear();
        return Ok();
    }
    if (name == "get") return Get(nowMicros);
    if (name == "auto") {
        if (params.size() != 1 || (params[0] != "on" && params[0] != "off"))
            return Err("usage: auto on|off");
        controller_.SetAutoAnswer(params[0] == "on");
        return Ok();
    }
    if (name == "quiet") {
        auto ms = params.size() == 1 ? ParseInteger(params[0], 0, kMaxQuietMillis) : std::nullopt;
        if (!ms) return Err("usage: quiet <ms>");
        controller_.SetQuietMicros(*ms * kMicrosPerMilli);
        return Ok();
    }
    return SetAxes(name, params, nowMicros);  // rate, setpos
}

std::string SimulatedPort::Misbehave(const std::string& name, const Words& params,
                                     int64_t nowMicros, SerialLine& line, std::mt19937& random) {
    std::string bytes;
    if (name == "nul") {
        bytes = NulReport(controller_.Report('A', nowMicros));
    } else {
        auto count =
            params.size() == 1 ? ParseInteger(params[0], 1, kMaxMisbehaviourBytes) : std::nullopt;
        if (!count) return Err("usage: " + name + " <count>");
        const size_t n = static_cast<size_t>(*count);
        if (name == "junk") bytes = JunkLine(n, random);
        if (name == "long") bytes = LongRun(n);
        if (name == "burst")
            bytes =
                Burst(n, controller_.Report('A', nowMicros), controller_.Report('E', nowMicros));
    }
    line.Write(bytes);
    return Ok(std::to_string(bytes.size()));
}

std::string SimulatedPort::RunLine(const std::string& name, const Words& params, int64_t nowMicros,
                                   SerialLine& line, std::mt19937& random) {
    if (name == "send") {
        auto bytes = params.size() == 1 ? HexDecode(params[0]) : std::nullopt;
        if (!bytes) return Err("bad hex");
        line.Write(*bytes);
        return Ok(std::to_string(bytes->size()));
    }
    if (name == "flush") {
        line.Purge();
        return Ok();
    }
    return Misbehave(name, params, nowMicros, line, random);  // junk, long, burst, nul
}

}  // namespace kelma
