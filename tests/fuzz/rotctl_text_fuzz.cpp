// Arbitrary client bytes through the line reader, the request parser and the answer format,
// and arbitrary controller bytes through the station: no out-of-bounds access, lines stay
// bounded, and every answer is well formed.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kelmarotd/rotctl_text.h"
#include "kelmarotd/station.h"

namespace {

void Check(bool holds) {
    if (!holds) abort();
}

class SilentPort : public kelmarotd::ControllerPort {
public:
    bool IsOpen() const override { return true; }
    bool Write(std::string_view) override { return true; }
};

void CheckAnswer(const kelmarotd::Request& request) {
    const kelmarotd::Reply reply{kelmarotd::Status::kIoError, {{"Key", "1.000000", "key"}}};
    const std::string text = kelmarotd::FormatReply(request, reply);
    Check(text.size() >= 8 && text.compare(text.size() - 8, 8, "RPRT -6\n") == 0);
    if (!request.separator || *request.separator == '\n') return;
    // The one-line forms: a single line end, at the end.
    Check(text.find('\n') == text.size() - 1);
}

void CheckLines(std::string_view bytes, size_t chunk) {
    kelmarotd::LineReader reader;
    while (!bytes.empty()) {
        const size_t used = reader.Feed(bytes.substr(0, chunk));
        Check(used > 0 && used <= chunk);
        bytes.remove_prefix(used);
        const auto line = reader.TakeLine();
        if (!line) continue;
        Check(line->text.size() <= kelmarotd::kMaxLineLength);
        Check(line->text.find('\n') == std::string::npos);
        const kelmarotd::Request request = kelmarotd::ParseRequest(line->text);
        if (request.command == kelmarotd::Command::kSetPosition)
            Check(std::isfinite(request.azimuth) && std::isfinite(request.elevation));
        CheckAnswer(request);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckLines(bytes, size > 0 ? 1 + data[0] % 64 : 1);

    SilentPort port;
    size_t answers = 0;
    kelmarotd::Station station({}, &port,
                               [&answers](kelmarotd::ClientId, const std::string&) { ++answers; });
    station.OnPortOpened(0);
    station.Submit(1, kelmarotd::ParseRequest("p"), 0);
    station.OnControllerBytes(bytes, 1);
    station.Advance(kelmarotd::kReportWaitMs);
    Check(answers == 1 && !station.HasRequest(1));
    return 0;
}
