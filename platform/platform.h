#pragma once
// The operating system as the engines see it: raw byte streams on devices and files, the three
// disk queries, device-change events, memory size and ticks. No Qt here.
//
// Device names are the ones the user interface builds:
//   "\\.\PHYSICALDRIVE<n>"  physical drive n (also used for partitions, by byte offset)
//   "\\.\<letter>:"         a logical volume
//   anything else           a plain path (a file, or a device node such as /dev/sdb)

#include "platform/result.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Writers of a file that a loop device presents also hold that loop device exclusively, so they
// are refused (EBUSY) while it is mounted and nobody mounts it while they write (Linux).
enum class OpenMode {
    Read,      // existing device or file, read only; never blocks other readers
    Write,     // existing device or file, write only, exclusive
    ReadWrite, // existing device or file, exclusive
    Create,    // create or replace a file, read and write, exclusive
};

enum class SeekOrigin { Begin, Current, End };

// The Windows DISK_GEOMETRY record, which is also what the drive list shows.
struct DiskGeometry {
    int64_t cylinders = 0;
    int32_t mediaType = 0; // 11 removable, 12 fixed (Windows MEDIA_TYPE values)
    uint32_t tracksPerCylinder = 0;
    uint32_t sectorsPerTrack = 0;
    uint32_t bytesPerSector = 0;

    // cylinders x tracks x sectors x bytes, in 64 bits.
    int64_t product() const {
        return cylinders * int64_t(tracksPerCylinder) * int64_t(sectorsPerTrack) * int64_t(bytesPerSector);
    }
};

struct DiskGeometryEx {
    DiskGeometry geometry;
    int64_t diskSize = 0;
};

// The geometry Windows reports for a modern disk: 255 tracks, 63 sectors, cylinders from the size.
DiskGeometry modernGeometry(int64_t size, uint32_t bytesPerSector, int32_t mediaType);

// Which physical disk a device lies on, as the system describes it: what tells two drives of one
// size apart. Texts are as the drive reports them, blanks trimmed; empty when it reports none.
struct DriveIdentity {
    std::string node;   // the whole disk's device node ("/dev/sdb"), or the file an image drive shows
    std::string model;  // "Ultra"
    std::string serial; // "4C530001230405117281"
    std::string vendor; // "SanDisk"
    std::string bus;    // lower case: "usb", "ata", "sata", "nvme", "scsi", "mmc", "virtio", "loop"...
    bool removable = false;
    bool rotational = false;
    int64_t size = 0; // the whole disk's bytes

    // Vendor and model as one name ("SanDisk Ultra"): the vendor is left out where the model
    // already starts with it, or where it is only the "ATA" that a SCSI layer puts there.
    std::string product() const;
    bool operator==(const DriveIdentity&) const = default;
};

// A half-open byte range [offset, offset + size). Invariant: offset >= 0, size >= 0 and the end
// fits in int64_t. Only make() and of() build one, so every range that exists holds it.
class ByteRange {
public:
    // Nothing when the invariant would not hold.
    static std::optional<ByteRange> make(int64_t offset, int64_t size);
    // For values known to be valid (constants, fences in tests); throws std::invalid_argument
    // otherwise.
    static ByteRange of(int64_t offset, int64_t size);

    int64_t offset() const { return offset_; }
    int64_t size() const { return size_; }
    int64_t end() const { return offset_ + size_; }
    bool empty() const { return size_ == 0; }
    bool contains(const ByteRange& other) const { return other.offset_ >= offset_ && other.end() <= end(); }
    // Ranges that only touch (one ends where the other starts) do not overlap.
    bool overlaps(const ByteRange& other) const {
        return !empty() && !other.empty() && offset_ < other.end() && other.offset_ < end();
    }
    bool operator==(const ByteRange&) const = default;

private:
    ByteRange(int64_t offset, int64_t size) : offset_(offset), size_(size) {}
    int64_t offset_ = 0;
    int64_t size_ = 0;
};

// An open device or file. The destructor closes it.
// read() and write() loop over short transfers and EINTR: they return the number of bytes moved,
// which is less than asked only at the end of the data (read) or when the medium is full (write),
// or an error when nothing could be moved because of one. An interrupt (see requestInterrupt) is
// always an error, never a short count.
class RawStream {
public:
    virtual ~RawStream() = default;
    RawStream() = default;
    RawStream(const RawStream&) = delete;
    RawStream& operator=(const RawStream&) = delete;

