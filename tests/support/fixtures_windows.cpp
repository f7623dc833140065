// The test kit on Windows: a fresh folder under the temporary folder, a shell through _popen, and
// no loop devices or mounts (tests that need them skip and say so).

#include "fixtures.h"

#include "platform/utf8_path.h"
#include "platform/windows/utf16.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <random>
#include <stdexcept>

namespace fixtures {
namespace fs = std::filesystem;

namespace {
constexpr const char* kNoDevices = "loop devices and mounts are Linux's: Windows tests use image files";
}

TempDir::TempDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = fs::temp_directory_path() / ("tarnwick-test-" + std::to_string(random()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder in " +
                             platform::utf8Name(fs::temp_directory_path()));
}

int shell(const std::string& command, std::string* output) {
    FILE* p = ::_popen(command.c_str(), "rb");
    if (!p) return -1;
    std::array<char, 4096> buf{};
    std::string text;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0)
        text.append(buf.data(), n);
    const int status = ::_pclose(p);
    if (output) *output = text;
    return status;
}

bool isRoot() {
    return false;
}

std::string noSuchPathText() {
    wchar_t text[512] = {};
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               ERROR_PATH_NOT_FOUND, 0, text, DWORD(std::size(text)), nullptr);
    while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n'))
        --n;
    return platform::windows::utf8(text, n);
}

LoopDevice::LoopDevice(const std::string&) : reason_(kNoDevices) {}
LoopDevice::LoopDevice(const std::string&, int64_t, const std::string&) : reason_(kNoDevices) {}
LoopDevice::~LoopDevice() = default;
void LoopDevice::detach() {}

PartitionNodes::PartitionNodes(const std::string& disk) : disk_(disk) {}
PartitionNodes::~PartitionNodes() = default;

Mount::Mount(const std::string&, const std::string& folder, const std::string&, unsigned long,
             const std::string&)
    : folder_(folder), error_(ENOSYS) {}

void Mount::unmount() {
    mounted_ = false;
}

} // namespace fixtures
