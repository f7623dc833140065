// Linux backend: block devices under /sys/block stand for the numbered physical drives.

#include "platform/linux/loops.h"
#include "platform/linux/sysfs.h"
#include "platform/linux/volumes_linux.h"
#include "platform/platform.h"

#include <fcntl.h>
#include <langinfo.h>
#include <libudev.h>
#include <linux/fs.h>
#include <locale.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace platform {
namespace {

Error lastError() {
    return errnoError(errno);
}

using loops::UniqueFd;

// Pipes, terminals and sockets wait for their other end; files and block devices do not.
bool mayWait(mode_t mode) {
    return !S_ISREG(mode) && !S_ISBLK(mode);
}

// ::open, started again when a signal interrupts it unless an interrupt was requested: a pipe
// waiting for its writer gives up then.
int openInterruptible(const std::string& path, int flags, bool waits) {
    if (waits && interruptRequested()) {
        errno = EINTR;
        return -1;
    }
    for (;;) {
        const int fd = ::open(path.c_str(), flags, 0644);
        if (fd >= 0 || errno != EINTR || interruptRequested()) return fd;
    }
}

// One open file descriptor; regular files, block devices and pipes alike. A writer of a regular
// file also holds the loop devices that present it (see loops::holdLoopsOf).
class FdStream final : public RawStream {
public:
    FdStream(UniqueFd fd, const struct stat& st, std::vector<UniqueFd> heldLoops, bool direct = false)
        : fd_(std::move(fd)), st_(st), block_(S_ISBLK(st.st_mode)), waits_(mayWait(st.st_mode)),
          direct_(direct), heldLoops_(std::move(heldLoops)) {}

    int fd() const { return fd_.get(); }
    // Read or written through the system's cache: a file, or a device not opened for direct I/O.
    bool cachedFileOrDevice() const { return !direct_ && (block_ || S_ISREG(st_.st_mode)); }
    bool cachedDevice() const { return !direct_ && block_; }

    int64_t alignment() override {
        if (!direct_) return 1;
        int sector = 0;
        return ::ioctl(fd_.get(), BLKSSZGET, &sector) == 0 && sector > 0 ? sector : 4096;
    }

    int64_t physicalSectorSize() override {
        unsigned int bytes = 0;
        return block_ && ::ioctl(fd_.get(), BLKPBSZGET, &bytes) == 0 ? int64_t(bytes) : 0;
    }

    // An interrupt (EINTR while an interrupt is requested) is an error even after some bytes
    // moved: a short count would pass for the end of the data.
    Result<int64_t> read(void* buffer, int64_t count) override {
        if (waits_ && interruptRequested()) return errnoError(EINTR);
        auto* p = static_cast<char*>(buffer);
        int64_t done = 0;
        while (done < count) {
            const ssize_t n = ::read(fd_.get(), p + done, static_cast<size_t>(count - done));
            if (n < 0) {
                if (errno == EINTR && !interruptRequested()) continue;
                if (errno == EINTR) return lastError();
                if (done > 0) break; // the error shows again on the next call
                return lastError();
            }
            if (n == 0) break;
            done += n;
        }
        return done;
    }

    Result<int64_t> write(const void* buffer, int64_t count) override {
        if (waits_ && interruptRequested()) return errnoError(EINTR);
        const auto* p = static_cast<const char*>(buffer);
        int64_t done = 0;
        while (done < count) {
            const ssize_t n = ::write(fd_.get(), p + done, static_cast<size_t>(count - done));
            if (n < 0) {
                if (errno == EINTR && !interruptRequested()) continue;
                if (errno == EINTR) return lastError();
                if (done > 0) break;
                return lastError();
            }
            if (n == 0) break;
            done += n;
        }
        writeBehind(done);
        return done;
    }

    Result<int64_t> seek(int64_t offset, SeekOrigin origin) override {
        const int whence = origin == SeekOrigin::Begin     ? SEEK_SET
                           : origin == SeekOrigin::Current ? SEEK_CUR
                                                           : SEEK_END;
        const off_t r = ::lseek(fd_.get(), offset, whence);
        if (r < 0) return lastError();
        return int64_t(r);
    }

