// Windows backend: the system's own raw names ("\\.\PHYSICALDRIVE<n>", "\\.\<letter>:") go
// straight to CreateFileW; the disk queries are the DeviceIoControl calls they stand for. Names
// and texts are UTF-8 on this side and UTF-16 on the system's.

#include "platform/platform.h"
#include "platform/windows/utf16.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <vector>

namespace platform {
namespace {

// The engines tell a few failures apart by their errno number (a name taken, a file in use, a
// drive gone...), as the system gives it on Linux: those get the same number here, with the
// system's own text. Any other failure keeps the system's code.
int portableCode(DWORD code) {
    switch (code) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EAGAIN;
    case ERROR_BUSY:
        return EBUSY;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NOT_READY: // no medium: no further read can succeed
        return ENODEV;
    }
    return int(code);
}

Error windowsError(DWORD code) {
    wchar_t text[512] = {};
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                               text, DWORD(std::size(text)), nullptr);
    // The system's texts end in CR/LF, which would break the message boxes that quote them.
    while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n'))
        --n;
    if (n == 0) return Error{portableCode(code), "Error " + std::to_string(code)};
    return Error{portableCode(code), windows::utf8(text, n)};
}

// Must be called before anything else touches the thread's last error.
Error lastError() {
    return windowsError(::GetLastError());
}

// Device handles have no file size and no end to seek from; only the disk queries know.
bool isDeviceName(const std::string& name) {
    return name.size() > 4 && name.compare(0, 4, "\\\\.\\") == 0;
}

// A handle closed when its owner goes.
class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~UniqueHandle() {
        if (valid()) ::CloseHandle(h_);
    }
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.h_) { o.h_ = INVALID_HANDLE_VALUE; }
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        std::swap(h_, o.h_);
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

// One open HANDLE; files, volumes and physical drives alike. `locked`: the volumes it holds
// locked and dismounted while it writes; they mount again when it closes.
class HandleStream final : public RawStream {
public:
    HandleStream(HANDLE handle, bool device, bool writable, std::vector<UniqueHandle> locked = {})
        : handle_(handle), device_(device), writable_(writable), locked_(std::move(locked)) {}
    ~HandleStream() override {
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    }

