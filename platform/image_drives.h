#pragma once
// Image files shown as physical drives, ahead of another backend's drives: the demo drive, and
// the test kit's virtual drives.

#include "platform/platform.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// An image file and the disk it stands for.
struct ImageDrive {
    ImageDrive() = default;
    explicit ImageDrive(std::string path) : imagePath(std::move(path)) {}

    std::string imagePath;
    uint32_t bytesPerSector = 512;
    uint32_t physicalBytesPerSector = 0; // what the disk says it reads as one; 0: it says nothing
    int32_t mediaType = 12;              // fixed
    // What the drive says it is (a test's USB stick: model, serial, bus "usb"). Its node is the
    // image's path unless one is given, its size always the image's.
    DriveIdentity identity;
};

// Opens the image file through `files` and shows it as a disk: its size is fixed at the open,
// reads end there, a write across it moves what fits and the next one fails with ENOSPC, truncate
// is refused and the disk queries answer from the size. Create is refused (EINVAL): a disk is
// never created. Write opens the file for reading and writing, so its length can be asked.
Result<std::unique_ptr<RawStream>> openImageDrive(Backend& files, const ImageDrive& drive, OpenMode mode);

// Drives 0..k-1 are the images; the fallback's drive n is drive n + k. Every other name, and
// everything else (volumes, device watch, memory, ticks), is the fallback's, which also opens the
// image files. The fallback must outlive this backend.
class ImageDrives final : public Backend {
public:
    explicit ImageDrives(Backend& fallback) : fallback_(fallback) {}

    int addDrive(ImageDrive drive);
    int driveCount() const { return int(drives_.size()); }
    const ImageDrive& drive(int index) const { return drives_.at(size_t(index)); }

    Result<std::unique_ptr<RawStream>> open(const std::string& name, OpenMode mode) override;
    Result<std::unique_ptr<RawStream>> openDirect(const std::string& name, OpenMode mode) override;
    std::string physicalDriveNode(int index) override;
    std::unique_ptr<DeviceWatch> watchDevices() override { return fallback_.watchDevices(); }
    int driveType(char letter) override { return fallback_.driveType(letter); }
    Result<VolumeInfo> volumeInformation(char letter) override { return fallback_.volumeInformation(letter); }
    Result<void> setVolumeLabel(char letter, const std::string& label) override {
        return fallback_.setVolumeLabel(letter, label);
    }
    std::string volumeRoot(char letter) override { return fallback_.volumeRoot(letter); }
    Result<FreeSpace> freeSpace(const std::string& path) override { return fallback_.freeSpace(path); }
    std::string objectIdentity(const std::string& name) override;
    int64_t objectOffset(const std::string& name) override;
    std::optional<DriveIdentity> driveIdentity(const std::string& name) override;
    Result<NameInfo> nameInfo(const std::string& path) override { return fallback_.nameInfo(path); }
    Result<std::unique_ptr<PendingFile>> createPending(const std::string& target) override {
        return fallback_.createPending(target);
    }
    Result<std::unique_ptr<RawStream>> holdFile(const std::string& path) override {
        return fallback_.holdFile(path);
    }
    int64_t totalPhysicalMemory() override { return fallback_.totalPhysicalMemory(); }
    uint32_t ticks() override { return fallback_.ticks(); }

private:
    // The fallback's name for what `name` means here: an image's file, a later drive's own
    // number, or the name itself.
    std::string fallbackName(const std::string& name) const;

    Backend& fallback_;
    std::vector<ImageDrive> drives_;
};

} // namespace platform
