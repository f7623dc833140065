#include "platform/library.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace platform {
namespace {

class DllLibrary final : public Library {
public:
    explicit DllLibrary(HMODULE module) : module_(module) {}
    ~DllLibrary() override { ::FreeLibrary(module_); }
    void* symbol(const std::string& name) override {
        return reinterpret_cast<void*>(::GetProcAddress(module_, name.c_str()));
    }

private:
    HMODULE module_;
};

} // namespace

std::unique_ptr<Library> loadLibrary(const std::vector<std::string>& candidates) {
    // A damaged or mismatched DLL must fail quietly: the program runs without it.
    DWORD oldMode = 0;
    const bool quiet = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    std::unique_ptr<Library> result;
    for (const auto& path : candidates)
        if (HMODULE module = ::LoadLibraryA(path.c_str())) {
            result = std::make_unique<DllLibrary>(module);
            break;
        }
    if (quiet) ::SetThreadErrorMode(oldMode, nullptr);
    return result;
}

std::string programFolder() {
    // Paths may exceed MAX_PATH; grow until the name fits.
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameA(nullptr, path.data(), DWORD(path.size()));
        if (n == 0) return ".";
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace platform
