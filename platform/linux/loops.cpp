#include "platform/linux/loops.h"

#include "platform/linux/sysfs.h"
#include "platform/platform.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace platform::loops {
namespace fs = std::filesystem;

void UniqueFd::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

namespace {

// The kernel hands device numbers out of the loop driver in its own 32-bit encoding.
dev_t fromKernel(uint64_t encoded) {
    const unsigned maj = unsigned((encoded & 0xfff00) >> 8);
    const unsigned min = unsigned((encoded & 0xff) | ((encoded >> 12) & 0xfff00));
    return makedev(maj, min);
}

// The device node of block device major:minor, opened read-only and checked to be that device.
UniqueFd openNode(unsigned major, unsigned minor, int extraFlags) {
    std::ifstream uevent(sysfs::deviceFolder(major, minor) + "/uevent");
    std::string line, name;
    while (std::getline(uevent, line))
        if (line.rfind("DEVNAME=", 0) == 0) name = line.substr(8);
    if (name.empty()) {
        errno = ENODEV;
        return {};
    }
    UniqueFd fd(::open(("/dev/" + name).c_str(), O_RDONLY | O_CLOEXEC | extraFlags));
    if (!fd) return {};
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISBLK(st.st_mode) || st.st_rdev != makedev(major, minor)) {
        fd.reset();
        errno = ENODEV; // /dev does not match the kernel's view: never act on the wrong node
        return {};
    }
    return fd;
}

std::optional<Backing> askDevice(int fd) {
    loop_info64 info{};
    if (::ioctl(fd, LOOP_GET_STATUS64, &info) != 0) return std::nullopt;
    Backing b;
    b.dev = fromKernel(info.lo_device);
    b.ino = ino_t(info.lo_inode);
    b.rdev = fromKernel(info.lo_rdevice);
    b.offset = int64_t(info.lo_offset);
    return b;
}

bool isLoop(unsigned major, unsigned minor) {
    std::error_code ec;
    return fs::exists(sysfs::deviceFolder(major, minor) + "/loop/backing_file", ec);
}

} // namespace

std::optional<Backing> backing(unsigned major, unsigned minor) {
    if (!isLoop(major, minor)) return std::nullopt;
    // The device's own answer names the file even when it was renamed, deleted or lies in
    // another mount namespace; the path in sysfs is only the fallback for those who may not open it.
    if (UniqueFd fd = openNode(major, minor, 0)) return askDevice(fd.get());
    const std::string folder = sysfs::deviceFolder(major, minor) + "/loop/";
    const std::string file = sysfs::readAttribute(folder + "backing_file");
    static const std::string deleted = " (deleted)";
    if (file.empty() || (file.size() >= deleted.size() &&
                         file.compare(file.size() - deleted.size(), deleted.size(), deleted) == 0))
        return std::nullopt; // that path names another file now, or none
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return std::nullopt;
    const std::string offset = sysfs::readAttribute(folder + "offset");
    Backing b;
    b.dev = st.st_dev;
    b.ino = st.st_ino;
    b.rdev = S_ISBLK(st.st_mode) ? st.st_rdev : 0;
    b.offset = std::strtoll(offset.c_str(), nullptr, 10); // 0 when missing
    return b;
}

Result<std::vector<UniqueFd>> holdLoopsOf(const struct stat& file) {
    struct Attached {
        dev_t number;
        Backing backing;
    };
    std::vector<Attached> attached;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/block", ec)) {
        if (entry.path().filename().string().rfind("loop", 0) != 0) continue;
        const std::string dev = sysfs::readAttribute((entry.path() / "dev").string());
        unsigned maj = 0, min = 0;
        if (std::sscanf(dev.c_str(), "%u:%u", &maj, &min) != 2) continue;
        if (auto b = backing(maj, min)) attached.push_back({makedev(maj, min), *b});
    }

    // The file's own loop devices, then those that present one of them (or a partition on one),
    // and so on: a mount on any of them sits on the file's bytes.
    std::set<dev_t> ours;
    for (bool grew = true; grew;) {
        grew = false;
        for (const Attached& a : attached) {
            if (ours.count(a.number)) continue;
            bool presents = false;
            if (a.backing.rdev == 0) {
                presents = a.backing.dev == file.st_dev && a.backing.ino == file.st_ino;
            } else {
                const auto disk = sysfs::wholeDisk(major(a.backing.rdev), minor(a.backing.rdev));
                presents = ours.count(makedev(disk.major, disk.minor)) > 0;
            }
            if (presents) grew = ours.insert(a.number).second || grew;
        }
    }

    std::vector<UniqueFd> held;
    for (const dev_t number : ours) {
        UniqueFd fd = openNode(major(number), minor(number), O_EXCL);
        if (!fd) {
            const int code = errno;
            // Detached since we looked: nothing of the file is left to protect there.
            if ((code == ENXIO || code == ENOENT || code == ENODEV) && !isLoop(major(number), minor(number)))
                continue;
            // Still attached but without a node of its own here: it cannot be held, so it counts as
            // in use (the file exists, "No such file" would only mislead).
            return errnoError(code == ENOENT || code == ENODEV ? EBUSY : code);
        }
        held.push_back(std::move(fd));
    }
    return held;
}

} // namespace platform::loops
