#pragma once
// Temporary folders, image files and loop devices for tests.

#include "platform/utf8_path.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fixtures {

// A folder removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const {
        return platform::utf8Name(path_ / platform::pathFromUtf8(name));
    }

private:
    std::filesystem::path path_;
};

// Writes a file of `size` bytes whose byte i is pattern(i) (a repeatable, position-dependent value).
void writePatternFile(const std::string& path, int64_t size, uint8_t seed = 0);
uint8_t patternByte(int64_t position, uint8_t seed = 0);
std::vector<uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
// The names in a folder, sorted: what a test expects to find there and nothing else.
std::vector<std::string> namesIn(const std::filesystem::path& folder);

// Writes a master boot record into sector 0 of an image: up to four primary slots (type, first
// sector, sector count), the signature, and zeros elsewhere in the sector.
struct Slot {
    uint8_t type;
    uint32_t first;
    uint32_t count;
    bool boot = false;
};
void writeMbr(const std::string& image, const std::vector<Slot>& slots);

// Runs a shell command; returns its exit status and fills `output` with its standard output.
int shell(const std::string& command, std::string* output = nullptr);

// Root on Linux, who may attach loop devices and mount; never on Windows, which has neither.
bool isRoot();
// The system's own text for a name in a folder that does not exist, as an open reports it.
std::string noSuchPathText();

// A loop device attached to an image file, detached when the object goes. Tests that need one
// call available() and skip with reason() when there is none (not root, no loop support).
class LoopDevice {
public:
    explicit LoopDevice(const std::string& image);
    // Attached from byte `offset` of the image on; with `node`, exactly there (it must be free:
    // for attaching another image where one was just detached).
    LoopDevice(const std::string& image, int64_t offset, const std::string& node = {});
    ~LoopDevice();
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    bool available() const { return !node_.empty(); }
    const std::string& node() const { return node_; }
    const std::string& reason() const { return reason_; }
    // Detaches now; the destructor then leaves the node alone (someone else may have it by then).
    void detach();

private:
    std::string node_;
    std::string reason_;
};

// The partition nodes of a loop device (partx -a), removed again when the object goes: detaching
// the loop device leaves them behind otherwise.
class PartitionNodes {
public:
    explicit PartitionNodes(const std::string& disk);
    ~PartitionNodes();
    PartitionNodes(const PartitionNodes&) = delete;
    PartitionNodes& operator=(const PartitionNodes&) = delete;
    bool available() const { return added_; }
    // The node of partition n, for example /dev/loop3p1.
    std::string node(int n) const { return disk_ + "p" + std::to_string(n); }

private:
    std::string disk_;
    bool added_ = false;
};

// A file system mounted on a folder (created when missing) and unmounted when the object goes.
class Mount {
public:
    // `options`: the file system's own, such as "size=64k" for tmpfs.
    Mount(const std::string& device, const std::string& folder, const std::string& type = "ext4",
          unsigned long flags = 0, const std::string& options = {});
    ~Mount() { unmount(); }
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
    bool mounted() const { return mounted_; }
    int error() const { return error_; } // errno of a failed mount
    void unmount();

private:
    std::string folder_;
    bool mounted_ = false;
    int error_ = 0;
};

} // namespace fixtures