    virtual Result<int64_t> read(void* buffer, int64_t count) = 0;
    virtual Result<int64_t> write(const void* buffer, int64_t count) = 0;
    // read() and write() at `offset` from the start: the stream is positioned there first, and
    // one that cannot be (or lands elsewhere) is an error (ESPIPE), never a transfer elsewhere.
    Result<int64_t> readAt(int64_t offset, void* buffer, int64_t count);
    Result<int64_t> writeAt(int64_t offset, const void* buffer, int64_t count);
    // Returns the new position from the start.
    virtual Result<int64_t> seek(int64_t offset, SeekOrigin origin) = 0;
    virtual Result<int64_t> position() = 0;
    // Bytes in a file, or the device's size.
    virtual Result<int64_t> length() = 0;
    // Sets the length of a file (not of a device).
    virtual Result<void> truncate(int64_t length) = 0;
    // Pushes written data to the medium (fsync).
    virtual Result<void> flush() = 0;
    // Lets go of the system's cached copy of the data, so that the next read comes from the
    // medium (after flush()); a no-op where nothing is cached.
    virtual Result<void> dropCache() { return {}; }

    // The three disk queries. They fail on a plain file, as they do on Windows; the test backend
    // answers them for the image files it presents as drives.
    virtual Result<DiskGeometry> geometry() = 0;
    virtual Result<DiskGeometryEx> geometryEx() = 0;
    virtual Result<int64_t> lengthInfo() = 0;

    // The position, length and memory address multiple that reads and writes must keep: the
    // sector size of a device opened for direct I/O, else 1 (anything goes).
    virtual int64_t alignment() { return 1; }
    // Bytes the medium reads and writes as one (a 4 KiB sector behind 512-byte addressing): a
    // read error takes all of them. 0 when the device does not say, or for a file.
    virtual int64_t physicalSectorSize() { return 0; }

    // What the open object is, as a text that differs between any two devices or files: for a
    // block device its number, size, serial and (for a loop device) backing file; for a file its
    // file system and inode. A selection keeps it, and a later open that finds another object
    // behind the same name is refused. Empty when the system cannot tell.
    virtual std::string fingerprint() { return {}; }

    // The physical disk the open device lies on: a partition's or a volume's whole disk. Nothing
    // for a file, a pipe or a character device.
    virtual std::optional<DriveIdentity> driveIdentity() { return std::nullopt; }
};

// Bytes on their way from one stream to another, held by the system instead of in this process:
// moving them costs one copy (into the sink) instead of two (out of the source, then into the
// sink). Bound to the two streams it was made for, which must outlive it.
class KernelBuffer {
public:
    virtual ~KernelBuffer() = default;
    KernelBuffer() = default;
    KernelBuffer(const KernelBuffer&) = delete;
    KernelBuffer& operator=(const KernelBuffer&) = delete;

    // Takes up to `count` bytes (at most the capacity, less what is held) from the source at its
    // position, which moves on; counts and errors as RawStream::read.
    virtual Result<int64_t> fill(int64_t count) = 0;
    // Gives up to `count` of the held bytes, oldest first, to the sink at its position, which
    // moves on; counts and errors as RawStream::write.
    virtual Result<int64_t> drain(int64_t count) = 0;
    // Copies up to `count` of the held bytes, oldest first, into memory; they are no longer held.
    virtual Result<int64_t> take(void* buffer, int64_t count) = 0;
    virtual int64_t held() const = 0;
};

// A buffer of `capacity` bytes from `source` to `sink`, where the system can move them that way
// and it pays: Linux, a file or device read through the cache, at a page-aligned position, into a
// block device written through the cache. Else nothing, and the bytes go through memory.
std::unique_ptr<KernelBuffer> kernelBuffer(RawStream& source, RawStream& sink, int64_t capacity);

// What a name stands for in its folder, looked at without following it when it is a link.
enum class NameKind { Missing, File, Link, Folder, Device, Pipe, Socket, Other };

struct NameInfo {
    NameKind kind = NameKind::Missing;
    // Equal for two looks at the same entry (its file system and inode); empty when missing.
    std::string identity;
};

// A file being written that nobody else can reach yet: it has no name (or a random one in the
// target's folder that only this object created), so a planted link or a file of the user's is
// never taken for it. publish() gives it the target's name; destroyed unpublished, it leaves
// nothing behind.
class PendingFile {
public:
    virtual ~PendingFile() = default;
    PendingFile() = default;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    virtual RawStream& stream() = 0;
    // Fills the file with a copy of `source` from its start, as cheaply as the system allows
    // (shared extents, holes kept); the stream then stands at the copy's end.
    virtual Result<void> copyFrom(RawStream& source);
    // Gives the written file the target's name, in one step. `replacing` empty: the name must
    // still be free (EEXIST otherwise). Else the name must still be the entry NameInfo::identity
    // gave (a file, or a link, which is replaced as a name and never followed; EAGAIN when
    // something else stands there now). Call flush() on the stream first.
    virtual Result<void> publish(const std::string& replacing) = 0;
};

// A source of device-change events (a device added, removed or changed).
class DeviceWatch {
public:
    virtual ~DeviceWatch() = default;
    // A descriptor that becomes readable when events are pending, or -1 when events do not come
    // this way (on Windows the window receives WM_DEVICECHANGE itself).
    virtual int pollDescriptor() const = 0;
    // Consumes the pending events and returns how many of them were device changes.
    virtual int takeEvents() = 0;
};

