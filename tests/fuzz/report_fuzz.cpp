// Arbitrary received lines through the position-report rule, and arbitrary Set-box texts and
// angles through the command formats: no out-of-bounds access, and every result keeps the
// rule's promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "rotator/protocol.h"

namespace {

void Check(bool holds) {
    if (!holds) abort();
}

// A formatted angle read back: optional minus, then digits only.
long long ReadBack(const std::string& digits) {
    Check(!digits.empty() && digits.size() <= 11);
    for (size_t i = 0; i < digits.size(); ++i)
        Check((digits[i] >= '0' && digits[i] <= '9') || (i == 0 && digits[i] == '-'));
    return strtoll(digits.c_str(), nullptr, 10);
}

void CheckReport(std::string_view line) {
    const auto report = rotator::ParsePositionReport(line);
    const std::string_view text = line.substr(0, line.find('\0'));
    if (!report) {
        Check(text.size() < 12 || (text[0] != 'A' && text[0] != 'E') || text[2] != 'P');
        return;
    }
    Check(text.size() >= 12 && (text[0] == 'A' || text[0] == 'E') && text[2] == 'P');
    Check((report->axis == rotator::Axis::kAzimuth) == (text[0] == 'A'));
    Check(report->moving == (text.substr(4).find("MV") != std::string_view::npos));
    std::string display = rotator::FormatPositionDisplay(*report);
    if (report->moving) {
        Check(display.size() >= 5 && display.front() == '<' && display.back() == '>');
        display = display.substr(1, display.size() - 2);
    }
    Check(display.size() >= 3 && ReadBack(display) == report->angle);
}

void CheckCommands(int32_t angle) {
    for (rotator::Axis axis : {rotator::Axis::kAzimuth, rotator::Axis::kElevation}) {
        const std::string head = axis == rotator::Axis::kAzimuth ? "A\r\n" : "E\r\n";
        for (const std::string& command :
             {rotator::ManualCommand(axis, angle), rotator::TrackingCommand(axis, angle)}) {
            Check(command.compare(0, 3, head) == 0 && command.size() >= 6);
            Check(command.compare(command.size() - 2, 2, "\r\n") == 0);
            Check(ReadBack(command.substr(3, command.size() - 5)) == angle);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckReport(text);

    const int32_t azimuth = rotator::ManualAngle(rotator::Axis::kAzimuth, text);
    const int32_t elevation = rotator::ManualAngle(rotator::Axis::kElevation, text);
    Check(azimuth >= 0 && azimuth <= rotator::kAzimuthMax);
    Check(elevation >= 0 && elevation <= rotator::kElevationMax);
    // Only the first 19 characters count.
    Check(azimuth == rotator::ManualAngle(rotator::Axis::kAzimuth, text.substr(0, 19)));

    if (size >= sizeof(int32_t)) {
        int32_t angle;
        memcpy(&angle, data, sizeof(angle));
        CheckCommands(angle);
    }
    return 0;
}
