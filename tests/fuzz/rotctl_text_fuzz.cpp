// Arbitrary client bytes through the line reader, the request parser, the answer format and the
// network front, arbitrary controller bytes through the station and arbitrary -T values through
// the listening-address rule: no out-of-bounds access, lines stay bounded, and every answer is
// well formed.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kelmarotd/listen_address.h"
#include "kelmarotd/rotctl_front.h"
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
        Check(line->text.find_first_of("\r\n") == std::string::npos);
        const kelmarotd::Request request = kelmarotd::ParseRequest(line->text);
        if (request.command == kelmarotd::Command::kSetPosition)
            Check(std::isfinite(request.azimuth) && std::isfinite(request.elevation));
        CheckAnswer(request);
    }
}

// Answers every request at once, as a backend whose rotator is always ready.
class AnsweringBackend : public kelmarotd::RotatorBackend {
public:
    kelmarotd::RotctlFront* front = nullptr;
    void Submit(kelmarotd::ClientId client, const kelmarotd::Request& request,
                kelmarotd::Millis) override {
        front->Deliver(client, kelmarotd::FormatReply(request, kelmarotd::Reply{}));
    }
    void ForgetClient(kelmarotd::ClientId) override {}
    std::string Info() const override { return "fuzz"; }
    kelmarotd::Limits AngleLimits() const override { return {0, 360, 0, 180}; }
};

// Whatever a client sends, the front's output is whole answer lines.
void CheckFront(std::string_view bytes) {
    AnsweringBackend backend;
    kelmarotd::RotctlFront front(&backend);
    backend.front = &front;
    const kelmarotd::ClientId id = front.Connect();
    front.Receive(id, bytes);
    front.TakeLines(id, 0);
    const std::string_view output = front.Output(id);
    Check(output.empty() || output.back() == '\n');
    front.Disconnect(id);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckLines(bytes, size > 0 ? 1 + data[0] % 64 : 1);
    CheckFront(bytes);
    // A -T value is taken exactly when it is a numeric address.
    Check(kelmarotd::ListenAddresses().Add(std::string(bytes)).has_value() !=
          kelmarotd::ParseNumericAddress(bytes).has_value());

    SilentPort port;
    size_t answers = 0;
    kelmarotd::Station station({}, &port,
                               [&answers](kelmarotd::ClientId, const std::string&) { ++answers; });
    station.OnPortOpened(0);
    station.Submit(1, kelmarotd::ParseRequest("p"), 0);
    station.OnControllerBytes(bytes, 1);
    station.Advance(kelmarotd::kReportWaitMs);
    Check(answers == 1);
    return 0;
}
