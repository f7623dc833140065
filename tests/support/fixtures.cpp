#include "fixtures.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <sys/mount.h>
#include <unistd.h>

namespace fixtures {
namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string templ = (fs::temp_directory_path() / "tarnwick-test-XXXXXX").string();
    if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

uint8_t patternByte(int64_t position, uint8_t seed) {
    // Differs between neighbouring sectors, and repeats nowhere within a few GiB, so a block
    // written to the wrong place shows.
    return uint8_t((position * 131) ^ (position >> 9) ^ (position >> 17) ^ (position >> 25) ^ seed);
}

void writePatternFile(const std::string& path, int64_t size, uint8_t seed) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<char> block(1 << 16);
    for (int64_t pos = 0; pos < size;) {
        const int64_t n = std::min<int64_t>(int64_t(block.size()), size - pos);
        for (int64_t i = 0; i < n; ++i)
            block[size_t(i)] = char(patternByte(pos + i, seed));
        out.write(block.data(), n);
        pos += n;
    }
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> namesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void writeMbr(const std::string& image, const std::vector<Slot>& slots) {
    std::vector<uint8_t> sector(512, 0);
    for (size_t i = 0; i < slots.size() && i < 4; ++i) {
        uint8_t* slot = sector.data() + 446 + 16 * i;
        slot[0] = slots[i].boot ? 0x80 : 0;
        slot[4] = slots[i].type;
        for (int b = 0; b < 4; ++b) {
            slot[8 + b] = uint8_t(slots[i].first >> (8 * b));
            slot[12 + b] = uint8_t(slots[i].count >> (8 * b));
        }
    }
    sector[510] = 0x55;
    sector[511] = 0xAA;
    std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
    f.write(reinterpret_cast<const char*>(sector.data()), 512);
    if (!f) throw std::runtime_error("cannot write a boot record into " + image);
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
             unsigned long flags)
    : folder_(folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    mounted_ = ::mount(device.c_str(), folder.c_str(), type.c_str(), flags, nullptr) == 0;
    error_ = mounted_ ? 0 : errno;
}

void Mount::unmount() {
    if (mounted_ && ::umount(folder_.c_str()) != 0) ::umount2(folder_.c_str(), MNT_DETACH);
    mounted_ = false;
}

} // namespace fixtures
