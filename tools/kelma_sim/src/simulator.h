// The Linux simulator: COM ports 1..9, each a pty with a simulated controller behind it, driven
// by text commands from the control connection (one reply line per command; see README.md).
// The port commands shared with the Windows program live in SimulatedPort; the commands that
// only ptys can do (plugging, holding) are this class's own.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "controller.h"
#include "pty_port.h"
#include "simulated_port.h"

namespace kelma {

struct SimulatorSettings {
    std::string dosdevices;  // $WINEPREFIX/dosdevices
    ControllerSettings controller;
    uint32_t seed = 1;
};

class Simulator {
public:
    static constexpr int kFirstPort = 1;
    static constexpr int kLastPort = 9;

    explicit Simulator(SimulatorSettings settings);

    // Runs one control command; returns its reply line without line end. Sets *quit on "quit".
    std::string HandleControl(const std::string& line, int64_t nowMicros, bool* quit);

    // The ports' master descriptors with their port numbers, for the poll loop; -1 (which
    // poll() skips) for a deaf port, so that a hang-up on its master cannot make the loop spin.
    std::vector<std::pair<int, int>> MasterFds() const;
    bool WantsWrite(int number) const;
    void OnReadable(int number, int64_t nowMicros);
    void OnWritable(int number);
    // Answers polls whose quiet time ran out; returns when it next needs to run, if ever.
    std::optional<int64_t> Tick(int64_t nowMicros);
    // "N path" lines of the plugged ports.
    std::string PathsText() const;

private:
    struct Port {
        SimulatedPort simulated;
        std::unique_ptr<PtyPort> pty;  // null while unplugged
    };
    using Args = Words;

    std::string Plug(int number, int64_t nowMicros);
    std::string Unplug(int number);
    std::string SetPorts(const Args& args, int64_t nowMicros);
    std::string PortCommand(const std::string& name, Port& port, const Args& args,
                            int64_t nowMicros);
    std::string PtyCommand(const std::string& name, const Words& params, PtyPort& pty);
    std::string List() const;

    SimulatorSettings settings_;
    std::map<int, Port> ports_;
    std::mt19937 random_;
};

}  // namespace kelma
