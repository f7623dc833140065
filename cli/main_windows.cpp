// tarnwick-cli for Windows: the arguments arrive as UTF-16 and are passed on as UTF-8, so that a
// name in any script reaches the engines whole; the standard streams carry bytes unchanged.

#include "cli/cli.h"
#include "cli/stop_signals.h"
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

std::string utf8(const wchar_t* text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(size_t(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(size_t(n - 1));
    return out;
}

// The console shows our UTF-8 as UTF-8 while we run; the user's own setting comes back after.
class ConsoleCodePage {
public:
    ConsoleCodePage() : was_(::GetConsoleOutputCP()) {
        if (was_ != 0) ::SetConsoleOutputCP(CP_UTF8);
    }
    ~ConsoleCodePage() {
        if (was_ != 0) ::SetConsoleOutputCP(was_);
    }
    ConsoleCodePage(const ConsoleCodePage&) = delete;
    ConsoleCodePage& operator=(const ConsoleCodePage&) = delete;

private:
    UINT was_;
};

} // namespace

int wmain(int argc, wchar_t** argv) {
    // First of all, so that a stop never finds the default action (which would leave a
    // half-written image and the demo drive's folder behind).
    cli::installStopHandlers();
    // Images go through standard input and output: no CR/LF translation, no end at a 0x1A byte.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    const ConsoleCodePage console;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(utf8(argv[i]));
    cli::Io io{std::cin, std::cout, std::cerr, _isatty(0) != 0, _isatty(2) != 0};
    return cli::run(args, platform::systemBackend(), io);
}
