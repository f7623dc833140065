#pragma once
// What /sys/block and the mount table say about this machine's disks.

#include "platform/platform.h"
#include "platform/result.h"

#include <string>
#include <vector>

namespace platform::sysfs {

struct Disk {
    std::string name; // kernel name, for example "sda" or "loop0"
    std::string node; // device node, for example "/dev/sda"
};

// Whole disks in kernel-name order (natural order: loop2 before loop10), without RAM disks,
// compressed swap devices and loop devices that have nothing attached.
std::vector<Disk> listDisks(const std::string& sysBlock = "/sys/block");

// True when the disk holding device major:minor reports a removable medium.
bool isRemovable(unsigned major, unsigned minor);

// The whole disk that holds block device major:minor, and where the device starts on it: itself
// at 0 for a whole disk, its disk at the partition's start for a partition.
struct DiskPosition {
    unsigned major = 0;
    unsigned minor = 0;
    int64_t startByte = 0;
};
DiskPosition wholeDisk(unsigned major, unsigned minor, const std::string& sysDevBlock = "/sys/dev/block");

// The first line of a sysfs attribute (or any text file), empty when it cannot be read.
std::string readAttribute(const std::string& path);

// /sys/dev/block/<major>:<minor>, the folder of block device major:minor.
std::string deviceFolder(unsigned major, unsigned minor);

// The serial number the disk major:minor reports (its own, or a partition's whole disk's), from
// the first of device/serial, serial, wwid and device/wwid that has one; empty when none does.
std::string diskSerial(unsigned major, unsigned minor);

// The whole disk that holds block device major:minor, as sysfs and the udev database (where
// udevd keeps one) describe it. A loop device's bus is "loop", with no model or serial.
DriveIdentity driveIdentity(unsigned major, unsigned minor);

// The block device behind "\\.\<letter>:".
Result<std::string> volumeNode(const std::string& name);

} // namespace platform::sysfs
