#pragma once
// Loop devices: which file each one presents, and keeping them from being mounted while that
// file is written through its own name.

#include "platform/result.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace platform::loops {

// A file descriptor, closed when the object goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset();

private:
    int fd_ = -1;
};

// What an attached loop device reads and writes: the backing file, and where the loop device's
// byte 0 lies in it.
struct Backing {
    dev_t dev = 0;      // the backing file's st_dev
    ino_t ino = 0;      // and st_ino
    dev_t rdev = 0;     // when the backing file is itself a block device: its number, else 0
    int64_t offset = 0; // bytes
};

// The backing of the whole-disk loop device major:minor. nullopt when it is no loop device, has
// nothing attached, or the system will not tell (the device cannot be opened and the file it
// names in sysfs is gone).
std::optional<Backing> backing(unsigned major, unsigned minor);

// Opens every loop device that presents the regular file `file` describes (directly, or through
// another loop device or a partition on one), O_RDONLY | O_EXCL: that fails with EBUSY while the
// loop device or a partition on it is mounted or held exclusively, and while the descriptors stay
// open nobody can mount it. The first failure is returned and nothing stays held.
Result<std::vector<UniqueFd>> holdLoopsOf(const struct stat& file);

} // namespace platform::loops
