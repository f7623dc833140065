#include "discovery/selections.h"

#include "core/user_error.h"
#include "platform/platform.h"

#include <cstdint>

namespace selections {

TFileInfo fromDrive(const drives::DriveRow& row) {
    const std::string n = std::to_string(row.index);
    TFileInfo info;
    info.FileName = platform::physicalDriveName(row.index);
    info.Description = "Logical drive " + n;
    info.DefaultName = "DRIVE_" + n;
    info.DefaultExt = ".drv";
    info.Size = row.size;
    info.Offset = 0;
    info.DisplayText = "LOGICAL DRIVE " + n + "   ( " + std::to_string(row.sizeMiB()) + " MiB )";
    info.BaseOffset = info.Offset;
    info.BaseSize = info.Size;
    info.DriveText = n;
    info.CanRead = true;
    info.CanWrite = true;
    info.Identity = row.identity;
    return info;
}

TFileInfo fromPartition(const PartitionRow& row, const std::string& identity) {
    if (!row.refusal.empty()) throw UserError(row.refusal);
    const std::string& i = row.index;
    const std::string& d = row.drive;
    TFileInfo info;
    info.FileName = "\\\\.\\PHYSICALDRIVE" + d;
    info.DefaultName = "DRIVE_" + d + "P" + i;
    info.DefaultExt = ".prt";
    info.Size = row.byteSize;
    info.Offset = row.byteOffset;
    info.Description = "Logical drive " + d + " partition " + i + " offset: " + std::to_string(info.Offset) +
                       " size: " + std::to_string(info.Size);
    info.DisplayText = "LOGICAL DRIVE " + d + " PARTITION " + i + "   ( " +
                       std::to_string(row.byteSize / 1048576) + " MiB )";
    info.BaseOffset = info.Offset;
    info.BaseSize = info.Size;
    info.DriveText = d;
    info.CanRead = true;
    info.CanWrite = true;
    info.Identity = identity;
    return info;
}

TFileInfo fromVolume(const volumes::VolumeRow& row) {
    const std::string station = row.station();
    const std::string type = volumes::driveTypeText(row.driveType);
    const bool dvd = type.find("dvd") != std::string::npos;
    const bool network = type == "Network";
    TFileInfo info;
    info.FileName = std::string("\\\\.\\") + row.letter + ":";
    info.Description = station;
    info.DefaultName = row.label;
    info.DefaultExt = dvd ? ".iso" : ".raw";
    info.Size = row.totalBytes;
    info.Offset = 0;
    info.DisplayText = "Volume: " + station + " " + row.label;
    info.BaseOffset = info.Offset;
    info.BaseSize = info.Size;
    info.DriveText = station;
    info.CanRead = !network;
    info.CanWrite = !network && !dvd;
    info.Identity = row.identity;
    return info;
}

} // namespace selections
