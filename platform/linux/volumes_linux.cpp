#include "platform/linux/volumes_linux.h"

#include "platform/linux/sysfs.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace platform::linuxvolumes {
namespace fs = std::filesystem;

namespace {

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.rfind(prefix, 0) == 0;
}

// True when path is folder itself or lies below it.
bool under(const std::string& path, const std::string& folder) {
    return path == folder || startsWith(path, folder + "/");
}

std::string upper(std::string s) {
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The mount table writes blanks, tabs, newlines and backslashes as \ooo.
std::string decodeOctal(const std::string& s) {
    const auto octal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && octal(s[i + 1]) && octal(s[i + 2]) && octal(s[i + 3])) {
            out += char((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
            continue;
        }
        out += s[i];
    }
    return out;
}

// udev writes unsafe bytes of labels in link names as \xHH.
std::string decodeHexEscapes(const std::string& s) {
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && hex(s[i + 2]) && hex(s[i + 3])) {
            out += char(std::stoi(s.substr(i + 2, 2), nullptr, 16));
            i += 3;
            continue;
        }
        out += s[i];
    }
    return out;
}

const std::set<std::string>& networkTypes() {
    static const std::set<std::string> types{"nfs",         "nfs4",      "cifs",        "smb3",
                                             "smbfs",       "ncpfs",     "afs",         "ceph",
                                             "9p",          "glusterfs", "davfs",       "fuse.sshfs",
                                             "fuse.rclone", "fuse.s3fs", "fuse.davfs2", "fuse.glusterfs"};
    return types;
}

// System plumbing: never given a letter, whatever is mounted there.
bool systemLocation(const std::string& mountPoint) {
    if (under(mountPoint, "/proc") || under(mountPoint, "/sys") || under(mountPoint, "/dev")) return true;
    return under(mountPoint, "/run") && !startsWith(mountPoint, "/run/media/");
}

DeviceFacts sysfsFacts(const std::string& source) {
    DeviceFacts facts;
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return facts;
    facts.removable = sysfs::isRemovable(major(st.st_rdev), minor(st.st_rdev));
    std::error_code ec;
    const fs::path real = fs::canonical(source, ec);
    facts.optical = !ec && startsWith(real.filename().string(), "sr");
    return facts;
}

int typeOf(MountKind kind, const MountEntry& mount, const DeviceProbe& probe) {
    switch (kind) {
    case MountKind::Network:
        return DriveRemote;
    case MountKind::Ram:
        return DriveRamDisk;
    case MountKind::None:
        return DriveFixed; // only "/" without a device, as in a container
    case MountKind::Block:
        break;
    }
    const DeviceFacts facts = probe ? probe(mount.source) : DeviceFacts{};
    if (facts.optical || mount.fsType == "iso9660" || mount.fsType == "udf") return DriveCdRom;
    return facts.removable ? DriveRemovable : DriveFixed;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The block device node of a mounted volume: its source when that is a block device, else the
// device the kernel reports for the mount point (covers "/dev/root", which often has no node).
std::optional<std::string> deviceNode(const Volume& v) {
    struct stat st {};
    if (::stat(v.mount.source.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) return v.mount.source;
    if (::stat(v.mount.mountPoint.c_str(), &st) != 0) return std::nullopt;
    const std::string sys =
        "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    std::istringstream uevent(readFile(sys + "/uevent"));
    for (std::string line; std::getline(uevent, line);) {
        if (!startsWith(line, "DEVNAME=")) continue;
        const std::string node = "/dev/" + line.substr(8);
        struct stat dev {};
        if (::stat(node.c_str(), &dev) == 0 && S_ISBLK(dev.st_mode)) return node;
    }
    return std::nullopt;
}

// The name of the link in a /dev/disk folder that leads to a node, when libblkid cannot read the
// device itself (an ordinary user has no read access to disks).
std::string linkName(const std::string& folder, const std::string& node) {
    std::error_code ec;
    const fs::path target = fs::canonical(node, ec);
    if (ec) return {};
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        std::error_code e2;
        if (fs::canonical(entry.path(), e2) == target && !e2)
            return decodeHexEscapes(entry.path().filename().string());
    }
    return {};
}

bool isNtfs(const std::string& fsType) {
    return fsType == "ntfs" || fsType == "ntfs3";
}

// Resolves a program name before forking, so the child only calls exec.
} // namespace

