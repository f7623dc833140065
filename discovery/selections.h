#pragma once
// The selection record made from a row of one of the three lists. Rows carry their numbers as
// numbers, so nothing is read back from the texts a list shows.

#include "app/fileinfo.h"
#include "discovery/drives.h"
#include "discovery/partitions.h"
#include "discovery/volumes.h"

#include <string>

namespace selections {

// A physical drive: the whole device, "LOGICAL DRIVE n   ( m MiB )".
TFileInfo fromDrive(const drives::DriveRow& row);
// A partition: its bytes on its drive (sectors of 512 bytes), "LOGICAL DRIVE d PARTITION i ...".
// identity: the fingerprint of the drive the table was read from.
TFileInfo fromPartition(const PartitionRow& row, const std::string& identity);
// A volume: "\\.\<letter>:" from its first byte, readable unless on the network, writable
// unless on the network or a CD/DVD.
TFileInfo fromVolume(const volumes::VolumeRow& row);

} // namespace selections
