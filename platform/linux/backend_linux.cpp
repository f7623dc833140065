// Linux backend: block devices under /sys/block stand for the numbered physical drives.

#include "platform/linux/sysfs.h"
#include "platform/linux/volumes_linux.h"
#include "platform/platform.h"

#include <libudev.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>

namespace platform {
namespace {

Error lastError() { return errnoError(errno); }

// One open file descriptor; regular files and block devices alike.
class FdStream final : public RawStream {
public:
    FdStream(int fd, bool block) : fd_(fd), block_(block) {}
    ~FdStream() override {
        if (fd_ >= 0) ::close(fd_);
    }

    Result<int64_t> read(void* buffer, int64_t count) override {
        auto* p = static_cast<char*>(buffer);
        int64_t done = 0;
        while (done < count) {
            const ssize_t n = ::read(fd_, p + done, static_cast<size_t>(count - done));
            if (n < 0) {
                if (errno == EINTR) continue;
                if (done > 0) break; // the error shows again on the next call
                return lastError();
            }
            if (n == 0) break;
            done += n;
        }
        return done;
    }

    Result<int64_t> write(const void* buffer, int64_t count) override {
        const auto* p = static_cast<const char*>(buffer);
        int64_t done = 0;
        while (done < count) {
            const ssize_t n = ::write(fd_, p + done, static_cast<size_t>(count - done));
            if (n < 0) {
                if (errno == EINTR) continue;
                if (done > 0) break;
                return lastError();
            }
            if (n == 0) break;
            done += n;
        }
        return done;
    }

    Result<int64_t> seek(int64_t offset, SeekOrigin origin) override {
        const int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
        const off_t r = ::lseek(fd_, offset, whence);
        if (r < 0) return lastError();
        return int64_t(r);
    }

    Result<int64_t> position() override { return seek(0, SeekOrigin::Current); }

    Result<int64_t> length() override {
        if (block_) return deviceSize();
        struct stat st{};
        if (::fstat(fd_, &st) != 0) return lastError();
        return int64_t(st.st_size);
    }

    Result<void> truncate(int64_t length) override {
        if (block_) return errnoError(EINVAL);
        if (::ftruncate(fd_, length) != 0) return lastError();
        return {};
    }

    Result<void> flush() override {
        if (::fsync(fd_) != 0) return lastError();
        return {};
    }

    Result<DiskGeometry> geometry() override {
        auto ex = geometryEx();
        if (!ex) return ex.error();
        return ex->geometry;
    }

    Result<DiskGeometryEx> geometryEx() override {
        if (!block_) return errnoError(ENOTTY);
        auto size = deviceSize();
        if (!size) return size.error();
        int sectorSize = 0;
        if (::ioctl(fd_, BLKSSZGET, &sectorSize) != 0) return lastError();
        DiskGeometryEx ex;
        ex.geometry = modernGeometry(*size, uint32_t(sectorSize), removable() ? 11 : 12);
        ex.diskSize = *size;
        return ex;
    }

    Result<int64_t> lengthInfo() override {
        if (!block_) return errnoError(ENOTTY);
        return deviceSize();
    }

private:
    Result<int64_t> deviceSize() {
        uint64_t size = 0;
        if (::ioctl(fd_, BLKGETSIZE64, &size) != 0) return lastError();
        return int64_t(size);
    }

    bool removable() {
        struct stat st{};
        if (::fstat(fd_, &st) != 0) return false;
        return sysfs::isRemovable(major(st.st_rdev), minor(st.st_rdev));
    }

    int fd_;
    bool block_;
};

class UdevWatch final : public DeviceWatch {
public:
    UdevWatch() {
        udev_ = udev_new();
        if (!udev_) return;
        // The kernel's own netlink source works without udevd running.
        monitor_ = udev_monitor_new_from_netlink(udev_, "kernel");
        if (!monitor_) return;
        if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "block", nullptr) < 0 ||
            udev_monitor_enable_receiving(monitor_) < 0) {
            udev_monitor_unref(monitor_);
            monitor_ = nullptr;
            return;
        }
        // The window polls the descriptor; reads must never block it.
        const int fd = udev_monitor_get_fd(monitor_);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    ~UdevWatch() override {
        if (monitor_) udev_monitor_unref(monitor_);
        if (udev_) udev_unref(udev_);
    }
    int pollDescriptor() const override { return monitor_ ? udev_monitor_get_fd(monitor_) : -1; }
    int takeEvents() override {
        if (!monitor_) return 0;
        int count = 0;
        while (udev_device* dev = udev_monitor_receive_device(monitor_)) {
            ++count; // add, change and remove all count as a device change
            udev_device_unref(dev);
        }
        return count;
    }

private:
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
};

class LinuxBackend final : public Backend {
public:
    Result<std::unique_ptr<RawStream>> open(const std::string& name, OpenMode mode) override {
        std::string path = name;
        if (auto drive = parsePhysicalDriveName(name)) {
            path = physicalDriveNode(*drive);
            if (path.empty()) return errnoError(ENOENT);
        } else if (parseVolumeName(name)) {
            auto node = sysfs::volumeNode(name);
            if (!node) return node.error();
            path = *node;
        }
        return openPath(path, mode);
    }

