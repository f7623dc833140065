#include "platform/library.h"
#include "platform/windows/utf16.h"

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

bool absolutePath(const std::string& path) {
    // "C:\x" or "C:/x", or a UNC or device path.
    const bool drive = path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    const bool unc =
        path.size() > 1 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/');
    return drive || unc;
}

std::string lastErrorText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = n && text ? windows::utf8(text, n) : "error " + std::to_string(code);
    if (text) ::LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
        out.pop_back();
    return out;
}

} // namespace

std::unique_ptr<Library> loadLibrary(const std::vector<std::string>& candidates,
                                     std::vector<LibraryFailure>* failures) {
    // A damaged or mismatched DLL must fail quietly: the program runs without it.
    DWORD oldMode = 0;
    const bool quiet = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    std::unique_ptr<Library> result;
    for (const auto& path : candidates) {
        const bool absolute = absolutePath(path);
        if (!absolute && path.find_first_of("\\/") != std::string::npos) {
            if (failures) failures->push_back({path, "not an absolute path"});
            continue;
        }
        // A bare name comes from the system folder only, never from the current folder; an
        // absolute path finds its own dependencies beside itself.
        const DWORD flags = absolute ? LOAD_WITH_ALTERED_SEARCH_PATH : LOAD_LIBRARY_SEARCH_SYSTEM32;
        if (HMODULE module = ::LoadLibraryExW(windows::wide(path).c_str(), nullptr, flags)) {
            result = std::make_unique<DllLibrary>(module);
            break;
        }
        if (failures) failures->push_back({path, lastErrorText(::GetLastError())});
    }
    if (quiet) ::SetThreadErrorMode(oldMode, nullptr);
    return result;
}

std::string programFolder() {
    // Paths may exceed MAX_PATH; grow until the name fits.
    std::wstring wide(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, wide.data(), DWORD(wide.size()));
        if (n == 0) return {};
        if (n < wide.size()) {
            wide.resize(n);
            break;
        }
        wide.resize(wide.size() * 2);
    }
    const std::string path = windows::utf8(wide);
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace platform
