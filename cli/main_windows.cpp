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

#include <algorithm>
#include <array>
#include <cstdio>
#include <iostream>
#include <streambuf>
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

// Standard output straight to its handle. Windows has no SIGPIPE: a write into a pipe whose reader
// has gone is taken as one here, so that the action stops instead of running on unread and the
// program ends as quietly, and with the same status, as on Linux.
class StdoutBuffer : public std::streambuf {
public:
    StdoutBuffer() : handle_(::GetStdHandle(STD_OUTPUT_HANDLE)) {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }
    StdoutBuffer(const StdoutBuffer&) = delete;
    StdoutBuffer& operator=(const StdoutBuffer&) = delete;

protected:
    int_type overflow(int_type c) override {
        if (!drain()) return traits_type::eof();
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
        return c;
    }
    std::streamsize xsputn(const char* data, std::streamsize count) override {
        if (count <= epptr() - pptr()) return std::streambuf::xsputn(data, count);
        // An image's blocks go out as they are, not through the buffer.
        return drain() && put(data, count) ? count : 0;
    }
    int sync() override { return drain() ? 0 : -1; }

private:
    bool drain() {
        const bool ok = put(pbase(), pptr() - pbase());
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return ok;
    }
    bool put(const char* data, std::streamsize count) {
        while (count > 0) {
            DWORD done = 0;
            const DWORD chunk = DWORD(std::min<std::streamsize>(count, 1 << 24));
            if (!::WriteFile(handle_, data, chunk, &done, nullptr)) {
                const DWORD error = ::GetLastError();
                if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE) cli::detail::recordOutputClosed();
                return false;
            }
            if (done == 0) return false;
            data += done;
            count -= done;
        }
        return true;
    }

    HANDLE handle_;
    std::array<char, 4096> buffer_{};
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
    StdoutBuffer out;
    std::streambuf* const was = std::cout.rdbuf(&out);
    cli::Io io{std::cin, std::cout, std::cerr, _isatty(0) != 0, _isatty(2) != 0};
    const int status = cli::run(args, platform::systemBackend(), io);
    std::cout.flush();
    std::cout.rdbuf(was); // `out` goes before the runtime's last flush of std::cout
    return status;
}
