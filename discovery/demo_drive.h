#pragma once
// The demo drive: a 64 MiB disk image that `--demo` shows as physical drive 0, so every tool has
// something real to work on without touching the machine's own disks.
//
// Layout (512-byte sectors):
//   0                 master boot record with x86 boot code (copies itself to 0:0600, loads the
//                     active partition's boot sector, or prints why it cannot)
//   1 .. 62           empty
//   63 .. 73727       primary 1, bootable, FAT32 LBA (0C): label "TARNWICK", one file README.TXT
//   73728 .. 131071   primary 2, extended (05), holding a chain of two logical partitions:
//     73728             extended boot record 1
//     73791 .. 90111    logical 1, Linux (83): text
//     90112             extended boot record 2 (linked from record 1)
//     90175 .. 106495   logical 2, Linux swap (82): binary data
//     106496 .. 131071  empty
// The image is always the same bytes, so tests can check what the tools make of it.

#include "platform/platform.h"

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <string>

namespace demo {

inline constexpr int64_t kSectorSize = 512;
inline constexpr int64_t kImageSize = int64_t(64) << 20;
inline constexpr uint32_t kFatStart = 63;
inline constexpr uint32_t kFatSectors = 73728 - kFatStart;
inline constexpr uint32_t kExtendedStart = 73728;
inline constexpr uint32_t kExtendedSectors = 131072 - kExtendedStart;
inline constexpr uint32_t kLogicalOffset = 63;  // from each extended boot record to its partition
inline constexpr uint32_t kLogicalSpan = 16384; // extended boot record + partition
inline constexpr uint32_t kLogicalSectors = kLogicalSpan - kLogicalOffset;
inline constexpr uint32_t kTextStart = kExtendedStart + kLogicalOffset;
inline constexpr uint32_t kBinaryStart = kExtendedStart + kLogicalSpan + kLogicalOffset;
inline constexpr uint32_t kEmptyTailStart = kExtendedStart + 2 * kLogicalSpan;

inline constexpr const char* kFatLabel = "TARNWICK";
inline constexpr uint32_t kFatVolumeId = 0x2024C0DE;
inline constexpr const char* kReadmeName = "README.TXT";
// The contents of README.TXT on the FAT32 volume.
const std::string& readmeText();

// Writes the image to path (created or replaced). Throws std::runtime_error when it cannot.
void writeDemoImage(const std::string& path);

// A FAT32 file system with one file in its root folder, written into `sectors` sectors of an open
// image at byte `offset`; hiddenSectors is where it starts on its disk.
void writeFat32(std::ostream& image, int64_t offset, uint32_t sectors, uint32_t hiddenSectors,
                const std::string& label, uint32_t volumeId, const std::string& fileName,
                const std::string& contents);

// The demo drive for one run of a program: the image in a fresh temporary folder, removed again
// when the object goes, and a backend that shows it as drive 0 ahead of the system's drives
// (whose numbers move up by one) and passes everything else to the given backend.
class DemoDrive {
public:
    explicit DemoDrive(platform::Backend& system);
    ~DemoDrive();
    DemoDrive(const DemoDrive&) = delete;
    DemoDrive& operator=(const DemoDrive&) = delete;

    platform::Backend& backend();
    const std::string& imagePath() const { return image_; }

private:
    std::filesystem::path folder_;
    std::string image_;
    std::unique_ptr<platform::Backend> backend_;
};

} // namespace demo
