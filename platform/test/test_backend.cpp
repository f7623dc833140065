#include "platform/test/test_backend.h"

#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform::testkit {
namespace {

bool covers(int64_t pos, int64_t count, std::optional<int64_t> byte) {
    return byte && *byte >= pos && *byte < pos + count;
}

class VirtualStream final : public RawStream {
public:
    VirtualStream(std::unique_ptr<RawStream> inner, VirtualDrive drive, int64_t size, std::string name,
                  std::shared_ptr<std::vector<std::string>> violations, std::shared_ptr<int> openCount)
        : inner_(std::move(inner)), drive_(std::move(drive)), size_(size), name_(std::move(name)),
          violations_(std::move(violations)), openCount_(std::move(openCount)) {
        ++*openCount_;
    }
    ~VirtualStream() override { --*openCount_; }

    Result<int64_t> read(void* buffer, int64_t count) override {
        auto pos = inner_->position();
        if (!pos) return pos.error();
        if (covers(*pos, count, drive_.faults.readErrorAt)) return errnoError(EIO);
        int64_t limit = size_;
        if (drive_.faults.endsAt) limit = std::min(limit, *drive_.faults.endsAt);
        const int64_t n = std::max<int64_t>(0, std::min(count, limit - *pos));
        return inner_->read(buffer, n);
    }

    Result<int64_t> write(const void* buffer, int64_t count) override {
        auto pos = inner_->position();
        if (!pos) return pos.error();
        const auto range = ByteRange::make(*pos, count);
        if (!range) return errnoError(EINVAL);
        if (drive_.writable && !drive_.writable->contains(*range)) {
            violations_->push_back(name_ + ": write of " + std::to_string(count) + " bytes at " +
                                   std::to_string(*pos) + " outside the writable range");
            return errnoError(EPERM);
        }
        if (covers(*pos, count, drive_.faults.writeErrorAt)) return errnoError(EIO);
        int64_t limit = size_;
        if (drive_.faults.shortWriteAt) limit = std::min(limit, *drive_.faults.shortWriteAt);
        if (range->end() > size_)
            violations_->push_back(name_ + ": write of " + std::to_string(count) + " bytes at " +
                                   std::to_string(*pos) + " past the end of the device");
        const int64_t n = std::max<int64_t>(0, std::min(count, limit - *pos));
        if (n == 0 && count > 0) return errnoError(ENOSPC);
        return inner_->write(buffer, n);
    }

    Result<int64_t> seek(int64_t offset, SeekOrigin origin) override {
        if (origin == SeekOrigin::End) return inner_->seek(size_ + offset, SeekOrigin::Begin);
        return inner_->seek(offset, origin);
    }
    Result<int64_t> position() override { return inner_->position(); }
    Result<int64_t> length() override { return size_; }
    Result<void> truncate(int64_t) override { return errnoError(EINVAL); }
    Result<void> flush() override {
        if (drive_.faults.failFlush) return errnoError(EIO);
        return inner_->flush();
    }

    Result<DiskGeometry> geometry() override {
        if (drive_.faults.failGeometry) return errnoError(EIO);
        return modernGeometry(size_, drive_.bytesPerSector, drive_.mediaType);
    }
    Result<DiskGeometryEx> geometryEx() override {
        if (drive_.faults.failGeometryEx) return errnoError(EIO);
        return DiskGeometryEx{modernGeometry(size_, drive_.bytesPerSector, drive_.mediaType), size_};
    }
    Result<int64_t> lengthInfo() override {
        if (drive_.faults.failLength) return errnoError(EIO);
        return size_;
    }

