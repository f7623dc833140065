#include "support/test_backend.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace platform::testkit {
namespace {

// An empty card reader slot: what each system answers for it.
Error noMedium() {
#ifdef ENOMEDIUM
    return errnoError(ENOMEDIUM);
#else
    return Error{21, "The device is not ready."}; // ERROR_NOT_READY
#endif
}

bool covers(int64_t pos, int64_t count, std::optional<int64_t> byte) {
    return byte && *byte >= pos && *byte < pos + count;
}

bool coversAny(int64_t pos, int64_t count, const std::vector<ByteRange>& ranges) {
    const auto read = ByteRange::make(pos, count);
    return read &&
           std::any_of(ranges.begin(), ranges.end(), [&](const ByteRange& r) { return read->overlaps(r); });
}

bool refused(const Faults& faults, OpenMode mode) {
    const auto& modes = faults.failOpenModes;
    return faults.failOpen || std::find(modes.begin(), modes.end(), mode) != modes.end();
}

// Faults on top of a drive's or a file's stream, and a record of the writes a drive does not allow.
class FaultStream final : public RawStream {
public:
    // deviceSize: the size of the drive the stream shows, whose end a write may not cross; none
    // for a file, which grows.
    FaultStream(std::unique_ptr<RawStream> inner, Faults faults, std::optional<ByteRange> writable,
                std::optional<int64_t> deviceSize, std::string name,
                std::shared_ptr<std::vector<std::string>> violations, std::shared_ptr<int> openCount)
        : inner_(std::move(inner)), faults_(std::move(faults)), writable_(writable), deviceSize_(deviceSize),
          name_(std::move(name)), violations_(std::move(violations)), openCount_(std::move(openCount)) {
        ++*openCount_;
    }
    ~FaultStream() override { --*openCount_; }

    Result<int64_t> read(void* buffer, int64_t count) override {
        auto pos = inner_->position();
        if (!pos) return pos.error();
        if (faults_.readLog) faults_.readLog->push_back(ByteRange::of(*pos, std::max<int64_t>(count, 0)));
        if (covers(*pos, count, faults_.readErrorAt) || coversAny(*pos, count, faults_.badRanges)) {
            if (faults_.clock && faults_.failedReadMs > 0) faults_.clock->sleepMs(faults_.failedReadMs);
            return errnoError(faults_.readError);
        }
        if (faults_.endsAt) count = std::max<int64_t>(0, std::min(count, *faults_.endsAt - *pos));
        return inner_->read(buffer, count);
    }

    Result<int64_t> write(const void* buffer, int64_t count) override {
        auto pos = inner_->position();
        if (!pos) return pos.error();
        const auto range = ByteRange::make(*pos, count);
        if (!range) return errnoError(EINVAL);
        if (writable_ && !writable_->contains(*range)) {
            record(count, *pos, "outside the writable range");
            return errnoError(EPERM);
        }
        if (covers(*pos, count, faults_.writeErrorAt)) return errnoError(EIO);
        if (deviceSize_ && range->end() > *deviceSize_) record(count, *pos, "past the end of the device");
        if (faults_.shortWriteAt) {
            const int64_t n = std::max<int64_t>(0, std::min(count, *faults_.shortWriteAt - *pos));
            if (n == 0 && count > 0) return errnoError(ENOSPC);
            count = n;
        }
        if (faults_.dropWrites) {
            auto moved = inner_->seek(*pos + count, SeekOrigin::Begin);
            if (!moved) return moved.error();
            return count;
        }
        if (covers(*pos, count, faults_.flipWriteAt)) {
            std::vector<char> copy(static_cast<const char*>(buffer),
                                   static_cast<const char*>(buffer) + count);
            copy[size_t(*faults_.flipWriteAt - *pos)] ^= char(0xFF);
            return inner_->write(copy.data(), count);
        }
        return inner_->write(buffer, count);
    }

    Result<int64_t> seek(int64_t offset, SeekOrigin origin) override { return inner_->seek(offset, origin); }
    Result<int64_t> position() override { return inner_->position(); }
    Result<int64_t> length() override { return inner_->length(); }
    Result<void> truncate(int64_t length) override { return inner_->truncate(length); }
    Result<void> flush() override {
        if (faults_.failFlush) return errnoError(EIO);
        return inner_->flush();
    }

