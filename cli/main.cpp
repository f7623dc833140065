// tarnwick-cli: the command-line interface.

#include "cli/cli.h"
#include "cli/stop_signals.h"
#include "platform/platform.h"

#include <iostream>
#include <unistd.h>

int main(int argc, char** argv) {
    // First of all, so that a stop signal never finds the default action (which would leave a
    // half-written image and the demo drive's folder behind).
    cli::installStopHandlers();
    std::vector<std::string> args(argv + 1, argv + argc);
    cli::Io io{std::cin, std::cout, std::cerr, ::isatty(0) == 1, ::isatty(2) == 1};
    return cli::run(args, platform::systemBackend(), io);
}