    Result<int64_t> position() override { return seek(0, SeekOrigin::Current); }

    Result<int64_t> length() override {
        if (block_) return deviceSize();
        struct stat st {};
        if (::fstat(fd_.get(), &st) != 0) return lastError();
        return int64_t(st.st_size);
    }

    Result<void> truncate(int64_t length) override {
        if (block_) return errnoError(EINVAL);
        if (::ftruncate(fd_.get(), length) != 0) return lastError();
        return {};
    }

    Result<void> flush() override {
        if (::fsync(fd_.get()) != 0) return lastError();
        return {};
    }

    Result<void> dropCache() override {
        if (direct_) return {};
        const int e = ::posix_fadvise(fd_.get(), 0, 0, POSIX_FADV_DONTNEED);
        if (e != 0) return errnoError(e);
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
        if (::ioctl(fd_.get(), BLKSSZGET, &sectorSize) != 0) return lastError();
        DiskGeometryEx ex;
        ex.geometry = modernGeometry(*size, uint32_t(sectorSize), removable() ? 11 : 12);
        ex.diskSize = *size;
        return ex;
    }

    Result<int64_t> lengthInfo() override {
        if (!block_) return errnoError(ENOTTY);
        return deviceSize();
    }

    // From what is open, never from the name: the same name may lead elsewhere by now.
    std::string fingerprint() override {
        const auto number = [](dev_t d) { return std::to_string(major(d)) + ":" + std::to_string(minor(d)); };
        if (S_ISREG(st_.st_mode)) // not the size: a file may grow or shrink and still be the same
            return "file:" + std::to_string(st_.st_dev) + ":" + std::to_string(st_.st_ino);
        if (S_ISCHR(st_.st_mode)) return "chr:" + number(st_.st_rdev);
        if (!block_)
            return (S_ISFIFO(st_.st_mode) ? "fifo:" : "node:") + number(st_.st_dev) + ":" +
                   std::to_string(st_.st_ino);

        const unsigned maj = major(st_.st_rdev), min = minor(st_.st_rdev);
        std::string text = "blk:" + number(st_.st_rdev);
        auto size = deviceSize();
        text += ":size=" + (size ? std::to_string(*size) : std::string("?"));
        // The kernel numbers every medium it sees: a stick put in again, a loop device attached
        // again, each gets a new sequence number even where the rest looks alike.
        const auto disk = sysfs::wholeDisk(maj, min);
        if (const std::string seq = diskSequence(disk); !seq.empty()) text += ":seq=" + seq;
        if (disk.major != maj || disk.minor != min) text += ":start=" + std::to_string(disk.startByte / 512);
        if (auto loop = loops::backing(disk.major, disk.minor)) {
            text += ":backing=" + (loop->rdev ? "blk:" + number(loop->rdev)
                                              : std::to_string(loop->dev) + ":" + std::to_string(loop->ino));
            text += "@" + std::to_string(loop->offset);
        }
        // Last, as it is the only part with free text in it.
        if (const std::string serial = sysfs::diskSerial(maj, min); !serial.empty())
            text += ":serial=" + serial;
        return text;
    }

    // Of the device that is open: its number, not its name, leads to the disk.
    std::optional<DriveIdentity> driveIdentity() override {
        if (!block_) return std::nullopt;
        return sysfs::driveIdentity(major(st_.st_rdev), minor(st_.st_rdev));
    }

