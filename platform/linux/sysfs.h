#pragma once
// What /sys/block and the mount table say about this machine's disks.

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

// The block device behind "\\.\<letter>:".
Result<std::string> volumeNode(const std::string& name);

} // namespace platform::sysfs
