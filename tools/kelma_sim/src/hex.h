// Hex text for bytes on the control connection ("41 0d" is written "410d").
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelma {

std::string HexEncode(std::string_view bytes);
// Two hex digits per byte, either case; nullopt for anything else.
std::optional<std::string> HexDecode(std::string_view text);

}  // namespace kelma
