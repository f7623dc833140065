// The test kit's pieces that only a POSIX system has: mkdtemp, a shell through popen, loop
// devices and mounts.

#include "fixtures.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fixtures {
namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string templ = (fs::temp_directory_path() / "tarnwick-test-XXXXXX").string();
    if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

int shell(const std::string& command, std::string* output) {
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return -1;
    std::array<char, 4096> buf{};
    std::string text;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0)
        text.append(buf.data(), n);
    const int status = ::pclose(p);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool isRoot() {
    return ::geteuid() == 0;
}

std::string noSuchPathText() {
    return std::strerror(ENOENT);
}

LoopDevice::LoopDevice(const std::string& image) {
    if (::geteuid() != 0) {
        reason_ = "loop devices need root";
        return;
    }
    std::string out;
    if (shell("losetup -f --show '" + image + "' 2>/dev/null", &out) != 0 || out.empty()) {
        reason_ = "losetup could not attach a loop device here";
        return;
    }
    node_ = out.substr(0, out.find('\n'));
}

LoopDevice::~LoopDevice() {
    if (!node_.empty()) shell("losetup -d '" + node_ + "' 2>/dev/null");
}

LoopDevice::LoopDevice(const std::string& image, int64_t offset, const std::string& node) {
    if (::geteuid() != 0) {
        reason_ = "loop devices need root";
        return;
    }
    const std::string where = node.empty() ? std::string("-f --show") : "'" + node + "'";
    const std::string command = "losetup -o " + std::to_string(offset) + " " + where + " '" + image + "'";
    std::string out;
    if (shell(command + " 2>/dev/null", &out) != 0 || (node.empty() && out.empty())) {
        reason_ = node.empty() ? "losetup could not attach a loop device here" : node + " is taken";
        return;
    }
    node_ = node.empty() ? out.substr(0, out.find('\n')) : node;
}

void LoopDevice::detach() {
    if (!node_.empty()) shell("losetup -d '" + node_ + "' 2>/dev/null");
    node_.clear();
}

PartitionNodes::PartitionNodes(const std::string& disk) : disk_(disk) {
    added_ = !disk.empty() && shell("partx -a '" + disk + "' 2>/dev/null") == 0 && fs::exists(node(1));
}

PartitionNodes::~PartitionNodes() {
    if (!disk_.empty()) shell("partx -d '" + disk_ + "' 2>/dev/null");
}

Mount::Mount(const std::string& device, const std::string& folder, const std::string& type,
             unsigned long flags, const std::string& options)
    : folder_(folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    mounted_ = ::mount(device.c_str(), folder.c_str(), type.c_str(), flags,
                       options.empty() ? nullptr : options.c_str()) == 0;
    error_ = mounted_ ? 0 : errno;
}

void Mount::unmount() {
    if (mounted_ && ::umount(folder_.c_str()) != 0) ::umount2(folder_.c_str(), MNT_DETACH);
    mounted_ = false;
}

} // namespace fixtures
