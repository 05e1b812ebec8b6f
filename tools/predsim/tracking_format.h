// The program the simulator plays: the prediction program itself ("WinOrbit", items "AzEl" and
// "SatelliteName"), or a tracking program that publishes one driver text, Orbitron ("Orbitron",
// "Tracking", "TrackingData") or SatPC32 ("SatPC32", "SatPcDdeConv", "SatPcDdeItem"). Turns the
// script's positions, names and "nothing tracked" into that program's item texts.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace predsim {

enum class Program { kWinOrbit, kOrbitron, kSatPc32 };

struct ProgramNames {
    const char* service;
    const char* topic;
    const char* positionItem;  // "azel" in the script
    const char* nameItem;      // "name" in the script
};

// "winorbit", "orbitron" or "satpc32".
std::optional<Program> ProgramNamed(std::string_view name);
const ProgramNames& NamesOf(Program program);

// An item's new text.
struct ItemText {
    std::string item;
    std::string text;
};

class TrackingFormat {
public:
    explicit TrackingFormat(Program program) : m_program(program) {}

    const ProgramNames& Names() const { return NamesOf(m_program); }
    // A position as "az|el", each number as the program writes it (a comma is kept).
    ItemText Position(const std::string& azel);
    // A new satellite name; a driver text waits for the first position.
    std::optional<ItemText> Name(const std::string& name);
    // The program tracks nothing; the prediction program has no such text.
    std::optional<ItemText> NothingTracked() const;

private:
    std::string DriverText() const;

    Program m_program;
    std::string m_name;
    std::string m_azimuth;
    std::string m_elevation;
    bool m_positioned = false;
};

}  // namespace predsim
