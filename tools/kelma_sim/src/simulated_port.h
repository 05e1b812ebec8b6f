// One simulated controller behind one port, with the port commands both front ends share: looking
// at what the program sent, steering the model, and misbehaving on the line. The front end owns
// the line (a pty master on Linux, a COM port on Windows) and adds commands of its own.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "control_text.h"
#include "controller.h"
#include "serial_line.h"

namespace kelma {

// What a port command needs: Model commands also work while the cable is unplugged.
enum class PortCommandKind { Model, Line };

// The kind of a shared port command; nullopt when the name is none of them.
std::optional<PortCommandKind> KindOfPortCommand(const std::string& name);
// The names of the shared port commands, space-separated.
const char* PortCommandNames();

class SimulatedPort {
public:
    SimulatedPort(const ControllerSettings& settings, int64_t nowMicros);

    // Bytes the program wrote at nowMicros; the controller's answers go out on line.
    void Receive(const std::string& bytes, int64_t nowMicros, SerialLine* line);
    // Lets time pass; a poll whose quiet time ran out is answered on line, when there is one.
    void Tick(int64_t nowMicros, SerialLine* line);
    std::optional<int64_t> Deadline() const { return controller_.Deadline(); }

    // Runs a shared port command: its name and the words after the port number. line may be null
    // only for Model commands. Returns the reply line.
    std::string Run(const std::string& name, const Words& params, int64_t nowMicros,
                    SerialLine* line, std::mt19937& random);

private:
    struct Chunk {
        int64_t micros;
        std::string bytes;
    };

    std::string RunModel(const std::string& name, const Words& params, int64_t nowMicros);
    std::string RunLine(const std::string& name, const Words& params, int64_t nowMicros,
                        SerialLine& line, std::mt19937& random);
    std::string Received(bool withTimes) const;
    std::string Get(int64_t nowMicros);
    std::string SetAxes(const std::string& name, const Words& params, int64_t nowMicros);
    std::string Misbehave(const std::string& name, const Words& params, int64_t nowMicros,
                          SerialLine& line, std::mt19937& random);

    Controller controller_;
    std::vector<Chunk> received_;
};

}  // namespace kelma
