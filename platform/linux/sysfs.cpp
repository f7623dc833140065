#include "platform/linux/sysfs.h"

#include "platform/linux/volumes_linux.h"
#include "platform/platform.h"

#include <libudev.h>
#include <linux/major.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

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

// Drives pad their texts with blanks, on either side.
std::string trimmed(const std::string& value) {
    const size_t first = value.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return value.substr(first, value.find_last_not_of(" \t") - first + 1);
}

// udev's *_ENC properties write unsafe bytes (blanks among them) as \xNN.
std::string decodeUdev(const char* text) {
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    std::string out;
    for (const char* p = text; p && *p; ++p) {
        if (p[0] == '\\' && p[1] == 'x' && hex(p[2]) && hex(p[3])) {
            out += char(std::stoi(std::string(p + 2, 2), nullptr, 16));
            p += 3;
        } else {
            out += *p;
        }
    }
    return trimmed(out);
}

struct UdevFree {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

// The bus a disk hangs on, from the subsystems of the devices above it: a USB stick's disk sits
// under a SCSI device, which sits under the USB device, so the outer buses count first.
std::string busOf(udev_device* disk) {
    std::vector<std::string> subsystems;
    for (udev_device* d = udev_device_get_parent(disk); d; d = udev_device_get_parent(d))
        if (const char* s = udev_device_get_subsystem(d)) subsystems.push_back(s);
    const auto has = [&](const char* name) {
        return std::find(subsystems.begin(), subsystems.end(), name) != subsystems.end();
    };
    for (const char* bus : {"usb", "nvme", "mmc", "virtio", "xen"})
        if (has(bus)) return bus;
    const char* path = udev_device_get_syspath(disk);
    if (path && std::string(path).find("/ata") != std::string::npos) return "ata";
    if (has("scsi")) return "scsi";
    return {};
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

DriveIdentity driveIdentity(unsigned major, unsigned minor) {
    const DiskPosition disk = wholeDisk(major, minor);
    const fs::path dev = deviceFolder(disk.major, disk.minor);
    DriveIdentity id;
    std::ifstream uevent(dev / "uevent");
    for (std::string line; std::getline(uevent, line);)
        if (startsWith(line, "DEVNAME=")) id.node = "/dev/" + line.substr(8);
    const std::string sectors = readLine(dev / "size"); // 512-byte units whatever the sector size
    if (!sectors.empty() && sectors.size() < 19 &&
        std::all_of(sectors.begin(), sectors.end(), [](char c) { return c >= '0' && c <= '9'; }))
        id.size = std::stoll(sectors) * 512;
    id.removable = readLine(dev / "removable") == "1";
    id.rotational = readLine(dev / "queue/rotational") == "1";
    std::error_code ec;
    // The node tells loop devices apart; what they present is a file, not a product.
    if (disk.major == LOOP_MAJOR || fs::exists(dev / "loop", ec)) {
        id.bus = "loop";
        return id;
    }
    // The device above the disk names the product in its own way; a virtio device's "vendor"
    // is a PCI number, not a name.
    const std::string kind = fs::read_symlink(dev / "device/subsystem", ec).filename().string();
    if (kind == "scsi" || kind == "nvme") id.model = trimmed(readLine(dev / "device/model"));
    if (kind == "scsi") id.vendor = trimmed(readLine(dev / "device/vendor"));
    if (kind == "mmc") id.model = trimmed(readLine(dev / "device/name"));

    // The udev database knows USB serials and buses by name; it is empty where udevd does not
    // run, and then the device tree above the disk tells the bus.
    const std::unique_ptr<udev, UdevFree> u(udev_new());
    const std::unique_ptr<udev_device, UdevFree> d(
        u ? udev_device_new_from_devnum(u.get(), 'b', makedev(disk.major, disk.minor)) : nullptr);
    std::string serial;
    if (d) {
        const auto property = [&](const char* name) {
            return decodeUdev(udev_device_get_property_value(d.get(), name));
        };
        id.bus = property("ID_BUS");
        if (id.bus.empty()) id.bus = busOf(d.get());
        if (id.model.empty()) id.model = property("ID_MODEL_ENC");
        if (id.vendor.empty()) id.vendor = property("ID_VENDOR_ENC");
        serial = property("ID_SERIAL_SHORT");
        // A USB disk's serial is the USB device's, which the SCSI layer below does not repeat.
        if (serial.empty() && id.bus == "usb")
            if (udev_device* usb =
                    udev_device_get_parent_with_subsystem_devtype(d.get(), "usb", "usb_device"))
                serial = decodeUdev(udev_device_get_sysattr_value(usb, "serial"));
    }
    id.serial = serial.empty() ? diskSerial(disk.major, disk.minor) : serial;
    return id;
}

Result<std::string> volumeNode(const std::string& name) {
    const auto letter = parseVolumeName(name);
    if (!letter) return errnoError(ENOENT);
    return linuxvolumes::volumeDevice(*letter);
}

} // namespace platform::sysfs