// What the system says about the volume behind a drive letter.
struct VolumeInfo {
    std::string label;
    uint32_t serial = 0;             // first 4 bytes of the UUID, or the FAT/NTFS volume id
    uint32_t maxComponentLength = 0; // longest file name the file system takes
    uint32_t fileSystemFlags = 0;
    std::string fileSystem; // upper case, for example "EXT4"
};

// Windows drive type numbers, which the volume list shows as texts.
enum DriveType {
    DriveUnknown = 0,
    DriveNoRoot = 1,
    DriveRemovable = 2,
    DriveFixed = 3,
    DriveRemote = 4,
    DriveCdRom = 5,
    DriveRamDisk = 6
};

struct FreeSpace {
    int64_t availableToCaller = 0;
    int64_t total = 0;
    int64_t totalFree = 0;
};

// One operating system, or a stand-in for one.
class Backend {
public:
    virtual ~Backend() = default;

    virtual Result<std::unique_ptr<RawStream>> open(const std::string& name, OpenMode mode) = 0;
    // As open(), but a block device is read and written past the system's cache (direct I/O), in
    // whole, aligned sectors (RawStream::alignment). Anything else opens as open() does.
    virtual Result<std::unique_ptr<RawStream>> openDirect(const std::string& name, OpenMode mode) {
        return open(name, mode);
    }
    // The node that "\\.\PHYSICALDRIVE<n>" stands for (empty when there is none); shown to users
    // of the command line so that they know which device a number means.
    virtual std::string physicalDriveNode(int index) = 0;
    virtual std::unique_ptr<DeviceWatch> watchDevices() = 0;

    // Volumes by drive letter ('A' to 'Z'). Linux gives mounted file systems letters: C is "/",
    // then D, E, ... for the other mounts backed by a device, network share or RAM file system.
    virtual int driveType(char letter) = 0;
    virtual Result<VolumeInfo> volumeInformation(char letter) = 0;
    virtual Result<void> setVolumeLabel(char letter, const std::string& label) = 0;
    // Where the volume's files are (its mount point), or empty.
    virtual std::string volumeRoot(char letter) = 0;
    // Free space of the volume that holds a path; a path may also be a root such as "C:\".
    virtual Result<FreeSpace> freeSpace(const std::string& path) = 0;
    // A key that is equal for two names of the same file or device (a drive number and its node,
    // two paths of one file, a loop device and the file it presents); empty when the name leads
    // nowhere or the system cannot tell.
    virtual std::string objectIdentity(const std::string& /*name*/) { return {}; }
    // Where the name's byte 0 lies within that object: a partition's start on its disk, a loop
    // device's offset in its file (plus the partition's start for a partition on one), else 0.
    virtual int64_t objectOffset(const std::string& /*name*/) { return 0; }
    // The physical disk the name leads to now (RawStream::driveIdentity of what open() would
    // open), found without holding it and without waiting for a pipe; nothing for a file.
    virtual std::optional<DriveIdentity> driveIdentity(const std::string& name) {
        auto stream = open(name, OpenMode::Read);
        return stream ? (*stream)->driveIdentity() : std::nullopt;
    }

    // Files the program writes (images, archives, pictures); see jobs/output_file.h for the
    // rules built on these.
    // What `path` names, without following a final link.
    virtual Result<NameInfo> nameInfo(const std::string& path) = 0;
    // A new, nameless file in the folder of `target`, to be published as `target`.
    virtual Result<std::unique_ptr<PendingFile>> createPending(const std::string& target) = 0;
    // The regular file `path` (never through a link), opened for reading and held against other
    // writers while it is open: EWOULDBLOCK when another program holds it, EBUSY when a loop
    // device that presents it is in use (mounted).
    virtual Result<std::unique_ptr<RawStream>> holdFile(const std::string& path) = 0;

    virtual int64_t totalPhysicalMemory() = 0;
    // Milliseconds from an arbitrary start, wrapping at 32 bits like the system's tick count.
    virtual uint32_t ticks() = 0;
};

// A request to give up blocking waits, set from a signal handler (async-signal-safe). While it is
// set, opens and reads that the system interrupts (EINTR) fail instead of starting again, so a
// pipe with no writer cannot hold the program. Actions see it through their stop check.
void requestInterrupt();
bool interruptRequested();
void clearInterrupt();

// The user's decimal separator (from the locale settings), for fractions shown to the user.
char decimalSeparator();

// The backend of the machine the program runs on.
Backend& systemBackend();

// "\\.\PHYSICALDRIVE" + index.
std::string physicalDriveName(int index);
// The index of "\\.\PHYSICALDRIVE<n>" (case-insensitive prefix), or nullopt for other names.
std::optional<int> parsePhysicalDriveName(const std::string& name);
// The letter of "\\.\<letter>:" in upper case, or nullopt for other names.
std::optional<char> parseVolumeName(const std::string& name);

} // namespace platform
