#pragma once
// A stand-in operating system for tests: image files presented as numbered physical drives and
// volumes, injectable faults on them and on named files, and a record of every access outside the
// allowed bytes.

#include "core/job.h"
#include "platform/image_drives.h"
#include "platform/platform.h"

#include <cerrno>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform::testkit {

// What goes wrong with a drive or a file. Byte positions count from the start of the stream; a
// read or write that covers a bad byte (readErrorAt, badRanges, writeErrorAt) fails whole and
// moves nothing.
struct Faults {
    bool failOpen = false;               // every open fails with EACCES (a drive's ends a drive scan)
    std::vector<OpenMode> failOpenModes; // opens in these modes fail with EACCES, before anything
                                         // is created or truncated; other modes work
    bool failGeometry = false;           // the plain geometry query fails
    bool failGeometryEx = false;         // the extended geometry query fails
    bool failLength = false;             // the disk length query (lengthInfo) fails
    bool failFlush = false;              // flushing written data fails with EIO
    std::optional<int64_t> readErrorAt;  // a read that covers this byte fails with readError
    std::vector<ByteRange> badRanges;    // a read that covers any byte of these fails so too
    int readError = EIO;                 // what those reads fail with (ENODEV: the drive is gone)
    Clock* clock = nullptr;              // with failedReadMs: the time a failing drive takes
    int64_t failedReadMs = 0;            // each read that fails sleeps this long on `clock`
    // Every read asked of the stream (where it started, how much), failed ones too, when set.
    std::shared_ptr<std::vector<ByteRange>> readLog;
    std::optional<int64_t> writeErrorAt; // a write that covers this byte fails with EIO
    std::optional<int64_t> shortWriteAt; // writes stop here, as on a full medium: a write across
                                         // it moves the bytes before it, the next fails (ENOSPC)
    std::optional<int64_t> endsAt;       // reads stop here although the size says more
    bool dropWrites = false;             // writes report success and store nothing
    std::optional<int64_t> flipWriteAt;  // a write that covers this byte stores it inverted
};

struct VirtualDrive : ImageDrive {
    VirtualDrive() = default;
    explicit VirtualDrive(std::string path) : ImageDrive(std::move(path)) {}

    Faults faults;
    // When set, writes outside this range are refused and recorded as violations.
    std::optional<ByteRange> writable;
};

// A volume behind a drive letter, so volume lists and the file browser run without root.
struct VirtualVolume {
    char letter = 'C';
    int driveType = DriveFixed;
    VolumeInfo info;
    bool mediumPresent = true;      // false: an empty card reader slot, whose information fails
    std::string imagePath;          // what "\\.\<letter>:" opens; empty: the open fails
    std::string folder;             // where the volume's files are (its root)
    std::optional<FreeSpace> space; // nullopt: the free-space query fails
    bool labelChangeSucceeds = true;
};

class TestBackend final : public Backend {
public:
    // Drives beyond the virtual ones, volumes and memory/ticks come from the fallback when one
    // is given; plain paths are always opened through the system's backend, with the faults
    // that fileFaults() gives them.
    explicit TestBackend(Backend* fallback = nullptr);
    ~TestBackend() override;

    int addDrive(VirtualDrive drive);
    VirtualDrive& drive(int index) { return drives_.at(size_t(index)); }
    int driveCount() const { return int(drives_.size()); }
    void removeLastDrive() { drives_.pop_back(); }
    // The drives after it move down one number, as a system's do when a disk goes.
    void removeDrive(int index) { drives_.erase(drives_.begin() + index); }

    // Faults for a plain path (a file or a device node), matched by the name exactly as it is
    // given to open(): "dir/a", "dir/./a" and a link to it are three names. They are taken at
    // each open, so a stream already open keeps the ones it was opened with. A path without an
    // entry opens as it would without this backend.
    Faults& fileFaults(const std::string& path) { return fileFaults_[path]; }

    // Every access that fell outside what a drive allows; tests expect none.
    const std::vector<std::string>& violations() const { return *violations_; }
    // Every open asked of this backend: the name and the mode.
    const std::vector<std::pair<std::string, OpenMode>>& opens() const { return opens_; }
    // Streams of drives, volumes and files with faults opened through this backend and not yet
    // closed.
    int openStreams() const { return *openStreams_; }

    // Letters with a virtual volume answer from it; the others go to the fallback, if any.
    void addVolume(VirtualVolume volume);
    VirtualVolume& volume(char letter) { return volumes_.at(letter); }
    // Every label change asked of this backend, in order: the letter and the new label.
    const std::vector<std::pair<char, std::string>>& labelChanges() const { return labelChanges_; }
    // Every letter whose volume information was asked, in order.
    const std::vector<char>& volumeQueries() const { return volumeQueries_; }

    // Makes the watch descriptor readable with this many pending device changes.
    void signalDeviceChange(int count = 1);
    void setPhysicalMemory(int64_t bytes) { memory_ = bytes; }

    Result<std::unique_ptr<RawStream>> open(const std::string& name, OpenMode mode) override;
    std::string physicalDriveNode(int index) override;
    std::unique_ptr<DeviceWatch> watchDevices() override;
    int driveType(char letter) override;
    Result<VolumeInfo> volumeInformation(char letter) override;
    Result<void> setVolumeLabel(char letter, const std::string& label) override;
    std::string volumeRoot(char letter) override;
    Result<FreeSpace> freeSpace(const std::string& path) override;
    std::string objectIdentity(const std::string& name) override;
    int64_t objectOffset(const std::string& name) override;
    // A virtual drive's own (VirtualDrive::identity); not counted in opens().
    std::optional<DriveIdentity> driveIdentity(const std::string& name) override;
    // Plain paths, through the system's backend. A new file made for a target takes the faults
    // fileFaults() gives the target's name (a refused Create refuses it); holding an existing file
    // is refused (EACCES) where its faults refuse Write.
    Result<NameInfo> nameInfo(const std::string& path) override;
    Result<std::unique_ptr<PendingFile>> createPending(const std::string& target) override;
    Result<std::unique_ptr<RawStream>> holdFile(const std::string& path) override;
    // Free space reported for every path, instead of the system's answer.
    void setFreeSpace(std::optional<FreeSpace> space) { freeSpace_ = space; }
    int64_t totalPhysicalMemory() override;
    uint32_t ticks() override;

private:
    std::pair<Backend*, std::string> objectName(const std::string& name);
    Result<std::unique_ptr<RawStream>> openImage(const VirtualDrive& drive, const std::string& name,
                                                 OpenMode mode);
    Result<std::unique_ptr<RawStream>> openFile(const std::string& path, const Faults& faults, OpenMode mode);

    Backend* fallback_;
    std::vector<VirtualDrive> drives_;
    std::map<std::string, Faults> fileFaults_;
    std::shared_ptr<std::vector<std::string>> violations_ = std::make_shared<std::vector<std::string>>();
    std::shared_ptr<int> openStreams_ = std::make_shared<int>(0);
    int pipe_[2] = {-1, -1};
    std::optional<int64_t> memory_;
    std::optional<FreeSpace> freeSpace_;
    std::map<char, VirtualVolume> volumes_;
    std::vector<std::pair<char, std::string>> labelChanges_;
    std::vector<char> volumeQueries_;
    std::vector<std::pair<std::string, OpenMode>> opens_;
};

} // namespace platform::testkit