    Result<DiskGeometry> geometry() override {
        if (faults_.failGeometry) return errnoError(EIO);
        return inner_->geometry();
    }
    Result<DiskGeometryEx> geometryEx() override {
        if (faults_.failGeometryEx) return errnoError(EIO);
        return inner_->geometryEx();
    }
    Result<int64_t> lengthInfo() override {
        if (faults_.failLength) return errnoError(EIO);
        return inner_->lengthInfo();
    }
    int64_t physicalSectorSize() override { return inner_->physicalSectorSize(); }
    std::string fingerprint() override { return inner_->fingerprint(); }
    std::optional<DriveIdentity> driveIdentity() override { return inner_->driveIdentity(); }

private:
    void record(int64_t count, int64_t pos, const char* what) {
        violations_->push_back(name_ + ": write of " + std::to_string(count) + " bytes at " +
                               std::to_string(pos) + " " + what);
    }

    std::unique_ptr<RawStream> inner_;
    Faults faults_;
    std::optional<ByteRange> writable_;
    std::optional<int64_t> deviceSize_;
    std::string name_;
    std::shared_ptr<std::vector<std::string>> violations_;
    std::shared_ptr<int> openCount_;
};

// Another object's stream, seen through a FaultStream.
class BorrowedStream final : public RawStream {
public:
    explicit BorrowedStream(RawStream& inner) : inner_(inner) {}
    Result<int64_t> read(void* buffer, int64_t count) override { return inner_.read(buffer, count); }
    Result<int64_t> write(const void* buffer, int64_t count) override { return inner_.write(buffer, count); }
    Result<int64_t> seek(int64_t offset, SeekOrigin origin) override { return inner_.seek(offset, origin); }
    Result<int64_t> position() override { return inner_.position(); }
    Result<int64_t> length() override { return inner_.length(); }
    Result<void> truncate(int64_t length) override { return inner_.truncate(length); }
    Result<void> flush() override { return inner_.flush(); }
    Result<DiskGeometry> geometry() override { return inner_.geometry(); }
    Result<DiskGeometryEx> geometryEx() override { return inner_.geometryEx(); }
    Result<int64_t> lengthInfo() override { return inner_.lengthInfo(); }
    int64_t physicalSectorSize() override { return inner_.physicalSectorSize(); }
    std::string fingerprint() override { return inner_.fingerprint(); }
    std::optional<DriveIdentity> driveIdentity() override { return inner_.driveIdentity(); }

private:
    RawStream& inner_;
};

// A new file whose writes meet the faults given for its target's name.
class FaultyPendingFile final : public PendingFile {
public:
    FaultyPendingFile(std::unique_ptr<PendingFile> inner, std::unique_ptr<FaultStream> stream)
        : inner_(std::move(inner)), stream_(std::move(stream)) {}
    ~FaultyPendingFile() override { stream_.reset(); }
    RawStream& stream() override { return *stream_; }
    Result<void> copyFrom(RawStream& source) override { return inner_->copyFrom(source); }
    Result<void> publish(const std::string& replacing) override { return inner_->publish(replacing); }

private:
    std::unique_ptr<PendingFile> inner_;
    std::unique_ptr<FaultStream> stream_;
};

class PipeWatch final : public DeviceWatch {
public:
    explicit PipeWatch(int fd) : fd_(fd) {}
    int pollDescriptor() const override { return fd_; }
    int takeEvents() override {
        int count = 0;
        char buf[64];
#ifdef _WIN32
        // Windows pipes cannot be made non-blocking: only what is already there is read.
        DWORD available = 0;
        const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd_));
        while (::PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            const int n = ::_read(fd_, buf, unsigned(std::min<DWORD>(available, sizeof buf)));
            if (n <= 0) break;
            count += n;
        }
        return count;
#else
        for (;;) {
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) {
                count += int(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            return count;
        }
#endif
    }

private:
    int fd_;
};

} // namespace

TestBackend::TestBackend(Backend* fallback) : fallback_(fallback) {
#ifdef _WIN32
    if (::_pipe(pipe_, 4096, _O_BINARY | _O_NOINHERIT) != 0) pipe_[0] = pipe_[1] = -1;
#else
    if (::pipe2(pipe_, O_NONBLOCK | O_CLOEXEC) != 0) pipe_[0] = pipe_[1] = -1;
#endif
}

TestBackend::~TestBackend() {
    for (int fd : pipe_)
#ifdef _WIN32
        if (fd >= 0) ::_close(fd);
#else
        if (fd >= 0) ::close(fd);
#endif
}

int TestBackend::addDrive(VirtualDrive drive) {
    drives_.push_back(std::move(drive));
    return int(drives_.size()) - 1;
}

