#pragma once
// The optional disassembler plugin, loaded once at start-up. The program runs without it.

#include <cstdint>
#include <memory>
#include <string>

namespace platform {
class Library;
}

namespace disasm {

// int32 DisAssemble(code, address, text, record, mode): returns the text length written.
using DisAssembleFn = int32_t (*)(const uint8_t* code, uint32_t address, char* text, void* record, int32_t mode);

class DisasmLibrary {
public:
    // Loads libDisasm.so from the program's folder, else from the system's library path.
    static DisasmLibrary load();
    // A library that is not there (tests and the command line).
    static DisasmLibrary none() { return DisasmLibrary(); }

    DisasmLibrary(DisasmLibrary&&) noexcept;
    DisasmLibrary& operator=(DisasmLibrary&&) noexcept;
    ~DisasmLibrary();

    // The library and its export were both found.
    bool available() const { return entry_ != nullptr; }
    DisAssembleFn entry() const { return entry_; }

private:
    DisasmLibrary();
    std::unique_ptr<platform::Library> library_;
    DisAssembleFn entry_ = nullptr;
};

} // namespace disasm
