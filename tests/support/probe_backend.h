#pragma once
// A backend between the tools and another backend, for what the test backend does not do: seeks
// that land elsewhere, reads that take time on a fake clock, where every read started, and
// devices far larger than any test file (their reads move nothing).

#include "platform/platform.h"
#include "support/scripted_ui.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace probe {

struct Probe {
    int64_t seekSkew = 0;                            // a seek lands this many bytes further
    FakeClock* clock = nullptr;                      // advanced by every read
    std::function<int64_t(int64_t position)> readMs; // how long a read from there takes
    std::vector<int64_t> reads;                      // where every read started
};

class ProbeStream final : public platform::RawStream {
public:
    ProbeStream(std::unique_ptr<platform::RawStream> inner, Probe& probe)
        : inner_(std::move(inner)), probe_(probe) {}
    platform::Result<int64_t> read(void* buffer, int64_t count) override {
        probe_.reads.push_back(position_);
        if (probe_.clock && probe_.readMs) probe_.clock->now += probe_.readMs(position_);
        auto n = inner_->read(buffer, count);
        if (n) position_ += *n;
        return n;
    }
    platform::Result<int64_t> write(const void* buffer, int64_t count) override {
        auto n = inner_->write(buffer, count);
        if (n) position_ += *n;
        return n;
    }
    platform::Result<int64_t> seek(int64_t offset, platform::SeekOrigin origin) override {
        auto to = inner_->seek(offset + probe_.seekSkew, origin);
        if (to) position_ = *to;
        return to;
    }
    platform::Result<int64_t> position() override { return inner_->position(); }
    platform::Result<int64_t> length() override { return inner_->length(); }
    platform::Result<void> truncate(int64_t length) override { return inner_->truncate(length); }
    platform::Result<void> flush() override { return inner_->flush(); }
    platform::Result<platform::DiskGeometry> geometry() override { return inner_->geometry(); }
    platform::Result<platform::DiskGeometryEx> geometryEx() override { return inner_->geometryEx(); }
    platform::Result<int64_t> lengthInfo() override { return inner_->lengthInfo(); }
    int64_t alignment() override { return inner_->alignment(); }
    int64_t physicalSectorSize() override { return inner_->physicalSectorSize(); }
    std::string fingerprint() override { return inner_->fingerprint(); }
    std::optional<platform::DriveIdentity> driveIdentity() override { return inner_->driveIdentity(); }

private:
    std::unique_ptr<platform::RawStream> inner_;
    Probe& probe_;
    int64_t position_ = 0;
};

// A device of any size whose reads succeed without moving bytes.
class HoleStream final : public platform::RawStream {
public:
    explicit HoleStream(int64_t size) : size_(size) {}
    platform::Result<int64_t> read(void*, int64_t count) override {
        const int64_t n = std::max<int64_t>(0, std::min(count, size_ - position_));
        position_ += n;
        return n;
    }
    platform::Result<int64_t> write(const void*, int64_t) override { return platform::errnoError(EROFS); }
    platform::Result<int64_t> seek(int64_t offset, platform::SeekOrigin origin) override {
        if (origin != platform::SeekOrigin::Begin || offset < 0) return platform::errnoError(EINVAL);
        return position_ = offset;
    }
    platform::Result<int64_t> position() override { return position_; }
    platform::Result<int64_t> length() override { return size_; }
    platform::Result<void> truncate(int64_t) override { return platform::errnoError(EINVAL); }
    platform::Result<void> flush() override { return {}; }
    platform::Result<platform::DiskGeometry> geometry() override { return platform::errnoError(ENOTTY); }
    platform::Result<platform::DiskGeometryEx> geometryEx() override { return platform::errnoError(ENOTTY); }
    platform::Result<int64_t> lengthInfo() override { return size_; }

private:
    int64_t size_;
    int64_t position_ = 0;
};

class ProbeBackend final : public platform::Backend {
public:
    explicit ProbeBackend(platform::Backend& inner) : inner_(inner) {}
    Probe probe;
    std::map<std::string, int64_t> holes; // names that open as a HoleStream of that size

    platform::Result<std::unique_ptr<platform::RawStream>> open(const std::string& name,
                                                                platform::OpenMode mode) override {
        return wrap(name, inner_.open(name, mode));
    }
    platform::Result<std::unique_ptr<platform::RawStream>> openDirect(const std::string& name,
                                                                      platform::OpenMode mode) override {
        return wrap(name, inner_.openDirect(name, mode));
    }
    std::string physicalDriveNode(int index) override { return inner_.physicalDriveNode(index); }
    std::unique_ptr<platform::DeviceWatch> watchDevices() override { return inner_.watchDevices(); }
    int driveType(char letter) override { return inner_.driveType(letter); }
    platform::Result<platform::VolumeInfo> volumeInformation(char letter) override {
        return inner_.volumeInformation(letter);
    }
    platform::Result<void> setVolumeLabel(char letter, const std::string& label) override {
        return inner_.setVolumeLabel(letter, label);
    }
    std::string volumeRoot(char letter) override { return inner_.volumeRoot(letter); }
    platform::Result<platform::FreeSpace> freeSpace(const std::string& path) override {
        return inner_.freeSpace(path);
    }
    platform::Result<platform::NameInfo> nameInfo(const std::string& path) override {
        return inner_.nameInfo(path);
    }
    platform::Result<std::unique_ptr<platform::PendingFile>>
    createPending(const std::string& target) override {
        return inner_.createPending(target);
    }
    platform::Result<std::unique_ptr<platform::RawStream>> holdFile(const std::string& path) override {
        return inner_.holdFile(path);
    }
    std::optional<platform::DriveIdentity> driveIdentity(const std::string& name) override {
        return inner_.driveIdentity(name);
    }
    int64_t totalPhysicalMemory() override { return inner_.totalPhysicalMemory(); }
    uint32_t ticks() override { return inner_.ticks(); }

private:
    platform::Result<std::unique_ptr<platform::RawStream>>
    wrap(const std::string& name, platform::Result<std::unique_ptr<platform::RawStream>> s) {
        if (const auto hole = holes.find(name); hole != holes.end())
            return std::unique_ptr<platform::RawStream>(
                std::make_unique<ProbeStream>(std::make_unique<HoleStream>(hole->second), probe));
        if (!s) return s;
        return std::unique_ptr<platform::RawStream>(std::make_unique<ProbeStream>(std::move(*s), probe));
    }
    platform::Backend& inner_;
};

} // namespace probe
