#include "simulator.h"

#include <optional>

namespace kelma {

namespace {

std::optional<int> ParsePortNumber(const std::string& text) {
    auto n = ParseInteger(text, Simulator::kFirstPort, Simulator::kLastPort);
    return n ? std::optional<int>(static_cast<int>(*n)) : std::nullopt;
}

}  // namespace

Simulator::Simulator(SimulatorSettings settings)
    : settings_(std::move(settings)), random_(settings_.seed) {}

std::string Simulator::Plug(int number, int64_t nowMicros) {
    auto it =
        ports_.try_emplace(number, Port{SimulatedPort(settings_.controller, nowMicros), {}}).first;
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
        if (IsError(reply)) return reply;
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

std::string Simulator::PtyCommand(const std::string& name, const Words& params, PtyPort& pty) {
    if (name == "hold" || name == "release") {
        std::string error;
        const bool ok = name == "hold" ? pty.Hold(&error) : pty.Release(&error);
        return ok ? Ok() : Err(error);
    }
    if (name == "stall" && params.size() == 1 && (params[0] == "on" || params[0] == "off")) {
        std::string error;
        return pty.Stall(params[0] == "on", &error) ? Ok() : Err(error);
    }
    if (name == "deaf" && params.size() == 1 && (params[0] == "on" || params[0] == "off")) {
        pty.SetDeaf(params[0] == "on");
        return Ok();
    }
    return Err("bad command: " + name);
}

std::string Simulator::PortCommand(const std::string& name, Port& port, const Args& args,
                                   int64_t nowMicros) {
    const Words params(args.begin() + 2, args.end());
    const auto kind = KindOfPortCommand(name);
    if (kind == PortCommandKind::Model)
        return port.simulated.Run(name, params, nowMicros, nullptr, random_);
    // The rest talk over the cable, so the port must be plugged in.
    if (!port.pty) return Err("port " + args[1] + " unplugged");
    if (kind == PortCommandKind::Line)
        return port.simulated.Run(name, params, nowMicros, port.pty.get(), random_);
    return PtyCommand(name, params, *port.pty);
}

std::string Simulator::HandleControl(const std::string& line, int64_t nowMicros, bool* quit) {
    const Args args = SplitWords(line);
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
        return Ok(std::string("ports plug unplug hold release stall deaf list ") +
                  PortCommandNames() + " now quit");
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
        if (port.pty) fds.emplace_back(number, port.pty->Deaf() ? -1 : port.pty->MasterFd());
    return fds;
}

bool Simulator::WantsWrite(int number) const {
    auto it = ports_.find(number);
    return it != ports_.end() && it->second.pty && it->second.pty->HasPendingOutput();
}

void Simulator::OnReadable(int number, int64_t nowMicros) {
    Port& port = ports_.at(number);
    if (port.pty) port.simulated.Receive(port.pty->Read(), nowMicros, port.pty.get());
}

void Simulator::OnWritable(int number) {
    Port& port = ports_.at(number);
    if (port.pty) port.pty->Flush();
}

std::optional<int64_t> Simulator::Tick(int64_t nowMicros) {
    std::optional<int64_t> next;
    for (auto& [number, port] : ports_) {
        port.simulated.Tick(nowMicros, port.pty.get());
        auto deadline = port.simulated.Deadline();
        if (deadline && (!next || *deadline < *next)) next = deadline;
    }
    return next;
}

}  // namespace kelma
