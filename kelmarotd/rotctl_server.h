// The event loop of a rotctld-protocol server: the listening socket, the clients and whatever
// its backend waits on, all in one thread that sleeps until a socket, the backend's handle or
// the backend's next deadline needs it. Every program that serves the protocol shares it and
// brings its own backend.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kelmarotd/platform.h"
#include "kelmarotd/rotctl_front.h"

namespace kelmarotd {

// Events on stderr, each line led by the program's name; client and device traffic only when
// verbose.
class ServerLog {
public:
    ServerLog(std::string program, bool verbose);
    void Event(const std::string& text) const;
    void Traffic(const std::string& who, std::string_view bytes) const;

private:
    std::string program_;
    bool verbose_;
};

// A backend as the event loop drives it.
class ServedBackend : public RotatorBackend {
public:
    // Does whatever is due at `now`.
    virtual void Advance(Millis now) = 0;
    // When Advance next has something to do; nullopt: only input can change anything.
    virtual std::optional<Millis> NextDeadline() const = 0;
    // A handle to wait on for reading beside the sockets (kNoHandle: none), and what to do when
    // it is readable.
    virtual platform::Handle ReadHandle() const = 0;
    virtual void OnReadable(Millis now) = 0;
};

class RotctlServer {
public:
    RotctlServer(ServedBackend* backend, const ServerLog* log);
    RotctlServer(const RotctlServer&) = delete;
    RotctlServer& operator=(const RotctlServer&) = delete;

    // Where the backend sends its answers.
    void Deliver(ClientId client, const std::string& answer);
    // Serves on every address at port (0: any free port, the same on every address; the one
    // taken is logged and handed to `listening`) until a stop is requested; returns the process
    // exit code. An address it cannot listen on ends it before it serves any.
    int Run(const std::vector<std::string>& addresses, uint16_t port,
            const std::function<void(uint16_t)>& listening = {});

private:
    bool ListenAll(const std::vector<std::string>& addresses, uint16_t port, std::string* error);
    void AcceptClients(platform::Handle listener);
    void ReadClient(ClientId id, platform::Handle socket);
    void ServeClients(Millis now);
    int Timeout(Millis now) const;
    void CloseAll();

    ServedBackend* backend_;
    const ServerLog* log_;
    RotctlFront front_;
    std::vector<platform::Handle> listeners_;
    uint16_t port_ = 0;  // the port taken
    std::map<ClientId, platform::Handle> sockets_;
};

}  // namespace kelmarotd
