// The server's event loop: the listening socket, the clients, the controller's port and the
// station, all in one thread that sleeps until a socket, the port or the station's next
// deadline needs it.
#pragma once

#include "kelmarotd/options.h"

namespace kelmarotd {

// Serves until a stop is requested; returns the process exit code.
int RunServer(const Options& options);

}  // namespace kelmarotd
