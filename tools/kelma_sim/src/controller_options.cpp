#include "controller_options.h"

#include <cstdlib>

namespace kelma {

namespace {
constexpr int64_t kMicrosPerMilli = 1000;
}

bool ParseControllerOption(const std::string& name, const std::string& value,
                           ControllerSettings* settings, uint32_t* seed) {
    if (name == "--az-rate")
        settings->azimuthRate = std::atof(value.c_str());
    else if (name == "--el-rate")
        settings->elevationRate = std::atof(value.c_str());
    else if (name == "--quiet-ms")
        settings->quietMicros = std::atoll(value.c_str()) * kMicrosPerMilli;
    else if (name == "--seed")
        *seed = static_cast<uint32_t>(std::atoll(value.c_str()));
    else
        return false;
    return true;
}

bool ValidControllerSettings(const ControllerSettings& settings) {
    return settings.azimuthRate > 0 && settings.elevationRate > 0 && settings.quietMicros >= 0;
}

}  // namespace kelma
