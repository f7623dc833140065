#include "platform/library.h"

#include <dlfcn.h>
#include <filesystem>
#include <system_error>

namespace platform {
namespace {

class DlLibrary final : public Library {
public:
    explicit DlLibrary(void* handle) : handle_(handle) {}
    DlLibrary(const DlLibrary&) = delete;
    DlLibrary& operator=(const DlLibrary&) = delete;
    ~DlLibrary() override { ::dlclose(handle_); }
    void* symbol(const std::string& name) override { return ::dlsym(handle_, name.c_str()); }

private:
    void* handle_;
};

} // namespace

std::unique_ptr<Library> loadLibrary(const std::vector<std::string>& candidates,
                                     std::vector<LibraryFailure>* failures) {
    const auto fail = [failures](const std::string& path, std::string reason) {
        if (failures) failures->push_back({path, std::move(reason)});
    };
    for (const auto& path : candidates) {
        // dlopen reads a name without a slash as a search and "dir/x" against the current folder.
        if (path.empty() || path.front() != '/') {
            fail(path, "not an absolute path");
            continue;
        }
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) {
            fail(path, "not there");
            continue;
        }
        if (void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
            return std::make_unique<DlLibrary>(handle);
        // The loader's text starts with the path, which the caller has already.
        const char* error = ::dlerror();
        std::string why = error ? error : "cannot be loaded";
        if (why.rfind(path + ": ", 0) == 0) why.erase(0, path.size() + 2);
        fail(path, why);
    }
    return nullptr;
}

std::string programFolder() {
    // The kernel's link names the file that was executed, whatever name started it.
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || !exe.is_absolute()) return {};
    return exe.parent_path().string();
}

} // namespace platform