void TestBackend::signalDeviceChange(int count) {
    for (int i = 0; i < count; ++i) {
        const char c = 1;
#ifdef _WIN32
        if (::_write(pipe_[1], &c, 1) != 1) break;
#else
        if (::write(pipe_[1], &c, 1) != 1) break;
#endif
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
        if (refused(d.faults, mode)) return errnoError(EACCES);
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
    if (auto f = fileFaults_.find(name); f != fileFaults_.end()) return openFile(name, f->second, mode);
    return systemBackend().open(name, mode);
}

Result<std::unique_ptr<RawStream>> TestBackend::openImage(const VirtualDrive& d, const std::string& name,
                                                          OpenMode mode) {
    auto image = openImageDrive(systemBackend(), d, mode);
    if (!image) return image.error();
    const int64_t size = *(*image)->length(); // fixed at the open, never fails
    return std::unique_ptr<RawStream>(std::make_unique<FaultStream>(std::move(*image), d.faults, d.writable,
                                                                    size, name, violations_, openStreams_));
}

Result<std::unique_ptr<RawStream>> TestBackend::openFile(const std::string& path, const Faults& faults,
                                                         OpenMode mode) {
    // Refused before the system sees it: a refused Create must not empty the file.
    if (refused(faults, mode)) return errnoError(EACCES);
    auto file = systemBackend().open(path, mode);
    if (!file) return file.error();
    return std::unique_ptr<RawStream>(std::make_unique<FaultStream>(
        std::move(*file), faults, std::nullopt, std::nullopt, path, violations_, openStreams_));
}

Result<NameInfo> TestBackend::nameInfo(const std::string& path) {
    return systemBackend().nameInfo(path);
}

Result<std::unique_ptr<PendingFile>> TestBackend::createPending(const std::string& target) {
    opens_.emplace_back(target, OpenMode::Create);
    const auto f = fileFaults_.find(target);
    if (f != fileFaults_.end() && refused(f->second, OpenMode::Create)) return errnoError(EACCES);
    auto pending = systemBackend().createPending(target);
    if (!pending || f == fileFaults_.end()) return pending;
    auto stream =
        std::make_unique<FaultStream>(std::make_unique<BorrowedStream>((*pending)->stream()), f->second,
                                      std::nullopt, std::nullopt, target, violations_, openStreams_);
    return std::unique_ptr<PendingFile>(
        std::make_unique<FaultyPendingFile>(std::move(*pending), std::move(stream)));
}

Result<std::unique_ptr<RawStream>> TestBackend::holdFile(const std::string& path) {
    const auto f = fileFaults_.find(path);
    if (f != fileFaults_.end() && refused(f->second, OpenMode::Write)) return errnoError(EACCES);
    return systemBackend().holdFile(path);
}

void TestBackend::addVolume(VirtualVolume volume) {
    volume.letter = char(std::toupper(static_cast<unsigned char>(volume.letter)));
    volumes_[volume.letter] = std::move(volume);
}

std::string TestBackend::physicalDriveNode(int index) {
    if (index < 0) return {};
    if (index < driveCount()) {
        const VirtualDrive& drive = drives_[size_t(index)];
        return drive.identity.node.empty() ? drive.imagePath : drive.identity.node;
    }
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

uint32_t TestBackend::ticks() {
    return systemBackend().ticks();
}

int TestBackend::driveType(char letter) {
    if (auto v = volumes_.find(letter); v != volumes_.end()) return v->second.driveType;
    return fallback_ ? fallback_->driveType(letter) : DriveNoRoot;
}

Result<VolumeInfo> TestBackend::volumeInformation(char letter) {
    volumeQueries_.push_back(letter);
    if (auto v = volumes_.find(letter); v != volumes_.end()) {
        if (!v->second.mediumPresent) return noMedium();
        return v->second.info;
    }
    if (fallback_) return fallback_->volumeInformation(letter);
    return errnoError(ENOENT);
}

Result<void> TestBackend::setVolumeLabel(char letter, const std::string& label) {
    if (auto v = volumes_.find(letter); v != volumes_.end()) {
        labelChanges_.emplace_back(letter, label);
        if (!v->second.mediumPresent) return noMedium();
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

std::optional<DriveIdentity> TestBackend::driveIdentity(const std::string& name) {
    if (auto index = parsePhysicalDriveName(name); index && *index < driveCount()) {
        const VirtualDrive& d = drives_[size_t(*index)];
        if (refused(d.faults, OpenMode::Read)) return std::nullopt;
        auto image = openImageDrive(systemBackend(), d, OpenMode::Read);
        return image ? (*image)->driveIdentity() : std::nullopt;
    }
    const auto [backend, path] = objectName(name);
    if (backend == &systemBackend() && parseVolumeName(name)) return std::nullopt; // a volume's image
    return backend ? backend->driveIdentity(path) : std::nullopt;
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
