// kelmarotd: a network rotator server for the KELMA rotator controller. Tracking programs that
// speak the rotctld protocol (Gpredict, SatNOGS, Hamlib's rotctl) drive the controller through
// it, on Linux and on Windows.
#include <cstdio>
#include <string>
#include <vector>

#include "kelmarotd/options.h"
#include "kelmarotd/server.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const kelmarotd::Options options = kelmarotd::ParseOptions(arguments);
    switch (options.action) {
        case kelmarotd::Options::Action::kHelp:
            fputs(kelmarotd::kUsage, stdout);
            return 0;
        case kelmarotd::Options::Action::kVersion:
            puts("kelmarotd " KELMA_VERSION);
            return 0;
        case kelmarotd::Options::Action::kFail:
            fprintf(stderr, "kelmarotd: %s\n%s", options.error.c_str(), kelmarotd::kUsage);
            return 2;
        case kelmarotd::Options::Action::kServe:
            break;
    }
    return kelmarotd::RunServer(options);
}
