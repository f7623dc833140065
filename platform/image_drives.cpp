#include "platform/image_drives.h"

#include <algorithm>
#include <cerrno>

namespace platform {
namespace {

class ImageDriveStream final : public RawStream {
public:
    ImageDriveStream(std::unique_ptr<RawStream> file, const ImageDrive& drive, int64_t size)
        : file_(std::move(file)), size_(size), bytesPerSector_(drive.bytesPerSector),
          physical_(drive.physicalBytesPerSector), mediaType_(drive.mediaType), identity_(drive.identity) {
        if (identity_.node.empty()) identity_.node = drive.imagePath;
        identity_.size = size;
    }

    Result<int64_t> read(void* buffer, int64_t count) override {
        auto pos = file_->position();
        if (!pos) return pos.error();
        return file_->read(buffer, std::max<int64_t>(0, std::min(count, size_ - *pos)));
    }

    Result<int64_t> write(const void* buffer, int64_t count) override {
        auto pos = file_->position();
        if (!pos) return pos.error();
        if (count < 0) return errnoError(EINVAL);
        const int64_t n = std::max<int64_t>(0, std::min(count, size_ - *pos));
        if (n == 0 && count > 0) return errnoError(ENOSPC);
        return file_->write(buffer, n);
    }

    Result<int64_t> seek(int64_t offset, SeekOrigin origin) override {
        if (origin == SeekOrigin::End) return file_->seek(size_ + offset, SeekOrigin::Begin);
        return file_->seek(offset, origin);
    }
    Result<int64_t> position() override { return file_->position(); }
    Result<int64_t> length() override { return size_; }
    Result<void> truncate(int64_t) override { return errnoError(EINVAL); }
    Result<void> flush() override { return file_->flush(); }

    Result<DiskGeometry> geometry() override { return modernGeometry(size_, bytesPerSector_, mediaType_); }
    Result<DiskGeometryEx> geometryEx() override {
        return DiskGeometryEx{modernGeometry(size_, bytesPerSector_, mediaType_), size_};
    }
    Result<int64_t> lengthInfo() override { return size_; }
    int64_t physicalSectorSize() override { return physical_; }

    // The image file that is open and the disk it is shown as: another image behind the same
    // drive number, or the same image shown with another size or sector size, is another disk.
    std::string fingerprint() override {
        const std::string image = file_->fingerprint();
        if (image.empty()) return {};
        return "virtual:" + image + ":size=" + std::to_string(size_) +
               ":sector=" + std::to_string(bytesPerSector_);
    }

    std::optional<DriveIdentity> driveIdentity() override { return identity_; }

private:
    std::unique_ptr<RawStream> file_;
    int64_t size_;
    uint32_t bytesPerSector_;
    uint32_t physical_;
    int32_t mediaType_;
    DriveIdentity identity_;
};

} // namespace

Result<std::unique_ptr<RawStream>> openImageDrive(Backend& files, const ImageDrive& drive, OpenMode mode) {
    if (mode == OpenMode::Create) return errnoError(EINVAL);
    auto file = files.open(drive.imagePath, mode == OpenMode::Read ? OpenMode::Read : OpenMode::ReadWrite);
    if (!file) return file.error();
    auto size = (*file)->length();
    if (!size) return size.error();
    return std::unique_ptr<RawStream>(std::make_unique<ImageDriveStream>(std::move(*file), drive, *size));
}

int ImageDrives::addDrive(ImageDrive drive) {
    drives_.push_back(std::move(drive));
    return driveCount() - 1;
}

Result<std::unique_ptr<RawStream>> ImageDrives::open(const std::string& name, OpenMode mode) {
    if (auto index = parsePhysicalDriveName(name); index && *index < driveCount())
        return openImageDrive(fallback_, drives_[size_t(*index)], mode);
    return fallback_.open(fallbackName(name), mode);
}

Result<std::unique_ptr<RawStream>> ImageDrives::openDirect(const std::string& name, OpenMode mode) {
    // An image is a file, and files always use the cache.
    if (auto index = parsePhysicalDriveName(name); index && *index < driveCount())
        return openImageDrive(fallback_, drives_[size_t(*index)], mode);
    return fallback_.openDirect(fallbackName(name), mode);
}

std::string ImageDrives::physicalDriveNode(int index) {
    if (index < 0) return {};
    if (index < driveCount()) {
        const ImageDrive& drive = drives_[size_t(index)];
        return drive.identity.node.empty() ? drive.imagePath : drive.identity.node;
    }
    return fallback_.physicalDriveNode(index - driveCount());
}

std::string ImageDrives::objectIdentity(const std::string& name) {
    return fallback_.objectIdentity(fallbackName(name));
}

int64_t ImageDrives::objectOffset(const std::string& name) {
    return fallback_.objectOffset(fallbackName(name));
}

std::optional<DriveIdentity> ImageDrives::driveIdentity(const std::string& name) {
    if (auto index = parsePhysicalDriveName(name); index && *index < driveCount()) {
        auto image = openImageDrive(fallback_, drives_[size_t(*index)], OpenMode::Read);
        return image ? (*image)->driveIdentity() : std::nullopt;
    }
    return fallback_.driveIdentity(fallbackName(name));
}

std::string ImageDrives::fallbackName(const std::string& name) const {
    if (auto index = parsePhysicalDriveName(name)) {
        if (*index < driveCount()) return drives_[size_t(*index)].imagePath;
        return physicalDriveName(*index - driveCount());
    }
    return name;
}

} // namespace platform
