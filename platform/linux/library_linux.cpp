#include "platform/library.h"

#include <dlfcn.h>
#include <filesystem>

namespace platform {
namespace {

class DlLibrary final : public Library {
public:
    explicit DlLibrary(void* handle) : handle_(handle) {}
    ~DlLibrary() override { ::dlclose(handle_); }
    void* symbol(const std::string& name) override { return ::dlsym(handle_, name.c_str()); }

private:
    void* handle_;
};

} // namespace

std::unique_ptr<Library> loadLibrary(const std::vector<std::string>& candidates) {
    for (const auto& path : candidates)
        if (void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return std::make_unique<DlLibrary>(handle);
    return nullptr;
}

std::string programFolder() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

} // namespace platform
