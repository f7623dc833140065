#pragma once
// Drive letters for Linux mounts, the way a compatibility layer hands them out:
//   C: is "/", then D:, E:, ... for the other mounts, ordered by mount point, up to Z:.
// A mount gets a letter when it is backed by a block device, a network share or RAM:
//   - block: the source is a node under /dev (ext4, xfs, btrfs, vfat, fuseblk ...), except
//     squashfs, which holds read-only package images (dozens of them on some systems);
//     a device mounted twice (bind mounts, btrfs subvolumes) keeps only its first letter;
//   - network: nfs, nfs4, cifs, smb3, smbfs, ncpfs, afs, ceph, 9p, glusterfs, davfs and the
//     FUSE clients of network stores (sshfs, rclone, s3fs, davfs2);
//   - RAM: tmpfs and ramfs.
// Everything under /proc, /sys and /dev is system plumbing and gets no letter, nor anything under
// /run except /run/media (where desktops mount removable media). Pseudo file systems (proc, sysfs,
// cgroup, devtmpfs, devpts, debugfs, overlay, ...) have no device, share or RAM behind them and
// get none either; "/" is C: whatever it is (an overlay in a container). A mount point mounted
// over again counts once, as its topmost mount.

#include "platform/platform.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform::linuxvolumes {

// One line of the mount table.
struct MountEntry {
    std::string source;     // "/dev/sda1", "server:/export", "tmpfs"
    std::string mountPoint; // octal escapes (\040 for a blank) decoded
    std::string fsType;     // "ext4"
    std::string options;    // "rw,relatime"
    bool operator==(const MountEntry&) const = default;
};

// The absolute path of a program found by name on PATH (absolute entries only) or in the sbin and
// bin folders; empty when there is none.
std::string findProgram(const std::string& name);

// Parses /proc/self/mounts text; malformed lines are skipped.
std::vector<MountEntry> parseMounts(const std::string& text);

enum class MountKind { None, Block, Network, Ram };
MountKind classify(const MountEntry& mount);

struct Volume {
    char letter = 0;
    MountEntry mount;
    int driveType = DriveUnknown;
};

// What the drive type needs to know about a block device; the real answer asks sysfs.
struct DeviceFacts {
    bool removable = false;
    bool optical = false; // sr* (the kernel's name for optical drives)
};
using DeviceProbe = std::function<DeviceFacts(const std::string& source)>;

// The lettered volumes of a mount table, in letter order.
std::vector<Volume> assignLetters(const std::vector<MountEntry>& mounts, const DeviceProbe& probe);

// The volumes of this machine now, from the mount table file (tests pass their own).
std::vector<Volume> currentVolumes(const std::string& mountsFile = "/proc/self/mounts");
std::optional<Volume> findVolume(char letter, const std::string& mountsFile = "/proc/self/mounts");

// Label, UUID and type of the file system in a device, an image file or a byte range of one
// (size 0: to the end). Needs read access to it; ok is false when nothing was recognised.
struct ProbeResult {
    bool ok = false;
    std::string type; // "ext4", "vfat"
    std::string label;
    std::string uuid;
};
ProbeResult probeFileSystem(const std::string& path, int64_t offset = 0, int64_t size = 0);

// The serial number the volume list shows: the first 4 bytes of the UUID, or for FAT, exFAT and
// NTFS the volume id those file systems keep (the UUID's last 8 hex digits for NTFS).
uint32_t serialFromUuid(const std::string& uuid, const std::string& fsType);

// The labelling tool's argument vector for a file system type, or empty when there is none.
// Labels are passed as one argument each; tools that parse options get "--" before them.
std::vector<std::string> labelCommand(const std::string& fsType, const std::string& device,
                                      const std::string& label);

// Runs a program without a shell and waits for it; fails unless it exits with status 0. The
// program is looked up before the fork in PATH and the usual sbin folders.
Result<void> runProgram(const std::vector<std::string>& argv);

// The volume queries of the Linux backend.
int driveType(char letter);
Result<VolumeInfo> volumeInformation(char letter);
Result<void> setVolumeLabel(char letter, const std::string& label);
std::string volumeRoot(char letter);
// The block device node behind a letter.
Result<std::string> volumeDevice(char letter);
// Free space of the volume holding a path; "C:\" and "C:" stand for C:'s mount point.
Result<FreeSpace> freeSpace(const std::string& path);

} // namespace platform::linuxvolumes
