// The network front of a rotctld-protocol server, apart from its sockets: each client's bytes
// become lines and requests, and its answers come back in the order of its commands. What
// needs the rotator (set_pos, get_pos, stop, park) goes to a backend; everything else the front
// answers itself at once, whatever the backend is busy with: get_info, dump_state, quit, unknown
// commands and the commands no backend here performs. Blank and comment lines get no answer.
//
// One line of a client at a time: its next line is taken once the backend has answered the
// previous one, so answers cannot overtake each other. A client that does not read its answers
// is closed once more than kMaxQueuedAnswerBytes wait for it, instead of holding them forever.
//
// Plain C++ without I/O: the shell (rotctl_server.h) passes in received bytes and the time,
// sends what Output() holds and closes the clients the front says are finished.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "kelmarotd/rotctl_text.h"

namespace kelmarotd {

using Millis = int64_t;  // a steady clock, in milliseconds
using ClientId = uint64_t;

// Beyond the kernel's socket buffers; a client that reads at all never gets near it.
constexpr size_t kMaxQueuedAnswerBytes = 64 * 1024;

// What serves the commands that need the rotator.
class RotatorBackend {
public:
    virtual ~RotatorBackend() = default;
    // set_pos, get_pos, stop or park. The answer comes once, later or at once, through the
    // front's Deliver, unless the client is forgotten first.
    virtual void Submit(ClientId client, const Request& request, Millis now) = 0;
    // The client is gone: nothing more is answered to it.
    virtual void ForgetClient(ClientId client) = 0;
    virtual std::string Info() const = 0;  // the get_info answer
    virtual Limits AngleLimits() const = 0;
};

class RotctlFront {
public:
    // Told each line taken and each answer, for a verbose log: "client 3 >" and the text.
    using TrafficSink = std::function<void(const std::string& who, std::string_view text)>;

    enum class Ending {
        kNone,        // still served
        kQuit,        // sent quit and has its answers
        kGone,        // closed its side and has every answer
        kNotReading,  // its answers passed the bound
    };

    explicit RotctlFront(RotatorBackend* backend, TrafficSink traffic = {});

    ClientId Connect();
    // The shell closed the client: the backend forgets it.
    void Disconnect(ClientId client);
    void Receive(ClientId client, std::string_view bytes);
    void PeerClosed(ClientId client);
    // The backend's answer to the client's request.
    void Deliver(ClientId client, const std::string& answer);
    // Takes the client's lines as far as it may now.
    void TakeLines(ClientId client, Millis now);

    // The answers not yet sent, and how many of them the shell sent.
    std::string_view Output(ClientId client) const;
    void Sent(ClientId client, size_t count);
    // Whether more bytes from the client are wanted: none wait unread.
    bool WantsInput(ClientId client) const;
    Ending EndingOf(ClientId client) const;

private:
    struct Session {
        LineReader reader;
        std::string unread;    // received, not yet taken into a line
        std::string output;    // answers not yet sent
        bool waiting = false;  // a request is with the backend
        bool peerClosed = false;
        bool quitting = false;
    };

    void Take(ClientId id, Session& session, const LineReader::Line& line, Millis now);
    void Answer(ClientId id, Session& session, const std::string& text);
    std::string Who(ClientId id, const char* direction) const;

    RotatorBackend* backend_;
    TrafficSink traffic_;
    std::map<ClientId, Session> sessions_;
    ClientId nextId_ = 1;
};

}  // namespace kelmarotd
