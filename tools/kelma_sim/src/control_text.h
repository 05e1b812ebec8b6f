// The words and replies of the simulator's text commands, shared by its Linux and Windows front
// ends: one command per line, one reply line ("ok ..." or "err <reason>") per command.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelma {

using Words = std::vector<std::string>;

Words SplitWords(const std::string& line);
// A whole decimal number within min..max; nothing else.
std::optional<long> ParseInteger(const std::string& text, long min, long max);
// A decimal number (strtod's forms, not NaN); nothing else.
std::optional<double> ParseNumber(const std::string& text);

std::string Ok(const std::string& text = {});
std::string Err(const std::string& text);
bool IsError(const std::string& reply);

}  // namespace kelma
