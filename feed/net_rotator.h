// The relay's network source: the rotctld-protocol commands that need a rotator, for the shared
// network front. A position set (P) or the park position (K) goes to the relay, which publishes
// it to the window; p answers the last position set, S answers RPRT 0 and keeps it. The front
// answers everything else itself, as in kelmarotd. Plain C++: the relay's Win32 side runs it on
// the server's thread and hands the positions over to its own.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "kelmarotd/rotctl_server.h"
#include "kelmarotd/station.h"
#include "rotator/position.h"

namespace kelmafeed {

class NetRotator : public kelmarotd::ServedBackend {
public:
    using Answer = std::function<void(kelmarotd::ClientId, const std::string&)>;
    using Publish = std::function<void(rotator::Position)>;
    // How many clients have sent a rotator command and are still connected.
    using Clients = std::function<void(size_t)>;

    // The limits and the park position as kelmarotd's settings hold them.
    NetRotator(const kelmarotd::StationSettings& settings, Answer answer, Publish publish,
               Clients clients);

    void Submit(kelmarotd::ClientId client, const kelmarotd::Request& request,
                kelmarotd::Millis now) override;
    void ForgetClient(kelmarotd::ClientId client) override;
    std::string Info() const override;
    kelmarotd::Limits AngleLimits() const override;

    // Nothing to wait for: every command is answered at once.
    void Advance(kelmarotd::Millis) override {}
    std::optional<kelmarotd::Millis> NextDeadline() const override { return std::nullopt; }
    kelmarotd::platform::Handle ReadHandle() const override {
        return kelmarotd::platform::kNoHandle;
    }
    void OnReadable(kelmarotd::Millis) override {}

private:
    void Set(rotator::Position position);

    kelmarotd::Limits m_limits;
    rotator::Position m_park;
    rotator::Position m_last;  // p's answer; the park position until a client sets one
    Answer m_answer;
    Publish m_publish;
    Clients m_clients;
    std::set<kelmarotd::ClientId> m_commanding;
};

}  // namespace kelmafeed
