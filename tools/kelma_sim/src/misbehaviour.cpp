#include "misbehaviour.h"

namespace kelma {

namespace {
constexpr char kCrLf[] = "\r\n";
constexpr int kFirstPrintable = 0x21;
constexpr int kLastPrintable = 0x7e;
}  // namespace

std::string JunkLine(size_t count, std::mt19937& random) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::string out;
    while (out.size() < count) {
        const char c = static_cast<char>(byte(random));
        if (c != '\r' && c != '\n') out += c;
    }
    return out + kCrLf;
}

std::string LongRun(size_t count) {
    std::string out;
    out.reserve(count);
    for (size_t i = 0; i < count; i++)
        out += static_cast<char>(kFirstPrintable + i % (kLastPrintable - kFirstPrintable + 1));
    return out;
}

std::string Burst(size_t count, const std::string& azimuthReport,
                  const std::string& elevationReport) {
    std::string out;
    for (size_t i = 0; i < count; i++) out += (i % 2 == 0) ? azimuthReport : elevationReport;
    return out;
}

std::string NulReport(const std::string& report) {
    std::string text = report.substr(0, report.find_first_of("\r\n"));
    return text + std::string("\0 MV\0", 5) + kCrLf;
}

}  // namespace kelma
