// Arbitrary server bytes through kelmatrack's conversation: the dump_state answer, then the
// answers to positions, with positions commanded in between. No out-of-bounds access, limits
// learned only when they make a range, and nothing sent but the request and whole "P" lines.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kelmarotd/rotctl_text.h"
#include "kelmatrack/rotator_link.h"

namespace {

void Check(bool holds) {
    if (!holds) abort();
}

// Each line of what the link sends is the request or a position.
void CheckSent(const std::string& sent) {
    size_t start = 0;
    for (size_t end; (end = sent.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = sent.substr(start, end - start);
        const kelmarotd::Request request = kelmarotd::ParseRequest(line);
        Check(request.command == kelmarotd::Command::kDumpState ||
              request.command == kelmarotd::Command::kSetPosition);
    }
    Check(start == sent.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    kelmatrack::RotatorLink link;
    kelmarotd::LineReader reader;
    int64_t now = 0;
    link.Start(now);
    CheckSent(link.Take());
    for (std::string_view rest = bytes; !rest.empty();) {
        rest.remove_prefix(reader.Feed(rest));
        const auto line = reader.TakeLine();
        if (!line) continue;
        now += 10;
        link.Command({static_cast<int>(now % 720) - 180, static_cast<int>(now % 181)}, now);
        const kelmatrack::RotatorLink::Outcome outcome = link.OnLine(line->text, now);
        if (outcome.limitsLearned) {
            const plan::RotatorLimits& l = link.Limits();
            Check(std::isfinite(l.min_azimuth_deg) && std::isfinite(l.max_elevation_deg));
            Check(l.min_azimuth_deg < l.max_azimuth_deg &&
                  l.min_elevation_deg < l.max_elevation_deg);
        }
        CheckSent(link.Take());
        if (!outcome.failure.empty()) link.Start(now);  // the shell connects again
        CheckSent(link.Take());
    }
    return 0;
}
