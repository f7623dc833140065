#pragma once
// The selection record made from a row of one of the three lists. Rows carry their numbers as
// numbers, so nothing is read back from the texts a list shows.

#include "core/fileinfo.h"
#include "discovery/drives.h"
#include "discovery/partitions.h"
#include "discovery/volumes.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace platform {
class Backend;
}

namespace selections {

// A physical drive: the whole device, "LOGICAL DRIVE n   ( m MiB )".
TFileInfo fromDrive(const drives::DriveRow& row);
// A partition: its bytes on its drive (in the drive's logical sectors), "LOGICAL DRIVE d
// PARTITION i ...". identity: the fingerprint of the drive the table was read from. A row with a
// refusal (its bytes leave the disk) is a UserError with that text, and no selection.
TFileInfo fromPartition(const PartitionRow& row, const std::string& identity);
// A volume: "\\.\<letter>:" from its first byte, readable unless on the network, writable
// unless on the network or a CD/DVD.
TFileInfo fromVolume(const volumes::VolumeRow& row);

// "0" to "99": a drive number, as the command line names a physical drive.
bool isDriveNumber(const std::string& text);

// "0" (a drive), "0p2" (the second row of drive 0's partition list), "C:" (a volume), or a path;
// then offset and size narrow it, counted inside that item: offset 0 is its first byte, and
// without a size the range runs to its end. The record holds absolute values, as the selection
// edits make them. Throws UserError, also for a range that does not lie inside the item.
TFileInfo resolve(platform::Backend& backend, const std::string& spec,
                  std::optional<int64_t> offset = std::nullopt, std::optional<int64_t> size = std::nullopt);
// The same for a command that goes on to say why it failed: nullopt when the selection cannot be
// resolved, with the reason said on `err`.
std::optional<TFileInfo> resolveOrSay(platform::Backend& backend, const std::string& spec,
                                      std::optional<int64_t> offset, std::optional<int64_t> size,
                                      std::ostream& err);

} // namespace selections