std::string findProgram(const std::string& name) {
    // Only absolute folders: an empty or relative PATH entry would run a program planted in
    // the current folder, as root when the program runs as root.
    if (name.find('/') != std::string::npos)
        return name[0] == '/' && ::access(name.c_str(), X_OK) == 0 ? name : std::string();
    std::vector<std::string> folders;
    if (const char* path = std::getenv("PATH")) {
        std::istringstream in(path);
        for (std::string dir; std::getline(in, dir, ':');)
            if (!dir.empty() && dir[0] == '/') folders.push_back(dir);
    }
    // Labelling tools live in sbin, which an ordinary user's PATH often lacks.
    for (const char* dir : {"/usr/local/sbin", "/usr/sbin", "/sbin", "/usr/bin", "/bin"})
        folders.emplace_back(dir);
    for (const auto& dir : folders) {
        const std::string candidate = dir + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

std::vector<MountEntry> parseMounts(const std::string& text) {
    std::vector<MountEntry> mounts;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        MountEntry m;
        if (!(fields >> m.source >> m.mountPoint >> m.fsType >> m.options)) continue;
        m.source = decodeOctal(m.source);
        m.mountPoint = decodeOctal(m.mountPoint);
        if (m.mountPoint.empty() || m.mountPoint[0] != '/') continue;
        mounts.push_back(std::move(m));
    }
    return mounts;
}

MountKind classify(const MountEntry& mount) {
    if (mount.fsType == "tmpfs" || mount.fsType == "ramfs") return MountKind::Ram;
    if (networkTypes().count(mount.fsType)) return MountKind::Network;
    if (startsWith(mount.source, "/dev/") && mount.fsType != "squashfs" && mount.fsType != "devtmpfs" &&
        mount.fsType != "devpts")
        return MountKind::Block;
    return MountKind::None;
}

std::vector<Volume> assignLetters(const std::vector<MountEntry>& mounts, const DeviceProbe& probe) {
    // A mount point mounted over again shows only its topmost (last) mount.
    std::map<std::string, MountEntry> byPoint;
    for (const auto& m : mounts)
        byPoint[m.mountPoint] = m;

    std::vector<Volume> volumes;
    std::set<std::string> devices; // block sources that already have a letter
    if (auto root = byPoint.find("/"); root != byPoint.end()) {
        const MountKind kind = classify(root->second);
        volumes.push_back({'C', root->second, typeOf(kind, root->second, probe)});
        if (kind == MountKind::Block) devices.insert(root->second.source);
    }
    char next = 'D';
    for (const auto& [point, m] : byPoint) { // std::map: ordered by mount point
        if (next > 'Z') break;
        if (point == "/" || systemLocation(point)) continue;
        const MountKind kind = classify(m);
        if (kind == MountKind::None) continue;
        if (kind == MountKind::Block && !devices.insert(m.source).second) continue;
        volumes.push_back({next++, m, typeOf(kind, m, probe)});
    }
    return volumes;
}

std::vector<Volume> currentVolumes(const std::string& mountsFile) {
    return assignLetters(parseMounts(readFile(mountsFile)), sysfsFacts);
}

std::optional<Volume> findVolume(char letter, const std::string& mountsFile) {
    letter = char(std::toupper(static_cast<unsigned char>(letter)));
    for (auto& v : currentVolumes(mountsFile))
        if (v.letter == letter) return v;
    return std::nullopt;
}

ProbeResult probeFileSystem(const std::string& path, int64_t offset, int64_t size) {
    ProbeResult result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return result;
    blkid_probe pr = blkid_new_probe();
    if (pr && blkid_probe_set_device(pr, fd, offset, size) == 0) {
        blkid_probe_enable_superblocks(pr, 1);
        blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
        if (blkid_do_safeprobe(pr) == 0) {
            const auto value = [pr](const char* name) {
                const char* data = nullptr;
                size_t len = 0;
                if (blkid_probe_lookup_value(pr, name, &data, &len) != 0 || !data) return std::string();
                return std::string(data, ::strnlen(data, len)); // len counts the terminating zero
            };
            result.ok = true;
            result.type = value("TYPE");
            result.label = value("LABEL");
            result.uuid = value("UUID");
        }
    }
    if (pr) blkid_free_probe(pr);
    ::close(fd);
    return result;
}

uint32_t serialFromUuid(const std::string& uuid, const std::string& fsType) {
    std::string hex;
    for (char c : uuid)
        if (std::isxdigit(static_cast<unsigned char>(c))) hex += c;
    if (hex.empty()) return 0;
    // NTFS keeps a 64-bit serial and shows its low half; the others lead with the part shown.
    if (isNtfs(fsType) && hex.size() > 8)
        hex = hex.substr(hex.size() - 8);
    else
        hex = hex.substr(0, 8);
    return uint32_t(std::stoul(hex, nullptr, 16));
}

std::vector<std::string> labelCommand(const std::string& fsType, const std::string& device,
                                      const std::string& label) {
    // e2label takes its two arguments as they stand (a label may start with "-"); the others
    // parse options, so "--" ends them.
    if (fsType == "ext2" || fsType == "ext3" || fsType == "ext4") return {"e2label", device, label};
    if (fsType == "vfat" || fsType == "msdos" || fsType == "fat") {
        if (label.empty()) return {"fatlabel", "--reset", "--", device};
        return {"fatlabel", "--", device, label};
    }
    if (fsType == "exfat") return {"exfatlabel", "--", device, label};
    if (isNtfs(fsType)) return {"ntfslabel", "--", device, label};
    return {};
}

Result<void> runProgram(const std::vector<std::string>& argv) {
    if (argv.empty()) return errnoError(EINVAL);
    const std::string program = findProgram(argv[0]);
    if (program.empty()) return errnoError(ENOENT);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    int errPipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0) return errnoError(errno);
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int e = errno;
        ::close(errPipe[0]);
        ::close(errPipe[1]);
        if (devNull >= 0) ::close(devNull);
        return errnoError(e);
    }
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        if (devNull >= 0) {
            ::dup2(devNull, 0);
            ::dup2(devNull, 1);
        }
        ::dup2(errPipe[1], 2);
        ::execv(program.c_str(), args.data());
        ::_exit(127);
    }
    ::close(errPipe[1]);
    if (devNull >= 0) ::close(devNull);
    std::string errors;
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(errPipe[0], buf, sizeof buf);
        if (n > 0) {
            if (errors.size() < 4096) errors.append(buf, size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    ::close(errPipe[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return errnoError(errno);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
    std::string text = errors.substr(0, errors.find('\n'));
    if (text.empty())
        text = argv[0] + (WIFEXITED(status) ? " exited with status " + std::to_string(WEXITSTATUS(status))
                                            : std::string(" was ended by a signal"));
    return Error{EIO, text};
}

int driveType(char letter) {
    const auto v = findVolume(letter);
    return v ? v->driveType : DriveNoRoot;
}

Result<VolumeInfo> volumeInformation(char letter) {
    const auto v = findVolume(letter);
    if (!v) return errnoError(ENOENT);
    struct statvfs st {};
    if (::statvfs(v->mount.mountPoint.c_str(), &st) != 0) return errnoError(errno);

    VolumeInfo info;
    info.maxComponentLength = uint32_t(st.f_namemax);
    std::string type = v->mount.fsType;
    if (classify(v->mount) == MountKind::Block) {
        if (const auto node = deviceNode(*v)) {
            const ProbeResult probe = probeFileSystem(*node);
            if (probe.ok) {
                info.label = probe.label;
                // A FUSE mount names only the driver; the device knows its file system.
                if ((type == "fuseblk" || startsWith(type, "fuse")) && !probe.type.empty()) type = probe.type;
                info.serial = serialFromUuid(probe.uuid, probe.type.empty() ? type : probe.type);
            } else {
                info.label = linkName("/dev/disk/by-label", *node);
                info.serial = serialFromUuid(linkName("/dev/disk/by-uuid", *node), type);
            }
        }
    }
    info.fileSystem = upper(type);
    // Windows FILE_* flags: case-sensitive search and case-preserved names, a read-only volume.
    const bool foldsCase = type == "vfat" || type == "msdos" || type == "exfat" || isNtfs(type);
    info.fileSystemFlags = foldsCase ? 0x2u : 0x3u;
    if (st.f_flag & ST_RDONLY) info.fileSystemFlags |= 0x80000u;
    return info;
}

Result<void> setVolumeLabel(char letter, const std::string& label) {
    const auto v = findVolume(letter);
    if (!v) return errnoError(ENOENT);
    if (classify(v->mount) != MountKind::Block) return errnoError(ENOTSUP);
    const auto node = deviceNode(*v);
    if (!node) return errnoError(ENODEV);
    std::string type = v->mount.fsType;
    if (startsWith(type, "fuse")) type = probeFileSystem(*node).type;
    const auto command = labelCommand(type, *node, label);
    if (command.empty()) return errnoError(ENOTSUP);
    return runProgram(command);
}

std::string volumeRoot(char letter) {
    const auto v = findVolume(letter);
    return v ? v->mount.mountPoint : std::string();
}

Result<std::string> volumeDevice(char letter) {
    const auto v = findVolume(letter);
    if (!v) return errnoError(ENOENT);
    if (classify(v->mount) != MountKind::Block) return errnoError(ENODEV);
    const auto node = deviceNode(*v);
    if (!node) return errnoError(ENODEV);
    return *node;
}

Result<FreeSpace> freeSpace(const std::string& path) {
    std::string target = path;
    const bool root = (path.size() == 2 || (path.size() == 3 && path[2] == '\\')) &&
                      std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
    if (root) {
        target = volumeRoot(path[0]);
        if (target.empty()) return errnoError(ENOENT);
    }
    struct statvfs st {};
    if (::statvfs(target.c_str(), &st) != 0) return errnoError(errno);
    FreeSpace f;
    f.availableToCaller = int64_t(st.f_bavail) * int64_t(st.f_frsize);
    f.total = int64_t(st.f_blocks) * int64_t(st.f_frsize);
    f.totalFree = int64_t(st.f_bfree) * int64_t(st.f_frsize);
    return f;
}

} // namespace platform::linuxvolumes