    // Written through the cache, a device or file hands what it was given to the kernel's
    // writeback every few MiB, while the writing goes on, instead of all of it to the flush at the
    // end: that flush then finds little left, a device behind a slow bus is written at its own
    // pace instead of after a pile of dirty memory, and the progress shown is the writing's own.
    // Only starts writing: errors come back from the flush, as they would have without it.
    void writeBehind(int64_t written) {
        constexpr int64_t kWriteBehind = 8 << 20;
        if (direct_ || !(block_ || S_ISREG(st_.st_mode))) return;
        unsynced_ += written;
        if (unsynced_ < kWriteBehind) return;
        unsynced_ = 0;
        (void)::sync_file_range(fd_.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    }

private:
    Result<int64_t> deviceSize() {
        uint64_t size = 0;
        if (::ioctl(fd_.get(), BLKGETSIZE64, &size) != 0) return lastError();
        return int64_t(size);
    }

    std::string diskSequence(const sysfs::DiskPosition& disk) {
#ifdef BLKGETDISKSEQ
        uint64_t seq = 0;
        if (::ioctl(fd_.get(), BLKGETDISKSEQ, &seq) == 0) return std::to_string(seq);
#endif
        return sysfs::readAttribute(sysfs::deviceFolder(disk.major, disk.minor) + "/diskseq");
    }

    bool removable() {
        return sysfs::isRemovable(major(st_.st_rdev), minor(st_.st_rdev));
    }

    UniqueFd fd_;
    struct stat st_;
    bool block_;
    bool waits_;
    bool direct_;
    int64_t unsynced_ = 0;            // bytes written since writeback was last started
    std::vector<UniqueFd> heldLoops_; // kept open (O_EXCL) so nobody mounts them while we write
};

// Pipes that hold what splice() took from the source's cache until splice() gives it to the
// sink: the source's pages are only referenced, so the one copy is the sink's. Used where that
// measured faster than read() and write() through memory: into a block device's cache (into a
// file on tmpfs it measured slower). Counts, errors and interrupts as FdStream's read and write.
// Several pipes when one may not be as large as the buffer (pipe-max-size), filled in turn.
class SplicePipes final : public KernelBuffer {
public:
    struct Pipe {
        UniqueFd readEnd, writeEnd;
        int64_t held = 0;
    };

    SplicePipes(FdStream& source, FdStream& sink, std::vector<Pipe> pipes, int64_t pipeSize)
        : source_(source), sink_(sink), pipes_(std::move(pipes)), pipeSize_(pipeSize) {}

