#include "tools/predsim/tracking_format.h"

#include <algorithm>
#include <cstdlib>

#include "dde/winorbit.h"

namespace predsim {
namespace {

constexpr ProgramNames kWinOrbit = {dde::kWinOrbitService, dde::kWinOrbitTopic, dde::kAzElItem,
                                    dde::kSatelliteNameItem};
constexpr ProgramNames kOrbitron = {"Orbitron", "Tracking", "TrackingData", "TrackingData"};
constexpr ProgramNames kSatPc32 = {"SatPC32", "SatPcDdeConv", "SatPcDdeItem", "SatPcDdeItem"};
// The frequencies and modes of the programs' own examples.
constexpr char kOrbitronRadio[] = " DN145800000 UP145800000 UMFM-N";
constexpr char kSatPc32Radio[] = " UP145951275 UMLSB DN435853062 DMUSB MA52.6";
constexpr char kSatPc32Nothing[] = "** NO SATELLITE **";

double Number(std::string text) {
    std::replace(text.begin(), text.end(), ',', '.');
    return strtod(text.c_str(), nullptr);
}

}  // namespace

std::optional<Program> ProgramNamed(std::string_view name) {
    if (name == "winorbit") return Program::kWinOrbit;
    if (name == "orbitron") return Program::kOrbitron;
    if (name == "satpc32") return Program::kSatPc32;
    return std::nullopt;
}

const ProgramNames& NamesOf(Program program) {
    switch (program) {
        case Program::kOrbitron:
            return kOrbitron;
        case Program::kSatPc32:
            return kSatPc32;
        case Program::kWinOrbit:
            break;
    }
    return kWinOrbit;
}

ItemText TrackingFormat::Position(const std::string& azel) {
    if (m_program == Program::kWinOrbit) return {Names().positionItem, azel};
    const size_t bar = azel.find('|');
    m_azimuth = azel.substr(0, bar);
    m_elevation = bar == std::string::npos ? "0" : azel.substr(bar + 1);
    m_positioned = true;
    return {Names().positionItem, DriverText()};
}

std::optional<ItemText> TrackingFormat::Name(const std::string& name) {
    m_name = name;
    if (m_program == Program::kWinOrbit) return ItemText{Names().nameItem, name};
    if (!m_positioned) return std::nullopt;
    return ItemText{Names().nameItem, DriverText()};
}

std::optional<ItemText> TrackingFormat::NothingTracked() const {
    switch (m_program) {
        case Program::kOrbitron:
            return ItemText{Names().positionItem, ""};
        case Program::kSatPc32:
            return ItemText{Names().positionItem, kSatPc32Nothing};
        case Program::kWinOrbit:
            break;
    }
    return std::nullopt;
}

std::string TrackingFormat::DriverText() const {
    std::string name = m_name;
    if (m_program == Program::kOrbitron) std::replace(name.begin(), name.end(), ' ', '_');
    // SatPC32, as set up by default, sends its text only while the satellite is above the
    // horizon.
    if (m_program == Program::kSatPc32 && Number(m_elevation) < 0) return kSatPc32Nothing;
    std::string text = name.empty() ? "" : "SN" + name + " ";
    text += "AZ" + m_azimuth + " EL" + m_elevation;
    return text + (m_program == Program::kOrbitron ? kOrbitronRadio : kSatPc32Radio);
}

}  // namespace predsim
