#pragma once
// Optional shared libraries loaded at run time (the disassembler plugin).
//
// Only absolute paths load: a bare or relative name would let the loader look in the current
// folder (or along a search path with an empty entry, which means the same), and a program run as
// root from a folder someone else controls would run that folder's code.

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

// Why a path did not load: "not there", or the loader's own text.
struct LibraryFailure {
    std::string path;
    std::string reason;
};

// Tries each candidate path in turn; nullptr when none loads. Unloaded by the destructor. A
// relative candidate is not tried (on Windows a bare name is looked for in the system folder
// only). Each candidate that did not load is added to `failures` when given.
std::unique_ptr<Library> loadLibrary(const std::vector<std::string>& candidates,
                                     std::vector<LibraryFailure>* failures = nullptr);

// The folder that holds the running program's own file, symbolic links resolved (absolute);
// empty when the system cannot tell.
std::string programFolder();

} // namespace platform
