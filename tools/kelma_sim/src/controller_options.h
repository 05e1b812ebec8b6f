// The command-line options both front ends take: the axis rates, the poll quiet time and the
// seed of the junk bytes.
#pragma once

#include <cstdint>
#include <string>

#include "controller.h"

namespace kelma {

constexpr const char* kControllerOptionsUsage =
    "[--az-rate DEG/S] [--el-rate DEG/S] [--quiet-ms MS] [--seed N]";

// Takes one option and its value; false when the name is none of these options.
bool ParseControllerOption(const std::string& name, const std::string& value,
                           ControllerSettings* settings, uint32_t* seed);
bool ValidControllerSettings(const ControllerSettings& settings);

}  // namespace kelma