    // The image file that is open and the disk it is shown as: another image behind the same
    // drive number, or the same image shown with another size or sector size, is another disk.
    std::string fingerprint() override {
        const std::string image = inner_->fingerprint();
        if (image.empty()) return {};
        return "virtual:" + image + ":size=" + std::to_string(size_) +
               ":sector=" + std::to_string(drive_.bytesPerSector);
    }

private:
    std::unique_ptr<RawStream> inner_;
    VirtualDrive drive_;
    int64_t size_;
    std::string name_;
    std::shared_ptr<std::vector<std::string>> violations_;
    std::shared_ptr<int> openCount_;
};

class PipeWatch final : public DeviceWatch {
public:
    explicit PipeWatch(int fd) : fd_(fd) {}
    int pollDescriptor() const override { return fd_; }
    int takeEvents() override {
        int count = 0;
        char buf[64];
        for (;;) {
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) {
                count += int(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            return count;
        }
    }

private:
    int fd_;
};

} // namespace

TestBackend::TestBackend(Backend* fallback) : fallback_(fallback) {
    if (::pipe2(pipe_, O_NONBLOCK | O_CLOEXEC) != 0) pipe_[0] = pipe_[1] = -1;
}

TestBackend::~TestBackend() {
    for (int fd : pipe_)
        if (fd >= 0) ::close(fd);
}

int TestBackend::addDrive(VirtualDrive drive) {
    drives_.push_back(std::move(drive));
    return int(drives_.size()) - 1;
}

void TestBackend::signalDeviceChange(int count) {
    for (int i = 0; i < count; ++i) {
        const char c = 1;
        if (::write(pipe_[1], &c, 1) != 1) break;
    }
}

Result<std::unique_ptr<RawStream>> TestBackend::open(const std::string& name, OpenMode mode) {
    opens_.emplace_back(name, mode);
    if (auto index = parsePhysicalDriveName(name)) {
        if (*index >= driveCount()) {
            if (fallback_) return fallback_->open(physicalDriveName(*index - driveCount()), mode);
            return errnoError(ENOENT);
        }
        const VirtualDrive& d = drives_[size_t(*index)];
        if (d.faults.failOpen) return errnoError(EACCES);
        return openImage(d, name, mode);
    }
    if (auto letter = parseVolumeName(name)) {
        if (auto v = volumes_.find(*letter); v != volumes_.end()) {
            if (v->second.imagePath.empty() || !v->second.mediumPresent) return errnoError(ENOENT);
            return openImage(VirtualDrive(v->second.imagePath), name, mode);
        }
        if (fallback_) return fallback_->open(name, mode);
        return errnoError(ENOENT);
    }
    return systemBackend().open(name, mode);
}

Result<std::unique_ptr<RawStream>> TestBackend::openImage(const VirtualDrive& d, const std::string& name, OpenMode mode) {
    if (mode == OpenMode::Create) return errnoError(EINVAL);
    auto inner = systemBackend().open(d.imagePath, mode == OpenMode::Read ? OpenMode::Read : OpenMode::ReadWrite);
    if (!inner) return inner.error();
    auto size = (*inner)->length();
    if (!size) return size.error();
    return std::unique_ptr<RawStream>(
        std::make_unique<VirtualStream>(std::move(*inner), d, *size, name, violations_, openStreams_));
}

void TestBackend::addVolume(VirtualVolume volume) {
    volume.letter = char(std::toupper(static_cast<unsigned char>(volume.letter)));
    volumes_[volume.letter] = std::move(volume);
}

std::string TestBackend::physicalDriveNode(int index) {
    if (index < 0) return {};
    if (index < driveCount()) return drives_[size_t(index)].imagePath;
    return fallback_ ? fallback_->physicalDriveNode(index - driveCount()) : std::string();
}

std::unique_ptr<DeviceWatch> TestBackend::watchDevices() {
    if (fallback_) return fallback_->watchDevices();
    return std::make_unique<PipeWatch>(pipe_[0]);
}

int64_t TestBackend::totalPhysicalMemory() {
    if (memory_) return *memory_;
    return fallback_ ? fallback_->totalPhysicalMemory() : int64_t(1) << 30;
}

uint32_t TestBackend::ticks() { return systemBackend().ticks(); }

int TestBackend::driveType(char letter) {
    if (auto v = volumes_.find(letter); v != volumes_.end()) return v->second.driveType;
    return fallback_ ? fallback_->driveType(letter) : DriveNoRoot;
}

Result<VolumeInfo> TestBackend::volumeInformation(char letter) {
    volumeQueries_.push_back(letter);
    if (auto v = volumes_.find(letter); v != volumes_.end()) {
        if (!v->second.mediumPresent) return errnoError(ENOMEDIUM);
        return v->second.info;
    }
    if (fallback_) return fallback_->volumeInformation(letter);
    return errnoError(ENOENT);
}

Result<void> TestBackend::setVolumeLabel(char letter, const std::string& label) {
    if (auto v = volumes_.find(letter); v != volumes_.end()) {
        labelChanges_.emplace_back(letter, label);
        if (!v->second.mediumPresent) return errnoError(ENOMEDIUM);
        if (!v->second.labelChangeSucceeds) return errnoError(EACCES);
        v->second.info.label = label;
        return {};
    }
    if (fallback_) return fallback_->setVolumeLabel(letter, label);
    return errnoError(ENOENT);
}

std::string TestBackend::volumeRoot(char letter) {
    if (auto v = volumes_.find(letter); v != volumes_.end()) return v->second.folder;
    return fallback_ ? fallback_->volumeRoot(letter) : std::string();
}

std::string TestBackend::objectIdentity(const std::string& name) {
    const auto [backend, path] = objectName(name);
    return backend ? backend->objectIdentity(path) : std::string();
}

int64_t TestBackend::objectOffset(const std::string& name) {
    const auto [backend, path] = objectName(name);
    return backend ? backend->objectOffset(path) : 0;
}

// Which backend knows the object behind a name, and the name it knows it by: a virtual drive or
// volume is its image file, a drive past them is the fallback's drive with its own number.
std::pair<Backend*, std::string> TestBackend::objectName(const std::string& name) {
    if (auto index = parsePhysicalDriveName(name)) {
        if (*index < driveCount()) return {&systemBackend(), drives_[size_t(*index)].imagePath};
        if (fallback_) return {fallback_, physicalDriveName(*index - driveCount())};
        return {nullptr, {}}; // no such drive: open() fails for it too
    }
    if (auto letter = parseVolumeName(name)) {
        if (auto v = volumes_.find(*letter); v != volumes_.end()) {
            if (v->second.imagePath.empty()) return {nullptr, {}};
            return {&systemBackend(), v->second.imagePath};
        }
        if (fallback_) return {fallback_, name};
        return {nullptr, {}};
    }
    return {&systemBackend(), name};
}

Result<FreeSpace> TestBackend::freeSpace(const std::string& path) {
    // "X:" or "X:\" of a virtual volume.
    if ((path.size() == 2 || (path.size() == 3 && path[2] == '\\')) && path[1] == ':') {
        const char letter = char(std::toupper(static_cast<unsigned char>(path[0])));
        if (auto v = volumes_.find(letter); v != volumes_.end()) {
            if (!v->second.space) return errnoError(EIO);
            return *v->second.space;
        }
    }
    if (freeSpace_) return *freeSpace_;
    return fallback_ ? fallback_->freeSpace(path) : systemBackend().freeSpace(path);
}

} // namespace platform::testkit
