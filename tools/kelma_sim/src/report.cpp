#include "report.h"

#include <cstdio>

namespace kelma {

std::string FormatReport(char axis, double angle, bool moving) {
    char line[32];
    std::snprintf(line, sizeof line, "%c%cP %05.1f %s\r\n", axis,
                  axis == kAzimuthLetter ? 'Z' : 'L', angle, moving ? "MV" : "ST");
    return line;
}

}  // namespace kelma
