#include "simulator.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "hex.h"
#include "misbehaviour.h"

namespace kelma {

namespace {

constexpr size_t kMaxMisbehaviourBytes = 1 << 20;
constexpr int64_t kMicrosPerMilli = 1000;

std::vector<std::string> Split(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

std::optional<long> ParseInteger(const std::string& text, long min, long max) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<double> ParseNumber(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || value != value) return std::nullopt;
    return value;
}

std::optional<int> ParsePortNumber(const std::string& text) {
    auto n = ParseInteger(text, Simulator::kFirstPort, Simulator::kLastPort);
    return n ? std::optional<int>(static_cast<int>(*n)) : std::nullopt;
}

std::string Ok(const std::string& text = {}) {
    return text.empty() ? "ok" : "ok " + text;
}
std::string Err(const std::string& text) {
    return "err " + text;
}

std::string Format(const char* format, double a, double b, double c, double d, int e, int f) {
    char text[128];
    std::snprintf(text, sizeof text, format, a, b, c, d, e, f);
    return text;
}

}  // namespace

Simulator::Simulator(SimulatorSettings settings)
    : settings_(std::move(settings)), random_(settings_.seed) {}

std::string Simulator::Plug(int number, int64_t nowMicros) {
    auto it =
        ports_.try_emplace(number, Port{Controller(settings_.controller, nowMicros), {}, {}}).first;
    Port& port = it->second;
    if (port.pty) return Ok(port.pty->SlavePath());
    std::string error;
    port.pty = PtyPort::Open(settings_.dosdevices + "/com" + std::to_string(number), &error);
    return port.pty ? Ok(port.pty->SlavePath()) : Err(error);
}

std::string Simulator::Unplug(int number) {
    auto it = ports_.find(number);
    if (it == ports_.end() || !it->second.pty)
        return Err("port " + std::to_string(number) + " not plugged");
    it->second.pty.reset();
    return Ok();
}

std::string Simulator::SetPorts(const Args& args, int64_t nowMicros) {
    std::map<int, bool> wanted;
    for (size_t i = 1; i < args.size(); i++) {
        auto n = ParsePortNumber(args[i]);
        if (!n) return Err("bad port " + args[i]);
        wanted[*n] = true;
    }
    for (auto& [number, port] : ports_)
        if (!wanted.count(number)) port.pty.reset();
    for (const auto& entry : wanted) {
        std::string reply = Plug(entry.first, nowMicros);
        if (reply.rfind("err", 0) == 0) return reply;
    }
    return List();
}

std::string Simulator::List() const {
    std::string text;
    for (const auto& [number, port] : ports_) {
        if (!port.pty) continue;
        if (!text.empty()) text += ' ';
        text += std::to_string(number) + ":" + port.pty->SlavePath();
    }
    return Ok(text);
}

std::string Simulator::PathsText() const {
    std::string text;
    for (const auto& [number, port] : ports_)
        if (port.pty) text += std::to_string(number) + " " + port.pty->SlavePath() + "\n";
    return text;
}

std::string Simulator::Get(Port& port, int64_t nowMicros) {
    Controller& c = port.controller;
    c.Advance(nowMicros);
    return Ok(Format("%.1f %.1f %.1f %.1f %d %d", c.Azimuth().Position(), c.Elevation().Position(),
                     c.Azimuth().Target(), c.Elevation().Target(), c.Azimuth().Moving() ? 1 : 0,
                     c.Elevation().Moving() ? 1 : 0));
}

std::string Simulator::Misbehave(const std::string& name, Port& port, const Args& args,
                                 int64_t nowMicros) {
    std::string bytes;
    if (name == "nul") {
        bytes = NulReport(port.controller.Report('A', nowMicros));
    } else {
        auto count =
            args.size() == 3 ? ParseInteger(args[2], 1, kMaxMisbehaviourBytes) : std::nullopt;
        if (!count) return Err("usage: " + name + " N <count>");
        const size_t n = static_cast<size_t>(*count);
        if (name == "junk") bytes = JunkLine(n, random_);
        if (name == "long") bytes = LongRun(n);
        if (name == "burst")
            bytes = Burst(n, port.controller.Report('A', nowMicros),
                          port.controller.Report('E', nowMicros));
    }
    port.pty->Write(bytes);
    return Ok(std::to_string(bytes.size()));
}

std::string Simulator::PortCommand(const std::string& name, Port& port, const Args& args,
                                   int64_t nowMicros) {
    Controller& c = port.controller;
    if (name == "recv" || name == "chunks") {
        std::string text;
        for (const Chunk& chunk : port.received) {
            if (name == "chunks")
                text += (text.empty() ? "" : " ") + std::to_string(chunk.micros) + ":";
            text += HexEncode(chunk.bytes);
        }
        return Ok(text);
    }
    if (name == "clear") {
        port.received.clear();
        return Ok();
    }
    if (name == "get") return Get(port, nowMicros);
    if (name == "auto" && args.size() == 3 && (args[2] == "on" || args[2] == "off")) {
        c.SetAutoAnswer(args[2] == "on");
        return Ok();
    }
    if (name == "quiet" && args.size() == 3) {
        auto ms = ParseInteger(args[2], 0, 60000);
        if (!ms) return Err("usage: quiet N <ms>");
        c.SetQuietMicros(*ms * kMicrosPerMilli);
        return Ok();
    }
    if ((name == "rate" || name == "setpos") && args.size() == 4) {
        auto az = ParseNumber(args[2]), el = ParseNumber(args[3]);
        if (!az || !el || (name == "rate" && (*az <= 0 || *el <= 0)))
            return Err("usage: " + name + " N <az> <el>");
        c.Advance(nowMicros);
        if (name == "rate") {
            c.Azimuth().SetRate(*az);
            c.Elevation().SetRate(*el);
        } else {
            c.Azimuth().Jump(*az);
            c.Elevation().Jump(*el);
        }
        return Ok();
    }
    // The rest talk over the cable, so the port must be plugged in.
    if (!port.pty) return Err("port " + args[1] + " unplugged");
    if (name == "send" && args.size() == 3) {
        auto bytes = HexDecode(args[2]);
        if (!bytes) return Err("bad hex");
        port.pty->Write(*bytes);
        return Ok(std::to_string(bytes->size()));
    }
    if (name == "junk" || name == "long" || name == "burst" || name == "nul")
        return Misbehave(name, port, args, nowMicros);
    if (name == "hold" || name == "release") {
        std::string error;
        const bool ok = name == "hold" ? port.pty->Hold(&error) : port.pty->Release(&error);
        return ok ? Ok() : Err(error);
    }
    if (name == "stall" && args.size() == 3 && (args[2] == "on" || args[2] == "off")) {
        std::string error;
        return port.pty->Stall(args[2] == "on", &error) ? Ok() : Err(error);
    }
    if (name == "flush") {
        port.pty->Purge();
        return Ok();
    }
    return Err("bad command: " + name);
}

std::string Simulator::HandleControl(const std::string& line, int64_t nowMicros, bool* quit) {
    const Args args = Split(line);
    if (args.empty()) return Err("empty command");
    const std::string& name = args[0];
    if (name == "now") return Ok(std::to_string(nowMicros));
    if (name == "quit") {
        *quit = true;
        return Ok();
    }
    if (name == "list") return List();
    if (name == "ports") return SetPorts(args, nowMicros);
    if (name == "help")
        return Ok(
            "ports plug unplug hold release list send recv chunks clear flush stall auto rate "
            "setpos get quiet junk long burst nul now quit");
    if (args.size() < 2) return Err("bad command: " + line);
    auto number = ParsePortNumber(args[1]);
    if (!number) return Err("bad port " + args[1]);
    if (name == "plug") return Plug(*number, nowMicros);
    if (name == "unplug") return Unplug(*number);
    auto it = ports_.find(*number);
    if (it == ports_.end()) return Err("no port " + args[1]);
    return PortCommand(name, it->second, args, nowMicros);
}

std::vector<std::pair<int, int>> Simulator::MasterFds() const {
    std::vector<std::pair<int, int>> fds;
    for (const auto& [number, port] : ports_)
        if (port.pty) fds.emplace_back(number, port.pty->MasterFd());
    return fds;
}

bool Simulator::WantsWrite(int number) const {
    auto it = ports_.find(number);
    return it != ports_.end() && it->second.pty && it->second.pty->HasPendingOutput();
}

void Simulator::OnReadable(int number, int64_t nowMicros) {
    Port& port = ports_.at(number);
    if (!port.pty) return;
    const std::string bytes = port.pty->Read();
    if (bytes.empty()) return;
    port.received.push_back({nowMicros, bytes});
    const std::string reply = port.controller.Receive(bytes, nowMicros);
    if (!reply.empty()) port.pty->Write(reply);
}

void Simulator::OnWritable(int number) {
    Port& port = ports_.at(number);
    if (port.pty) port.pty->Flush();
}

std::optional<int64_t> Simulator::Tick(int64_t nowMicros) {
    std::optional<int64_t> next;
    for (auto& [number, port] : ports_) {
        const std::string reply = port.controller.Tick(nowMicros);
        if (!reply.empty() && port.pty) port.pty->Write(reply);
        auto deadline = port.controller.Deadline();
        if (deadline && (!next || *deadline < *next)) next = deadline;
    }
    return next;
}

}  // namespace kelma
