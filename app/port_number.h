// The number of the COM port named on the command line.
#pragma once

#include <cstdint>
#include <string_view>

namespace app {

constexpr int32_t kDefaultComPort = 1;

// The leading decimal number of an argument (white space, optional sign, digits; none gives
// 0); a number below 1 gives port 1. Numbers beyond 32 bits saturate, so they never turn
// into a negative or otherwise wrong port.
int32_t PortFromArgument(std::string_view argument);

}  // namespace app
