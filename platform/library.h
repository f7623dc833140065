#pragma once
// Optional shared libraries loaded at run time (the disassembler plugin).

#include <memory>
#include <string>
#include <vector>

namespace platform {

class Library {
public:
    virtual ~Library() = default;
    // The address of an exported symbol, or nullptr.
    virtual void* symbol(const std::string& name) = 0;
};

// Tries each candidate path in turn; nullptr when none loads. Unloaded by the destructor.
std::unique_ptr<Library> loadLibrary(const std::vector<std::string>& candidates);

// The folder of the running program.
std::string programFolder();

} // namespace platform
