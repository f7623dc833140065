#pragma once
// The optional disassembler library (libDisasm.so, Disasm.dll), loaded once at start-up and
// unloaded when the object goes. The program runs without it. Nothing outside this class sees the
// library's entry point, its text buffer or its record.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class Library;
}

namespace disasm {

// The instruction sets the library decodes; the values are the library's mode numbers.
enum class Mode : int32_t { Protected32 = 1, Long64 = 2, Real16 = 3 };

// One row of a listing: the library's three tab-separated fields.
struct Fields {
    std::string address;     // trimmed
    std::string prefix;      // the instruction's bytes
    std::string disassembly; // the instruction
    bool operator==(const Fields&) const = default;
};

// Splits the library's text at its first two tabs. A missing tab leaves the field it would have
// ended empty and hands the rest on: text without a tab is all disassembly.
Fields splitFields(std::string_view text);

struct Decoded {
    Fields fields;
    int32_t length = 0; // as the library reported it; a caller must not trust it to be 1..15
};

class DisasmLibrary {
public:
    // Loads the library from searchPaths().
    static DisasmLibrary load();
    // Tries each absolute path in turn (tests, and front ends that look elsewhere).
    static DisasmLibrary loadFrom(const std::vector<std::string>& candidates);
    // A library that is not there.
    static DisasmLibrary none() { return DisasmLibrary(); }
    // The file name looked for: libDisasm.so, or Disasm.dll on Windows.
    static const char* fileName();
    // Where load() looks, absolute paths only, built from the program's real location: beside
    // the program (a build, or Windows), then the installed plugin folder (on Linux
    // <program folder>/../lib/tarnwick). Never a bare name: the loader would also search the
    // current folder. Empty when the program cannot tell where it lies.
    static std::vector<std::string> searchPaths();
    // Why the library is not available, naming every path tried: "Could not load libDisasm.so
    // (looked for /usr/bin/libDisasm.so: not there; ...)."
    std::string notLoadedMessage() const;

    DisasmLibrary(DisasmLibrary&&) noexcept;
    DisasmLibrary& operator=(DisasmLibrary&&) noexcept;
    ~DisasmLibrary();

    // The library and its export were both found.
    bool available() const { return entry_ != nullptr; }

    // Decodes the instruction at the start of `code`, which lies at `address`. Nothing outside
    // `code` is read: a span shorter than the library's read-ahead is decoded from a zero-padded
    // copy. Throws std::logic_error when the library is not available.
    Decoded decode(std::span<const uint8_t> code, uint32_t address, Mode mode = Mode::Real16) const;

private:
    using Entry = int32_t (*)(const uint8_t*, uint32_t, char*, void*, int32_t);
    DisasmLibrary();
    std::unique_ptr<platform::Library> library_;
    Entry entry_ = nullptr;
    std::vector<std::string> tried_; // "path: why not", for notLoadedMessage()
};

} // namespace disasm