    // Never waits for room in a pipe (a page-aligned source fills one slot per page, so a pipe's
    // size holds it; should it not, the fill comes back short instead of hanging).
    Result<int64_t> fill(int64_t count) override {
        return repeat(count, [&](int64_t want) -> ssize_t {
            while (tail_ < pipes_.size() && pipes_[tail_].held == pipeSize_)
                ++tail_;
            if (tail_ == pipes_.size()) return 0;
            Pipe& pipe = pipes_[tail_];
            const ssize_t n =
                ::splice(source_.fd(), nullptr, pipe.writeEnd.get(), nullptr,
                         size_t(std::min(want, pipeSize_ - pipe.held)), SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
            if (n > 0) moved(pipe, n);
            return n;
        });
    }

    Result<int64_t> drain(int64_t count) override {
        auto done = repeat(std::min(count, held_), [&](int64_t want) -> ssize_t {
            Pipe& pipe = oldest();
            const ssize_t n = ::splice(pipe.readEnd.get(), nullptr, sink_.fd(), nullptr,
                                       size_t(std::min(want, pipe.held)), SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
            if (n > 0) moved(pipe, -n);
            return n;
        });
        if (done) sink_.writeBehind(*done);
        return done;
    }

    Result<int64_t> take(void* buffer, int64_t count) override {
        auto* p = static_cast<char*>(buffer);
        return repeat(std::min(count, held_), [&](int64_t want) -> ssize_t {
            Pipe& pipe = oldest();
            const ssize_t n = ::read(pipe.readEnd.get(), p, size_t(std::min(want, pipe.held)));
            if (n > 0) {
                moved(pipe, -n);
                p += n;
            }
            return n;
        });
    }

    int64_t held() const override { return held_; }

private:
    // The pipe with the oldest bytes; only called while some are held.
    Pipe& oldest() {
        while (pipes_[head_].held == 0)
            ++head_;
        return pipes_[head_];
    }
    void moved(Pipe& pipe, int64_t n) {
        pipe.held += n;
        held_ += n;
        if (held_ == 0) head_ = tail_ = 0;
    }
    // Calls `step` with what is left until `count` moved, it moves nothing, or it fails.
    template <typename Step> Result<int64_t> repeat(int64_t count, Step step) {
        int64_t done = 0;
        while (done < count) {
            const ssize_t n = step(count - done);
            if (n < 0) {
                if (errno == EINTR && !interruptRequested()) continue;
                if (errno == EINTR || done == 0) return lastError();
                break; // the error shows again on the next call
            }
            if (n == 0) break;
            done += n;
        }
        return done;
    }

    FdStream& source_;
    FdStream& sink_;
    std::vector<Pipe> pipes_;
    int64_t pipeSize_;
    int64_t held_ = 0;
    size_t head_ = 0, tail_ = 0; // the pipes drained and filled now
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

// "dir/name" -> {"dir", "name"}, "name" -> {".", "name"}, "/name" -> {"/", "name"}; the name is
// empty for "dir/".
std::pair<std::string, std::string> splitPath(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string identityOf(const struct stat& st) {
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::string randomTag() {
    uint8_t bytes[8] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != ssize_t(sizeof bytes)) {
        // Unpredictable enough without the generator: O_EXCL still keeps anything planted out.
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        std::memcpy(bytes, &now, sizeof bytes);
        bytes[0] ^= uint8_t(::getpid());
    }
    static const char hex[] = "0123456789abcdef";
    std::string tag;
    for (uint8_t b : bytes) {
        tag += hex[b >> 4];
        tag += hex[b & 15];
    }
    return tag;
}

// A file made nameless (O_TMPFILE) where the file system allows it, else under a random name
// created with O_EXCL | O_NOFOLLOW, so that it can only be new.
class LinuxPendingFile final : public PendingFile {
public:
    LinuxPendingFile(UniqueFd folder, UniqueFd fd, std::string name, std::string tempName)
        : folder_(std::move(folder)), fdNumber_(fd.get()), name_(std::move(name)),
          tempName_(std::move(tempName)) {
        ::fstat(fd.get(), &st_);
        stream_ = std::make_unique<FdStream>(std::move(fd), st_, std::vector<UniqueFd>{});
    }
    ~LinuxPendingFile() override { removeTemporaryName(); }

    RawStream& stream() override { return *stream_; }

    Result<void> copyFrom(RawStream& source) override {
        auto* file = dynamic_cast<FdStream*>(&source);
        if (!file) return PendingFile::copyFrom(source);
        const int from = file->fd();
        struct stat st {};
        if (::fstat(from, &st) != 0) return lastError();
        // Extents shared with the earlier file where the file system can (instant, no room taken).
        if (::ioctl(fdNumber_, FICLONE, from) != 0) {
            // Else only the data: holes stay holes, so a sparse file costs what it holds.
            for (off_t at = 0; at < st.st_size;) {
                off_t data = ::lseek(from, at, SEEK_DATA);
                if (data < 0 && errno == ENXIO) break;
                if (data < 0) return PendingFile::copyFrom(source);
                off_t hole = ::lseek(from, data, SEEK_HOLE);
                if (hole < 0) hole = st.st_size;
                if (auto copied = copyRange(from, data, hole - data); !copied) return copied;
                at = hole;
            }
            if (::ftruncate(fdNumber_, st.st_size) != 0) return lastError();
        }
        if (::lseek(fdNumber_, st.st_size, SEEK_SET) < 0) return lastError();
        return {};
    }

    Result<void> publish(const std::string& replacing) override {
        if (tempName_.empty()) {
            if (replacing.empty()) return finish(linkNameless(name_));
            // A nameless file cannot replace a name in one step: it gets a random one first.
            for (int attempt = 0; attempt < 16 && tempName_.empty(); ++attempt) {
                const std::string candidate = temporaryName(name_);
                if (auto linked = linkNameless(candidate))
                    tempName_ = candidate;
                else if (linked.error().code != EEXIST)
                    return linked;
            }
            if (tempName_.empty()) return errnoError(EEXIST);
        }
        if (replacing.empty()) {
            if (::renameat2(folder_.get(), tempName_.c_str(), folder_.get(), name_.c_str(),
                            RENAME_NOREPLACE) == 0)
                return finish({});
            if (errno != EINVAL && errno != ENOSYS) return lastError();
            // File systems without RENAME_NOREPLACE: a hard link fails as well when the name is taken.
            if (::linkat(folder_.get(), tempName_.c_str(), folder_.get(), name_.c_str(), 0) != 0)
                return lastError();
            return finish({});
        }
        struct stat now {};
        if (::fstatat(folder_.get(), name_.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) return lastError();
        if (identityOf(now) != replacing) return errnoError(EAGAIN);
        if (S_ISREG(now.st_mode)) {
            // The new file takes the place of the old one: it keeps its permissions, and its owner
            // where we may give it.
            (void)::fchmod(fdNumber_, now.st_mode & 0777);
            if (::geteuid() == 0) (void)::fchown(fdNumber_, now.st_uid, now.st_gid);
        }
        if (::renameat(folder_.get(), tempName_.c_str(), folder_.get(), name_.c_str()) != 0)
            return lastError();
        return finish({});
    }

    static std::string temporaryName(const std::string& name) {
        return "." + name.substr(0, 200) + "." + randomTag() + ".part";
    }

private:
    // `count` bytes of `from` at `at` into this file at the same place.
    Result<void> copyRange(int from, off_t at, off_t count) {
        off_t in = at, out = at;
        while (count > 0) {
            const ssize_t n = ::copy_file_range(from, &in, fdNumber_, &out, size_t(count), 0);
            if (n > 0) {
                count -= n;
                continue;
            }
            if (n == 0) return errnoError(EIO); // the file shrank under us
            if (errno == EINTR) continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL)
                return lastError();
            // Where the kernel cannot copy between the two: through a buffer.
            std::vector<char> buffer(size_t(1) << 20);
            while (count > 0) {
                const ssize_t r =
                    ::pread(from, buffer.data(), size_t(std::min<off_t>(count, off_t(buffer.size()))), in);
                if (r < 0 && errno == EINTR) continue;
                if (r <= 0) return r < 0 ? lastError() : errnoError(EIO);
                for (ssize_t done = 0; done < r;) {
                    const ssize_t w = ::pwrite(fdNumber_, buffer.data() + done, size_t(r - done), out + done);
                    if (w < 0 && errno == EINTR) continue;
                    if (w <= 0) return w < 0 ? lastError() : errnoError(ENOSPC);
                    done += w;
                }
                in += r, out += r, count -= r;
            }
        }
        return {};
    }

    Result<void> linkNameless(const std::string& as) {
        const std::string self = "/proc/self/fd/" + std::to_string(fdNumber_);
        if (::linkat(AT_FDCWD, self.c_str(), folder_.get(), as.c_str(), AT_SYMLINK_FOLLOW) == 0) return {};
        if (errno != ENOENT) return lastError();
        // Without /proc: AT_EMPTY_PATH (needs CAP_DAC_READ_SEARCH).
        if (::linkat(fdNumber_, "", folder_.get(), as.c_str(), AT_EMPTY_PATH) == 0) return {};
        return lastError();
    }

    Result<void> finish(Result<void> done) {
        if (!done) return done;
        // Linked under both names (the fallback without RENAME_NOREPLACE): ours goes.
        removeTemporaryName();
        // The new name is on the disk, not only the data.
        (void)::fsync(folder_.get());
        return {};
    }

    // Only the name this object made, and only while it is still this file.
    void removeTemporaryName() {
        if (tempName_.empty()) return;
        struct stat st {};
        if (::fstatat(folder_.get(), tempName_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            identityOf(st) == identityOf(st_))
            ::unlinkat(folder_.get(), tempName_.c_str(), 0);
        tempName_.clear();
    }

    UniqueFd folder_;
    int fdNumber_;
    struct stat st_ {};
    std::unique_ptr<FdStream> stream_;
    std::string name_;
    std::string tempName_; // empty while the file has no name
};

class LinuxBackend final : public Backend {
public:
    Result<std::unique_ptr<RawStream>> open(const std::string& name, OpenMode mode) override {
        return openName(name, mode, false);
    }
    Result<std::unique_ptr<RawStream>> openDirect(const std::string& name, OpenMode mode) override {
        // Direct writes go in whole sectors: a range that covers one only in part reads it first.
        return openName(name, mode == OpenMode::Write ? OpenMode::ReadWrite : mode, true);
    }

    std::string physicalDriveNode(int index) override {
        const auto disks = sysfs::listDisks();
        if (index < 0 || size_t(index) >= disks.size()) return {};
        return disks[size_t(index)].node;
    }

    std::unique_ptr<DeviceWatch> watchDevices() override { return std::make_unique<UdevWatch>(); }

    // Volumes: mounts with drive letters (volumes_linux.h says which mounts get one).
    int driveType(char letter) override { return linuxvolumes::driveType(letter); }
    Result<VolumeInfo> volumeInformation(char letter) override {
        return linuxvolumes::volumeInformation(letter);
    }
    Result<void> setVolumeLabel(char letter, const std::string& label) override {
        return linuxvolumes::setVolumeLabel(letter, label);
    }
    std::string volumeRoot(char letter) override { return linuxvolumes::volumeRoot(letter); }
    Result<FreeSpace> freeSpace(const std::string& path) override { return linuxvolumes::freeSpace(path); }

    std::string objectIdentity(const std::string& name) override { return identify(name).first; }
    int64_t objectOffset(const std::string& name) override { return identify(name).second; }

    Result<NameInfo> nameInfo(const std::string& path) override {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT) return NameInfo{};
            return lastError();
        }
        NameInfo info;
        info.identity = identityOf(st);
        switch (st.st_mode & S_IFMT) {
        case S_IFREG:
            info.kind = NameKind::File;
            break;
        case S_IFLNK:
            info.kind = NameKind::Link;
            break;
        case S_IFDIR:
            info.kind = NameKind::Folder;
            break;
        case S_IFBLK:
        case S_IFCHR:
            info.kind = NameKind::Device;
            break;
        case S_IFIFO:
            info.kind = NameKind::Pipe;
            break;
        case S_IFSOCK:
            info.kind = NameKind::Socket;
            break;
        default:
            info.kind = NameKind::Other;
            break;
        }
        return info;
    }

    Result<std::unique_ptr<PendingFile>> createPending(const std::string& target) override {
        const auto [folder, name] = splitPath(target);
        if (name.empty() || name == "." || name == "..") return errnoError(EISDIR);
        UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!dir) return lastError();
        UniqueFd fd(::openat(dir.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
        std::string tempName;
        if (!fd) {
            // EOPNOTSUPP: the file system has no nameless files; EISDIR: the kernel does not know them.
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return lastError();
            for (int attempt = 0; attempt < 16 && !fd; ++attempt) {
                tempName = LinuxPendingFile::temporaryName(name);
                fd = UniqueFd(::openat(dir.get(), tempName.c_str(),
                                       O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
                if (!fd && errno != EEXIST) return lastError();
            }
            if (!fd) return errnoError(EEXIST);
        }
        return std::unique_ptr<PendingFile>(
            std::make_unique<LinuxPendingFile>(std::move(dir), std::move(fd), name, tempName));
    }

    Result<std::unique_ptr<RawStream>> holdFile(const std::string& path) override {
        // O_NONBLOCK: a pipe put in the file's place must not hold the open.
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!fd) return lastError();
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0) return lastError();
        if (!S_ISREG(st.st_mode)) return errnoError(EINVAL);
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return lastError();
        auto held = loops::holdLoopsOf(st);
        if (!held) return held.error();
        ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
        return std::unique_ptr<RawStream>(std::make_unique<FdStream>(std::move(fd), st, std::move(*held)));
    }

    int64_t totalPhysicalMemory() override {
        const long pages = ::sysconf(_SC_PHYS_PAGES);
        const long pageSize = ::sysconf(_SC_PAGESIZE);
        return (pages > 0 && pageSize > 0) ? int64_t(pages) * pageSize : 0;
    }

    uint32_t ticks() override {
        using namespace std::chrono;
        return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }

    // Looked up by the device number: an open would wait on a pipe, and hold what it opens.
    std::optional<DriveIdentity> driveIdentity(const std::string& name) override {
        const std::string path = pathOf(name);
        struct stat st {};
        if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return std::nullopt;
        return sysfs::driveIdentity(major(st.st_rdev), minor(st.st_rdev));
    }

private:
    // The node or path a name stands for: a drive's or a volume's device node, else the name
    // itself; empty when the drive or volume is gone.
    std::string pathOf(const std::string& name) {
        if (auto drive = parsePhysicalDriveName(name)) return physicalDriveNode(*drive);
        if (parseVolumeName(name)) return sysfs::volumeNode(name).valueOr(std::string());
        return name;
    }

    // The object a name leads to, and where the name's first byte lies in it: a partition node
    // is its disk, from the partition's start on; a loop device is the file it presents, from
    // the loop's offset on, so that a loop device and its backing file are seen as one object.
    std::pair<std::string, int64_t> identify(const std::string& name) {
        const std::string path = pathOf(name);
        struct stat st {};
        if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
        if (S_ISBLK(st.st_mode)) return identifyBlock(st.st_rdev, 0);
        if (S_ISCHR(st.st_mode)) return {"chr:" + std::to_string(st.st_rdev), 0};
        return {"file:" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino), 0};
    }

    // A loop device may present a partition of another loop device: follow the chain, a few
    // links deep at most (the kernel refuses cycles, sysfs may still be caught mid-change).
    static std::pair<std::string, int64_t> identifyBlock(dev_t device, int depth) {
        const auto disk = sysfs::wholeDisk(major(device), minor(device));
        if (depth < 8) {
            if (auto loop = loops::backing(disk.major, disk.minor)) {
                const int64_t start = loop->offset + disk.startByte;
                if (loop->rdev == 0)
                    return {"file:" + std::to_string(loop->dev) + ":" + std::to_string(loop->ino), start};
                auto inner = identifyBlock(loop->rdev, depth + 1);
                if (!inner.first.empty()) return {inner.first, inner.second + start};
            }
        }
        return {"dev:" + std::to_string(disk.major) + ":" + std::to_string(disk.minor), disk.startByte};
    }

    Result<std::unique_ptr<RawStream>> openName(const std::string& name, OpenMode mode, bool direct) {
        std::string path = name;
        if (auto drive = parsePhysicalDriveName(name)) {
            path = physicalDriveNode(*drive);
            if (path.empty()) return errnoError(ENOENT);
        } else if (parseVolumeName(name)) {
            auto node = sysfs::volumeNode(name);
            if (!node) return node.error();
            path = *node;
        }
        return openPath(path, mode, direct);
    }

    static Result<std::unique_ptr<RawStream>> openPath(const std::string& path, OpenMode mode, bool direct) {
        struct stat st {};
        const bool exists = ::stat(path.c_str(), &st) == 0;
        if (!exists && mode != OpenMode::Create) return lastError();
        const bool block = exists && S_ISBLK(st.st_mode);
        if (exists && S_ISDIR(st.st_mode)) return errnoError(EISDIR);
        // An image file is created or replaced; a device is only ever written behind the gate.
        if (block && mode == OpenMode::Create) return errnoError(EEXIST);

        int flags = O_CLOEXEC;
        switch (mode) {
        case OpenMode::Read:
            flags |= O_RDONLY;
            break;
        case OpenMode::Write:
            flags |= O_WRONLY;
            break;
        case OpenMode::ReadWrite:
            flags |= O_RDWR;
            break;
        case OpenMode::Create:
            flags |= O_RDWR | O_CREAT;
            break;
        }
        const bool writing = mode != OpenMode::Read;
        // A block device opened O_EXCL cannot be opened while a file system on it is mounted.
        if (block && writing) flags |= O_EXCL;
        // Files always go through the cache: direct I/O is for devices only.
        if (block && direct) flags |= O_DIRECT;
        // A named pipe is opened as it is, waiting for its other end: only an interrupt ends that.
        UniqueFd fd(openInterruptible(path, flags, exists && mayWait(st.st_mode)));
        if (!fd) return lastError();

        // What was checked above must be what is open: the name may have been replaced since.
        struct stat now {};
        if (::fstat(fd.get(), &now) != 0) return lastError();
        const mode_t type = now.st_mode & S_IFMT;
        if (exists ? type != (st.st_mode & S_IFMT) || (block && now.st_rdev != st.st_rdev)
                   : S_ISBLK(now.st_mode))
            return errnoError(EAGAIN);

        std::vector<UniqueFd> heldLoops;
        if (!block && writing) {
            if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return lastError();
            // A loop device that presents this file must not be mounted while we write the file
            // behind the kernel's back; holding it exclusively also keeps it unmounted until we close.
            if (S_ISREG(now.st_mode)) {
                auto held = loops::holdLoopsOf(now);
                if (!held) return held.error();
                heldLoops = std::move(*held);
            }
            // Replace only after the lock and the loop devices are ours, so a file in use is never emptied.
            if (mode == OpenMode::Create && ::ftruncate(fd.get(), 0) != 0) return lastError();
        }
        return std::unique_ptr<RawStream>(
            std::make_unique<FdStream>(std::move(fd), now, std::move(heldLoops), block && direct));
    }
};

} // namespace

Backend& systemBackend() {
    static LinuxBackend backend;
    return backend;
}

std::unique_ptr<KernelBuffer> kernelBuffer(RawStream& source, RawStream& sink, int64_t capacity) {
    constexpr int64_t kPage = 4096, kPipeSize = 1 << 20; // the default pipe-max-size
    auto* in = dynamic_cast<FdStream*>(&source);
    auto* out = dynamic_cast<FdStream*>(&sink);
    if (!in || !out || in == out || !in->cachedFileOrDevice() || !out->cachedDevice()) return nullptr;
    if (capacity <= 0 || capacity % kPage != 0 || capacity > (64 << 20)) return nullptr;
    const off_t at = ::lseek(in->fd(), 0, SEEK_CUR);
    if (at < 0 || at % kPage != 0) return nullptr;
    const int64_t pipeSize = std::min(capacity, kPipeSize);
    std::vector<SplicePipes::Pipe> pipes;
    for (int64_t room = 0; room < capacity; room += pipeSize) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return nullptr;
        SplicePipes::Pipe& pipe = pipes.emplace_back();
        pipe.readEnd = UniqueFd(ends[0]);
        pipe.writeEnd = UniqueFd(ends[1]);
        // The system rounds the size up to a power of two pages.
        if (::fcntl(ends[1], F_SETPIPE_SZ, int(pipeSize)) < pipeSize) return nullptr;
    }
    return std::make_unique<SplicePipes>(*in, *out, std::move(pipes), pipeSize);
}

char decimalSeparator() {
    // The user's numeric locale, as LC_ALL, LC_NUMERIC or LANG name it; the program's own stays "C".
    static const char separator = [] {
        char c = '.';
        if (locale_t user = ::newlocale(LC_NUMERIC_MASK, "", locale_t(0))) {
            const char* radix = ::nl_langinfo_l(RADIXCHAR, user);
            if (radix && radix[0] && !radix[1]) c = radix[0];
            ::freelocale(user);
        }
        return c;
    }();
    return separator;
}

} // namespace platform