    Result<int64_t> read(void* buffer, int64_t count) override {
        auto* p = static_cast<char*>(buffer);
        int64_t done = 0;
        while (done < count) {
            DWORD n = 0;
            if (!::ReadFile(handle_, p + done, chunk(count - done), &n, nullptr)) {
                const DWORD code = ::GetLastError();
                if (code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE) break;
                if (done > 0) break; // the error shows again on the next call
                return windowsError(code);
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
            DWORD n = 0;
            if (!::WriteFile(handle_, p + done, chunk(count - done), &n, nullptr)) {
                if (done > 0) break;
                return lastError();
            }
            if (n == 0) break;
            done += n;
        }
        return done;
    }

    Result<int64_t> seek(int64_t offset, SeekOrigin origin) override {
        DWORD method = origin == SeekOrigin::Begin     ? FILE_BEGIN
                       : origin == SeekOrigin::Current ? FILE_CURRENT
                                                       : FILE_END;
        if (origin == SeekOrigin::End && device_) {
            auto size = lengthInfo();
            if (!size) return size.error();
            offset += *size;
            method = FILE_BEGIN;
        }
        LARGE_INTEGER distance;
        distance.QuadPart = offset;
        LARGE_INTEGER now;
        if (!::SetFilePointerEx(handle_, distance, &now, method)) return lastError();
        return int64_t(now.QuadPart);
    }

    Result<int64_t> position() override { return seek(0, SeekOrigin::Current); }

    Result<int64_t> length() override {
        if (device_) return lengthInfo();
        LARGE_INTEGER size;
        if (!::GetFileSizeEx(handle_, &size)) return lastError();
        return int64_t(size.QuadPart);
    }

    Result<void> truncate(int64_t length) override {
        if (device_) return windowsError(ERROR_INVALID_FUNCTION);
        // SetEndOfFile cuts at the file pointer; the caller's position must survive, as ftruncate's does.
        auto was = position();
        if (!was) return was.error();
        if (auto r = seek(length, SeekOrigin::Begin); !r) return r.error();
        const bool cut = ::SetEndOfFile(handle_);
        const Error cutError = cut ? Error{} : lastError();
        if (auto r = seek(*was, SeekOrigin::Begin); !r) return r.error();
        if (!cut) return cutError;
        return {};
    }

    Result<void> flush() override {
        // A read-only handle has nothing to push, and FlushFileBuffers refuses it.
        if (!writable_) return {};
        if (!::FlushFileBuffers(handle_)) return lastError();
        return {};
    }

    // A file's cached pages go when a handle that bypasses the cache opens it; a disk or volume
    // read back is opened that way itself (openDirect).
    Result<void> dropCache() override {
        if (device_) return {};
        const HANDLE h =
            ::ReOpenFile(handle_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         FILE_FLAG_NO_BUFFERING);
        if (h == INVALID_HANDLE_VALUE) return lastError();
        ::CloseHandle(h);
        return {};
    }

    // A raw disk or volume takes whole sectors only, at sector-aligned positions and addresses.
    int64_t alignment() override {
        if (!device_) return 1;
        const auto g = geometry();
        return g && g->bytesPerSector > 0 ? int64_t(g->bytesPerSector) : 512;
    }

    Result<DiskGeometry> geometry() override {
        DISK_GEOMETRY g{};
        DWORD returned = 0;
        if (!::DeviceIoControl(handle_, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &g, sizeof g, &returned,
                               nullptr))
            return lastError();
        return convert(g);
    }

    Result<DiskGeometryEx> geometryEx() override {
        // Room for the partition and detection records some drivers append after the size.
        union {
            DISK_GEOMETRY_EX ex;
            unsigned char bytes[256];
        } out{};
        DWORD returned = 0;
        if (!::DeviceIoControl(handle_, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &out, sizeof out,
                               &returned, nullptr))
            return lastError();
        DiskGeometryEx result;
        result.geometry = convert(out.ex.Geometry);
        result.diskSize = int64_t(out.ex.DiskSize.QuadPart);
        return result;
    }

    Result<int64_t> lengthInfo() override {
        GET_LENGTH_INFORMATION info{};
        DWORD returned = 0;
        if (!::DeviceIoControl(handle_, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &info, sizeof info, &returned,
                               nullptr))
            return lastError();
        return int64_t(info.Length.QuadPart);
    }

    // From the open handle, never from the name: a file by its volume and file index; a device by
    // the storage stack's device and partition numbers, its length, where it starts on its disk
    // and the disk's serial number.
    std::string fingerprint() override {
        if (!device_) {
            BY_HANDLE_FILE_INFORMATION info{};
            if (!::GetFileInformationByHandle(handle_, &info)) return {};
            return "file:" + std::to_string(info.dwVolumeSerialNumber) + ":" +
                   std::to_string((uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
        }
        std::string text;
        DWORD returned = 0;
        STORAGE_DEVICE_NUMBER number{};
        if (::DeviceIoControl(handle_, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number,
                              &returned, nullptr)) {
            text = "disk:" + std::to_string(number.DeviceType) + ":" + std::to_string(number.DeviceNumber) +
                   ":" + std::to_string(number.PartitionNumber);
        } else {
            // A volume spread over several disks has no single number; its file system's serial
            // number stands in.
            DWORD serial = 0;
            if (!::GetVolumeInformationByHandleW(handle_, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0))
                return {};
            text = "volume:" + std::to_string(serial);
        }
        auto size = lengthInfo();
        text += ":size=" + (size ? std::to_string(*size) : std::string("?"));
        PARTITION_INFORMATION_EX partition{};
        if (::DeviceIoControl(handle_, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &partition,
                              sizeof partition, &returned, nullptr))
            text += ":start=" + std::to_string(partition.StartingOffset.QuadPart);
        // Last, as it is the only part with free text in it.
        if (const std::string serial = diskSerial(); !serial.empty()) text += ":serial=" + serial;
        return text;
    }

    // A volume's handle answers for the disk beneath it, as a drive's does for itself.
    std::optional<DriveIdentity> driveIdentity() override {
        if (!device_) return std::nullopt;
        DriveIdentity id;
        bool known = false;
        DWORD returned = 0;
        STORAGE_DEVICE_NUMBER number{};
        if (::DeviceIoControl(handle_, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number,
                              &returned, nullptr) &&
            number.DeviceType == FILE_DEVICE_DISK) {
            id.node = physicalDriveName(int(number.DeviceNumber));
            known = true;
        }
        if (const auto d = deviceDescriptor()) {
            id.vendor = d->vendor;
            id.model = d->product;
            id.serial = d->serial;
            id.bus = busName(d->busType);
            id.removable = d->removable;
            known = true;
        }
        STORAGE_PROPERTY_QUERY query{};
        query.PropertyId = StorageDeviceSeekPenaltyProperty;
        query.QueryType = PropertyStandardQuery;
        DEVICE_SEEK_PENALTY_DESCRIPTOR penalty{};
        if (::DeviceIoControl(handle_, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &penalty,
                              sizeof penalty, &returned, nullptr) &&
            returned >= sizeof penalty)
            id.rotational = penalty.IncursSeekPenalty != 0; // only a spinning disk pays for seeks
        if (auto ex = geometryEx()) id.size = ex->diskSize;
        if (!known) return std::nullopt;
        return id;
    }

private:
    struct DeviceDescriptor {
        std::string vendor, product, serial;
        int busType = 0;
        bool removable = false;
    };

    // STORAGE_DEVICE_DESCRIPTOR: its texts sit at offsets into the returned bytes, padded with
    // blanks; an offset of 0 means the device has no such text.
    std::optional<DeviceDescriptor> deviceDescriptor() {
        STORAGE_PROPERTY_QUERY query{};
        query.PropertyId = StorageDeviceProperty;
        query.QueryType = PropertyStandardQuery;
        union {
            STORAGE_DEVICE_DESCRIPTOR descriptor;
            char bytes[1024];
        } out{};
        DWORD returned = 0;
        if (!::DeviceIoControl(handle_, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &out, sizeof out,
                               &returned, nullptr) ||
            returned > sizeof out || returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, RawPropertiesLength))
            return std::nullopt;
        const auto textAt = [&](DWORD at) -> std::string {
            if (at == 0 || at >= returned) return {};
            std::string text(out.bytes + at, strnlen(out.bytes + at, returned - at));
            const size_t first = text.find_first_not_of(' ');
            if (first == std::string::npos) return {};
            return text.substr(first, text.find_last_not_of(' ') - first + 1);
        };
        DeviceDescriptor d;
        d.vendor = textAt(out.descriptor.VendorIdOffset);
        d.product = textAt(out.descriptor.ProductIdOffset);
        d.serial = textAt(out.descriptor.SerialNumberOffset);
        d.busType = int(out.descriptor.BusType);
        d.removable = out.descriptor.RemovableMedia != 0;
        return d;
    }

    std::string diskSerial() {
        const auto d = deviceDescriptor();
        return d ? d->serial : std::string();
    }

    // STORAGE_BUS_TYPE by number: the newer names are declared only for newer Windows versions.
    static std::string busName(int type) {
        static const char* const names[] = {"",        "scsi", "atapi",  "ata",  "1394", "ssa", "fibre",
                                            "usb",     "raid", "iscsi",  "sas",  "sata", "sd",  "mmc",
                                            "virtual", "file", "spaces", "nvme", "scm",  "ufs"};
        return type >= 0 && size_t(type) < std::size(names) ? names[type] : std::string();
    }

    // ReadFile and WriteFile take 32-bit counts; 1 GiB keeps every piece a whole number of sectors.
    static DWORD chunk(int64_t remaining) { return DWORD(std::min<int64_t>(remaining, int64_t(1) << 30)); }

    static DiskGeometry convert(const DISK_GEOMETRY& g) {
        DiskGeometry d;
        d.cylinders = int64_t(g.Cylinders.QuadPart);
        d.mediaType = int32_t(g.MediaType);
        d.tracksPerCylinder = g.TracksPerCylinder;
        d.sectorsPerTrack = g.SectorsPerTrack;
        d.bytesPerSector = g.BytesPerSector;
        return d;
    }

    HANDLE handle_;
    bool device_;
    bool writable_;
    std::vector<UniqueHandle> locked_;
};

// A file system that still holds a volume would write behind our back: a volume that cannot be
// locked refuses the open, as a mounted device does on Linux.
Error lockRefusal(DWORD code) {
    return windowsError(code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION ||
                                code == ERROR_LOCK_VIOLATION
                            ? DWORD(ERROR_BUSY)
                            : code);
}

// Locks and dismounts the volume open on `h`: no file system writes to it until the handle closes.
Result<void> lockAndDismount(HANDLE h) {
    DWORD returned = 0;
    if (!::DeviceIoControl(h, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr))
        return lockRefusal(::GetLastError());
    if (!::DeviceIoControl(h, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr))
        return lastError();
    return {};
}

// Whether any part of the volume lies on disk `disk`.
bool volumeOnDisk(const std::wstring& volume, int disk) {
    const UniqueHandle h(::CreateFileW(volume.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    if (!h.valid()) return false;
    union {
        VOLUME_DISK_EXTENTS extents;
        unsigned char bytes[sizeof(VOLUME_DISK_EXTENTS) + 31 * sizeof(DISK_EXTENT)];
    } out{};
    DWORD returned = 0;
    if (!::DeviceIoControl(h.get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, &out, sizeof out,
                           &returned, nullptr))
        return false;
    const DWORD count = std::min<DWORD>(out.extents.NumberOfDiskExtents, 32);
    for (DWORD i = 0; i < count; ++i)
        if (int(out.extents.Extents[i].DiskNumber) == disk) return true;
    return false;
}

// Every volume on disk `disk`, locked and dismounted, before the disk is written.
Result<std::vector<UniqueHandle>> lockVolumesOn(int disk) {
    std::vector<UniqueHandle> locked;
    wchar_t name[MAX_PATH + 1] = {};
    const HANDLE find = ::FindFirstVolumeW(name, DWORD(std::size(name)));
    if (find == INVALID_HANDLE_VALUE) return locked; // a system without volumes has none to lock
    struct Close {
        HANDLE h;
        ~Close() { ::FindVolumeClose(h); }
    } closeFind{find};
    do {
        // "\\?\Volume{...}\" names the root folder; without the last separator, the volume.
        std::wstring volume = name;
        if (!volume.empty() && volume.back() == L'\\') volume.pop_back();
        if (!volumeOnDisk(volume, disk)) continue;
        UniqueHandle h(::CreateFileW(volume.c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!h.valid()) return lockRefusal(::GetLastError());
        if (auto r = lockAndDismount(h.get()); !r) return r.error();
        locked.push_back(std::move(h));
    } while (::FindNextVolumeW(find, name, DWORD(std::size(name))));
    return locked;
}

// Windows tells the main window about device changes with WM_DEVICECHANGE; there is nothing to
// poll here, so the window's own message handler does the watching.
class NoWatch final : public DeviceWatch {
public:
    int pollDescriptor() const override { return -1; }
    int takeEvents() override { return 0; }
};

std::optional<std::string> rootOf(char letter) {
    const char c = char(letter >= 'a' && letter <= 'z' ? letter - 'a' + 'A' : letter);
    if (c < 'A' || c > 'Z') return std::nullopt;
    return std::string(1, c) + ":\\";
}

// The folder of a path, with its separator ("C:\a\" for "C:\a\b.raw"), or "" for a bare name.
std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    if (slash != std::string::npos) return path.substr(0, slash + 1);
    if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
    return {};
}

std::string identityOf(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info)) return {};
    return std::to_string(info.dwVolumeSerialNumber) + ":" +
           std::to_string((uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
}

// The entry itself (a link is not followed), or INVALID_HANDLE_VALUE.
HANDLE openEntry(const std::string& path) {
    return ::CreateFileW(windows::wide(path).c_str(), 0,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Windows has no nameless files: the new file gets a random name beside the target, created
// with CREATE_NEW so that it can only be new, and is renamed over the target at the end.
class WindowsPendingFile final : public PendingFile {
public:
    WindowsPendingFile(HANDLE h, std::string tempPath, std::string target)
        : tempPath_(std::move(tempPath)), target_(std::move(target)),
          stream_(std::make_unique<HandleStream>(h, false, true)), identity_(identityOf(h)) {}
    ~WindowsPendingFile() override {
        stream_.reset();
        if (published_) return;
        // Only the name this object made, and only while it is still this file.
        const HANDLE h = openEntry(tempPath_);
        if (h == INVALID_HANDLE_VALUE) return;
        const bool ours = identityOf(h) == identity_;
        ::CloseHandle(h);
        if (ours) ::DeleteFileW(windows::wide(tempPath_).c_str());
    }
    RawStream& stream() override { return *stream_; }
    Result<void> publish(const std::string& replacing) override {
        DWORD flags = MOVEFILE_WRITE_THROUGH;
        if (!replacing.empty()) {
            const HANDLE h = openEntry(target_);
            if (h == INVALID_HANDLE_VALUE) return lastError();
            const std::string now = identityOf(h);
            ::CloseHandle(h);
            if (now != replacing) return windowsError(ERROR_FILE_EXISTS);
            flags |= MOVEFILE_REPLACE_EXISTING;
        }
        if (!::MoveFileExW(windows::wide(tempPath_).c_str(), windows::wide(target_).c_str(), flags))
            return lastError();
        published_ = true;
        return {};
    }

private:
    std::string tempPath_;
    std::string target_;
    std::unique_ptr<HandleStream> stream_;
    std::string identity_;
    bool published_ = false;
};

class WindowsBackend final : public Backend {
public:
    Result<std::unique_ptr<RawStream>> open(const std::string& name, OpenMode mode) override {
        return openName(name, mode, false);
    }

    // Devices past the system's cache (FILE_FLAG_NO_BUFFERING): whole, aligned sectors only, which
    // the block engine's aligned streams keep to.
    Result<std::unique_ptr<RawStream>> openDirect(const std::string& name, OpenMode mode) override {
        return openName(name, mode, isDeviceName(name));
    }

    std::string physicalDriveNode(int index) override {
        return index < 0 ? std::string() : physicalDriveName(index);
    }

    std::unique_ptr<DeviceWatch> watchDevices() override { return std::make_unique<NoWatch>(); }

private:
    Result<std::unique_ptr<RawStream>> openName(const std::string& name, OpenMode mode, bool direct) {
        DWORD access = 0;
        DWORD share = 0; // writers are exclusive: no one else reads or writes behind them
        DWORD disposition = OPEN_EXISTING;
        switch (mode) {
        case OpenMode::Read:
            access = GENERIC_READ;
            // Readers never block each other; a writer still refuses to share with them.
            share = FILE_SHARE_READ | FILE_SHARE_WRITE;
            break;
        case OpenMode::Write:
            // A device is written in whole sectors: a range that covers one only in part reads it
            // first, so a device opened for writing is opened for reading too.
            access = isDeviceName(name) ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
            break;
        case OpenMode::ReadWrite:
            access = GENERIC_READ | GENERIC_WRITE;
            break;
        case OpenMode::Create:
            // Devices are only ever opened as they are, never created or replaced.
            if (isDeviceName(name)) return windowsError(ERROR_FILE_EXISTS);
            access = GENERIC_READ | GENERIC_WRITE;
            // With no sharing, a file in use fails the open before CREATE_ALWAYS can empty it.
            disposition = CREATE_ALWAYS;
            break;
        }
        const bool writing = mode != OpenMode::Read;
        const auto disk = writing ? parsePhysicalDriveName(name) : std::nullopt;
        const auto letter = writing ? parseVolumeName(name) : std::nullopt;
        // A volume written is shared with its file system until the lock below takes it over.
        if (letter) share = FILE_SHARE_READ | FILE_SHARE_WRITE;
        // Direct writes go in whole sectors: a range that covers one only in part reads it first.
        if (direct) access |= GENERIC_READ;
        std::vector<UniqueHandle> locked;
        if (disk) {
            auto volumes = lockVolumesOn(*disk);
            if (!volumes) return volumes.error();
            locked = std::move(*volumes);
        }
        const DWORD flags = direct ? FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH : FILE_ATTRIBUTE_NORMAL;
        const HANDLE h =
            ::CreateFileW(windows::wide(name).c_str(), access, share, nullptr, disposition, flags, nullptr);
        if (h == INVALID_HANDLE_VALUE) return lastError();
        auto stream = std::make_unique<HandleStream>(h, isDeviceName(name), writing, std::move(locked));
        if (letter) {
            if (auto r = lockAndDismount(h); !r) return r.error();
        }
        return std::unique_ptr<RawStream>(std::move(stream));
    }

public:
    int driveType(char letter) override {
        const auto root = rootOf(letter);
        return root ? int(::GetDriveTypeW(windows::wide(*root).c_str())) : DriveNoRoot;
    }

    Result<VolumeInfo> volumeInformation(char letter) override {
        const auto root = rootOf(letter);
        if (!root) return windowsError(ERROR_INVALID_DRIVE);
        wchar_t label[MAX_PATH + 1] = {};
        wchar_t fileSystem[MAX_PATH + 1] = {};
        DWORD serial = 0, maxComponent = 0, flags = 0;
        if (!::GetVolumeInformationW(windows::wide(*root).c_str(), label, DWORD(std::size(label)), &serial,
                                     &maxComponent, &flags, fileSystem, DWORD(std::size(fileSystem))))
            return lastError();
        VolumeInfo v;
        v.label = windows::utf8(label);
        v.serial = serial;
        v.maxComponentLength = maxComponent;
        v.fileSystemFlags = flags;
        v.fileSystem = windows::utf8(fileSystem); // as the system names it ("NTFS", "FAT32", "exFAT")
        return v;
    }

    Result<void> setVolumeLabel(char letter, const std::string& label) override {
        const auto root = rootOf(letter);
        if (!root) return windowsError(ERROR_INVALID_DRIVE);
        if (!::SetVolumeLabelW(windows::wide(*root).c_str(), windows::wide(label).c_str()))
            return lastError();
        return {};
    }

    std::string volumeRoot(char letter) override { return rootOf(letter).value_or(std::string()); }

    Result<FreeSpace> freeSpace(const std::string& path) override {
        // GetDiskFreeSpaceExW wants a folder; a file (or one still to be created) counts for its own.
        std::string folder = path;
        const DWORD attributes = ::GetFileAttributesW(windows::wide(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            const size_t slash = path.find_last_of("\\/");
            if (slash != std::string::npos)
                folder = path.substr(0, slash + 1);
            else if (path.size() >= 2 && path[1] == ':')
                folder = path.substr(0, 2);
            else
                folder.clear(); // a bare name lives in the current folder
        }
        // Shares ("\\server\share\") are only accepted with the trailing separator.
        if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
        ULARGE_INTEGER available, total, totalFree;
        const std::wstring wideFolder = windows::wide(folder);
        if (!::GetDiskFreeSpaceExW(folder.empty() ? nullptr : wideFolder.c_str(), &available, &total,
                                   &totalFree))
            return lastError();
        FreeSpace f;
        f.availableToCaller = int64_t(available.QuadPart);
        f.total = int64_t(total.QuadPart);
        f.totalFree = int64_t(totalFree.QuadPart);
        return f;
    }

    std::string objectIdentity(const std::string& name) override {
        if (auto drive = parsePhysicalDriveName(name)) return "drive:" + std::to_string(*drive);
        if (auto letter = parseVolumeName(name)) return std::string("volume:") + *letter;
        if (isDeviceName(name)) {
            std::string upper = name;
            for (char& c : upper)
                if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
            return "device:" + upper;
        }
        // No access asked, so even a file held exclusively by a writer can be identified; the
        // backup flag lets folders open too.
        const HANDLE h = ::CreateFileW(windows::wide(name).c_str(), 0,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return {};
        BY_HANDLE_FILE_INFORMATION info{};
        const bool known = ::GetFileInformationByHandle(h, &info);
        ::CloseHandle(h);
        if (!known) return {};
        return "file:" + std::to_string(info.dwVolumeSerialNumber) + ":" +
               std::to_string((uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
    }

    // Asked with no access at all, which the device queries need and which a writer holding the
    // device exclusively does not refuse.
    std::optional<DriveIdentity> driveIdentity(const std::string& name) override {
        if (!isDeviceName(name)) return std::nullopt;
        const HANDLE h = ::CreateFileW(windows::wide(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return std::nullopt;
        return HandleStream(h, true, false).driveIdentity();
    }

    Result<NameInfo> nameInfo(const std::string& path) override {
        if (isDeviceName(path)) return NameInfo{NameKind::Device, "device:" + path};
        const DWORD attributes = ::GetFileAttributesW(windows::wide(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD code = ::GetLastError();
            if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return NameInfo{};
            return windowsError(code);
        }
        NameInfo info;
        info.kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? NameKind::Link
                    : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? NameKind::Folder
                                                                : NameKind::File;
        const HANDLE h = openEntry(path);
        if (h != INVALID_HANDLE_VALUE) {
            if (info.kind == NameKind::File && ::GetFileType(h) != FILE_TYPE_DISK)
                info.kind = NameKind::Device;
            info.identity = identityOf(h);
            ::CloseHandle(h);
        }
        return info;
    }

    Result<std::unique_ptr<PendingFile>> createPending(const std::string& target) override {
        const std::string folder = folderOf(target);
        const std::string name = target.substr(folder.size());
        if (name.empty() || name == "." || name == "..") return windowsError(ERROR_DIRECTORY);
        for (int attempt = 0; attempt < 16; ++attempt) {
            char tag[32];
            std::snprintf(tag, sizeof tag, ".%08lx%08lx.part", (unsigned long)::GetTickCount(),
                          (unsigned long)(::GetCurrentProcessId() * 2654435761u + DWORD(attempt) * 40503u));
            const std::string temp = folder + "~" + name.substr(0, 180) + tag;
            const HANDLE h =
                ::CreateFileW(windows::wide(temp).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h != INVALID_HANDLE_VALUE)
                return std::unique_ptr<PendingFile>(std::make_unique<WindowsPendingFile>(h, temp, target));
            if (::GetLastError() != ERROR_FILE_EXISTS) return lastError();
        }
        return windowsError(ERROR_FILE_EXISTS);
    }

    Result<std::unique_ptr<RawStream>> holdFile(const std::string& path) override {
        // No sharing: a file another program has open is in use; the reparse flag keeps a link
        // from being followed.
        const HANDLE h =
            ::CreateFileW(windows::wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) return lastError();
        if (::GetFileType(h) != FILE_TYPE_DISK) {
            ::CloseHandle(h);
            return windowsError(ERROR_INVALID_PARAMETER);
        }
        return std::unique_ptr<RawStream>(std::make_unique<HandleStream>(h, false, false));
    }

    int64_t totalPhysicalMemory() override {
        MEMORYSTATUSEX status{};
        status.dwLength = sizeof status;
        return ::GlobalMemoryStatusEx(&status) ? int64_t(status.ullTotalPhys) : 0;
    }

    uint32_t ticks() override { return ::GetTickCount(); }
};

} // namespace

Backend& systemBackend() {
    static WindowsBackend backend;
    return backend;
}

// Windows has no way to move file data between two handles without a buffer of ours.
std::unique_ptr<KernelBuffer> kernelBuffer(RawStream&, RawStream&, int64_t) {
    return nullptr;
}

char decimalSeparator() {
    static const char separator = [] {
        wchar_t text[8] = {};
        const int n = ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, int(std::size(text)));
        // One character, and one that UTF-8 keeps in a byte.
        return n == 2 && text[0] < 0x80 ? char(text[0]) : '.';
    }();
    return separator;
}

} // namespace platform
