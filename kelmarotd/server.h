// kelmarotd's server: the shared rotctld-protocol event loop with the KELMA controller behind
// it, on a serial port that is reopened while it is missing.
#pragma once

#include "kelmarotd/options.h"

namespace kelmarotd {

// Serves until a stop is requested; returns the process exit code.
int RunServer(const Options& options);

}  // namespace kelmarotd
