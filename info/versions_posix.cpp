// Asks the libraries of this process for their versions by symbol, so that a library the
// program does not use is not named.

#include "info/versions.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace info {
namespace {

template <class Fn> Fn lookup(void* handle, const char* name) {
    return reinterpret_cast<Fn>(::dlsym(handle, name));
}

// The first word after the library's own name: "OpenSSL 3.0.11 19 Sep 2023" -> "3.0.11".
std::string secondWord(const char* text) {
    std::string s(text ? text : "");
    const size_t start = s.find(' ');
    if (start == std::string::npos) return s;
    const size_t end = s.find(' ', start + 1);
    return s.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

// The path of a loaded shared object whose file name starts with `prefix`, or empty.
std::string loadedObject(const char* prefix) {
    struct Search {
        std::string_view prefix;
        std::string path;
    } search{prefix, {}};
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            const std::string_view path = info->dlpi_name ? info->dlpi_name : "";
            const size_t slash = path.rfind('/');
            if (path.substr(slash == std::string_view::npos ? 0 : slash + 1).rfind(s->prefix, 0) != 0)
                return 0;
            s->path = path;
            return 1;
        },
        &search);
    return search.path;
}

} // namespace

std::vector<std::string> loadedLibraryVersions() {
    std::vector<std::string> out;
    if (auto zlibVersion = lookup<const char* (*)()>(RTLD_DEFAULT, "zlibVersion"))
        out.push_back(std::string("zlib ") + zlibVersion());
    if (auto opensslVersion = lookup<const char* (*)(int)>(RTLD_DEFAULT, "OpenSSL_version"))
        out.push_back("OpenSSL " + secondWord(opensslVersion(0)));
    if (auto blkidVersion =
            lookup<int (*)(const char**, const char**)>(RTLD_DEFAULT, "blkid_get_library_version")) {
        const char* version = nullptr;
        blkidVersion(&version, nullptr);
        if (version) out.push_back(std::string("libblkid ") + version);
    }
#ifdef TARNWICK_ISAL_VERSION
    // ISA-L has no version call: the one built against, when the library is in the process.
    if (::dlsym(RTLD_DEFAULT, "isal_deflate_init")) out.emplace_back("ISA-L " TARNWICK_ISAL_VERSION);
#endif
#ifdef TARNWICK_UDEV_VERSION
    if (::dlsym(RTLD_DEFAULT, "udev_new")) out.emplace_back("libudev " TARNWICK_UDEV_VERSION);
#endif
    // The disassembler plugin loads Zydis privately: ask the loaded copy, and only if it is there.
    const std::string zydisPath = loadedObject("libZydis.so");
    if (void* zydis = zydisPath.empty() ? nullptr : ::dlopen(zydisPath.c_str(), RTLD_LAZY | RTLD_NOLOAD)) {
        if (auto zydisVersion = lookup<uint64_t (*)()>(zydis, "ZydisGetVersion")) {
            const uint64_t v = zydisVersion();
            char text[64];
            std::snprintf(text, sizeof text, "Zydis %u.%u.%u", unsigned(v >> 48 & 0xFFFF),
                          unsigned(v >> 32 & 0xFFFF), unsigned(v >> 16 & 0xFFFF));
            out.emplace_back(text);
        }
        ::dlclose(zydis);
    }
    return out;
}

} // namespace info
