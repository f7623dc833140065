// tarnwick-cli: the command-line interface.

#include "cli/cli.h"
#include "cli/terminal_ui.h"
#include "platform/platform.h"

#include <csignal>
#include <iostream>
#include <unistd.h>

int main(int argc, char** argv) {
    // Ctrl+C asks the running action to stop at its next block, so it can close what it opened.
    std::signal(SIGINT, [](int) { TerminalUi::interrupted() = true; });
    std::vector<std::string> args(argv + 1, argv + argc);
    cli::Io io{std::cin, std::cout, std::cerr, ::isatty(0) == 1, ::isatty(2) == 1};
    return cli::run(args, platform::systemBackend(), io);
}
