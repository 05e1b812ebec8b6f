// The performance counter in microseconds, for time stamps and latency figures: the same clock
// in every process of the machine.
#pragma once

#include <cstdint>

namespace framework {

int64_t NowMicroseconds();

}  // namespace framework
