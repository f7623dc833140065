#include "platform/linux/sysfs.h"

#include "platform/linux/volumes_linux.h"
#include "platform/platform.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace platform::sysfs {
namespace fs = std::filesystem;

namespace {

std::string readLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// Compares names so that digit runs compare by value: loop2 < loop10, sda < sdb.
bool naturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = std::isdigit(static_cast<unsigned char>(a[i]));
        const bool db = std::isdigit(static_cast<unsigned char>(b[j]));
        if (da && db) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            const std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            const auto trim = [](const std::string& s) {
                const size_t k = s.find_first_not_of('0');
                return k == std::string::npos ? std::string() : s.substr(k);
            };
            const std::string ta = trim(na), tb = trim(nb);
            if (ta.size() != tb.size()) return ta.size() < tb.size();
            if (ta != tb) return ta < tb;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

bool startsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

} // namespace

std::vector<Disk> listDisks(const std::string& sysBlock) {
    std::vector<Disk> disks;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysBlock, ec)) {
        const std::string name = entry.path().filename().string();
        if (startsWith(name, "ram") || startsWith(name, "zram")) continue;
        if (startsWith(name, "loop") && readLine(entry.path() / "size") == "0") continue;
        std::string node = name;
        std::replace(node.begin(), node.end(), '!', '/'); // cciss!c0d0 is /dev/cciss/c0d0
        disks.push_back({name, "/dev/" + node});
    }
    std::sort(disks.begin(), disks.end(),
              [](const Disk& a, const Disk& b) { return naturalLess(a.name, b.name); });
    return disks;
}

DiskPosition wholeDisk(unsigned major, unsigned minor, const std::string& sysDevBlock) {
    DiskPosition pos{major, minor, 0};
    const fs::path dev = fs::path(sysDevBlock) / (std::to_string(major) + ":" + std::to_string(minor));
    std::error_code ec;
    if (!fs::exists(dev / "partition", ec)) return pos;
    // A partition's "start" counts 512-byte sectors whatever the disk's own sector size.
    const std::string start = readLine(dev / "start");
    const std::string parent = readLine(dev / ".." / "dev");
    unsigned pmaj = 0, pmin = 0;
    if (start.empty() || std::sscanf(parent.c_str(), "%u:%u", &pmaj, &pmin) != 2) return pos;
    return {pmaj, pmin, std::stoll(start) * 512};
}

bool isRemovable(unsigned major, unsigned minor) {
    const fs::path dev = fs::path("/sys/dev/block") / (std::to_string(major) + ":" + std::to_string(minor));
    std::error_code ec;
    const fs::path disk = fs::exists(dev / "partition", ec) ? dev / ".." : dev;
    return readLine(disk / "removable") == "1";
}

std::string readAttribute(const std::string& path) {
    return readLine(path);
}

std::string deviceFolder(unsigned major, unsigned minor) {
    return "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
}

std::string diskSerial(unsigned major, unsigned minor) {
    const DiskPosition disk = wholeDisk(major, minor);
    const fs::path dev = deviceFolder(disk.major, disk.minor);
    for (const char* name : {"device/serial", "serial", "wwid", "device/wwid"}) {
        std::string value = readLine(dev / name);
        // Drives pad their serials with blanks, on either side.
        const size_t first = value.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        value = value.substr(first, value.find_last_not_of(" \t") - first + 1);
        return value;
    }
    return {};
}

Result<std::string> volumeNode(const std::string& name) {
    const auto letter = parseVolumeName(name);
    if (!letter) return errnoError(ENOENT);
    return linuxvolumes::volumeDevice(*letter);
}

} // namespace platform::sysfs
