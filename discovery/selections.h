#pragma once
// The selection record made from a row of one of the three lists. Rows carry their numbers as
// numbers, so nothing is read back from the texts a list shows.

#include "core/fileinfo.h"
#include "discovery/drives.h"
#include "discovery/partitions.h"
#include "discovery/volumes.h"

#include <string>

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

} // namespace selections
