// Runs one maintenance command of the command line on the machine's own backend, answering as
// the terminal does without a person: for bench/maintenance_bench.sh until tarnwick-cli carries
// the commands. Usage: maintenance_bench_driver checksum|erase|speed|seek OPERAND [--option [value]]...

#include "cli/maintenance_commands.h"
#include "cli/terminal_ui.h"
#include "platform/platform.h"

#include <iostream>
#include <stdexcept>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr
            << "usage: maintenance_bench_driver checksum|erase|speed|seek OPERAND [--option [value]]...\n";
        return 2;
    }
    const std::string command = argv[1];
    std::vector<std::string> operands;
    cli::Options options;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--", 0) != 0) {
            operands.push_back(a);
            continue;
        }
        const bool valued = a == "--pattern" || a == "--offset" || a == "--size" || a == "--png";
        options[a] = valued && i + 1 < argc ? argv[++i] : "";
    }
    TerminalUi ui(std::cin, false, std::cerr, false);
    try {
        auto& backend = platform::systemBackend();
        if (command == "checksum")
            return cli::checksumCommand(backend, operands, options, ui, ui, std::cout, std::cerr);
        if (command == "erase")
            return cli::eraseCommand(backend, operands, options, ui, ui, std::cout, std::cerr);
        if (command == "speed")
            return cli::speedCommand(backend, operands, options, ui, ui, std::cout, std::cerr);
        if (command == "seek")
            return cli::seekCommand(backend, operands, options, ui, ui, std::cout, std::cerr);
    } catch (const std::invalid_argument& e) {
        std::cerr << e.what() << "\n";
        return 2;
    }
    std::cerr << "unknown command " << command << "\n";
    return 2;
}