    std::string physicalDriveNode(int index) override {
        const auto disks = sysfs::listDisks();
        if (index < 0 || size_t(index) >= disks.size()) return {};
        return disks[size_t(index)].node;
    }

    std::unique_ptr<DeviceWatch> watchDevices() override { return std::make_unique<UdevWatch>(); }

    // Volumes: mounts with drive letters (volumes_linux.h says which mounts get one).
    int driveType(char letter) override { return linuxvolumes::driveType(letter); }
    Result<VolumeInfo> volumeInformation(char letter) override { return linuxvolumes::volumeInformation(letter); }
    Result<void> setVolumeLabel(char letter, const std::string& label) override {
        return linuxvolumes::setVolumeLabel(letter, label);
    }
    std::string volumeRoot(char letter) override { return linuxvolumes::volumeRoot(letter); }
    Result<FreeSpace> freeSpace(const std::string& path) override { return linuxvolumes::freeSpace(path); }

    std::string objectIdentity(const std::string& name) override { return identify(name).first; }
    int64_t objectOffset(const std::string& name) override { return identify(name).second; }

    int64_t totalPhysicalMemory() override {
        const long pages = ::sysconf(_SC_PHYS_PAGES);
        const long pageSize = ::sysconf(_SC_PAGESIZE);
        return (pages > 0 && pageSize > 0) ? int64_t(pages) * pageSize : 0;
    }

    uint32_t ticks() override {
        using namespace std::chrono;
        return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }

private:
    // The object a name leads to, and where the name's first byte lies in it: a partition node
    // is its disk, from the partition's start on.
    std::pair<std::string, int64_t> identify(const std::string& name) {
        std::string path = name;
        if (auto drive = parsePhysicalDriveName(name)) path = physicalDriveNode(*drive);
        else if (parseVolumeName(name)) path = sysfs::volumeNode(name).valueOr(std::string());
        struct stat st{};
        if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
        if (S_ISBLK(st.st_mode)) {
            const auto disk = sysfs::wholeDisk(major(st.st_rdev), minor(st.st_rdev));
            return {"dev:" + std::to_string(disk.major) + ":" + std::to_string(disk.minor), disk.startByte};
        }
        if (S_ISCHR(st.st_mode)) return {"chr:" + std::to_string(st.st_rdev), 0};
        return {"file:" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino), 0};
    }

    static Result<std::unique_ptr<RawStream>> openPath(const std::string& path, OpenMode mode) {
        struct stat st{};
        const bool exists = ::stat(path.c_str(), &st) == 0;
        if (!exists && mode != OpenMode::Create) return lastError();
        const bool block = exists && S_ISBLK(st.st_mode);
        if (exists && S_ISDIR(st.st_mode)) return errnoError(EISDIR);
        // An image file is created or replaced; a device is only ever written behind the gate.
        if (block && mode == OpenMode::Create) return errnoError(EEXIST);

        int flags = O_CLOEXEC;
        switch (mode) {
        case OpenMode::Read: flags |= O_RDONLY; break;
        case OpenMode::Write: flags |= O_WRONLY; break;
        case OpenMode::ReadWrite: flags |= O_RDWR; break;
        case OpenMode::Create: flags |= O_RDWR | O_CREAT; break;
        }
        const bool writing = mode != OpenMode::Read;
        // A block device opened O_EXCL cannot be opened while a file system on it is mounted.
        if (block && writing) flags |= O_EXCL;
        const int fd = ::open(path.c_str(), flags, 0644);
        if (fd < 0) return lastError();
        auto stream = std::make_unique<FdStream>(fd, block);
        if (!block && writing) {
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return lastError();
            // Replace only after the lock is ours, so a file in use is never emptied.
            if (mode == OpenMode::Create && ::ftruncate(fd, 0) != 0) return lastError();
        }
        return std::unique_ptr<RawStream>(std::move(stream));
    }
};

} // namespace

Backend& systemBackend() {
    static LinuxBackend backend;
    return backend;
}

} // namespace platform
