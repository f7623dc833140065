// A FUSE file system with one read-only file, "disk", whose reads fail with EIO wherever they
// touch a chosen byte range: a failing drive for tests, once a loop device is attached over it.
//   faulty_fuse MOUNTPOINT SIZE [--bad OFFSET:LENGTH]... [--delay-ms N]
// Runs in the foreground until unmounted or sent SIGTERM/SIGINT; then prints to standard error
// how many reads it served and how many of them failed.

#define FUSE_USE_VERSION 31
#include "support/faulty_disk.h"

#include <fuse.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

struct Range {
    int64_t offset, length;
};

int64_t diskSize = 0;
std::vector<Range> bad;
int delayMs = 0;
std::atomic<int64_t> reads{0}, failedReads{0};
constexpr const char* kName = "/disk";

bool touchesBad(int64_t offset, int64_t length) {
    return std::any_of(bad.begin(), bad.end(), [&](const Range& r) {
        return offset < r.offset + r.length && r.offset < offset + length;
    });
}

int getattrOp(const char* path, struct stat* st, fuse_file_info*) {
    std::memset(st, 0, sizeof *st);
    if (std::strcmp(path, "/") == 0) {
        st->st_mode = S_IFDIR | 0555;
        st->st_nlink = 2;
    } else if (std::strcmp(path, kName) == 0) {
        st->st_mode = S_IFREG | 0444;
        st->st_nlink = 1;
        st->st_size = diskSize;
    } else {
        return -ENOENT;
    }
    return 0;
}

int readdirOp(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
    if (std::strcmp(path, "/") != 0) return -ENOENT;
    fill(buf, ".", nullptr, 0, fuse_fill_dir_flags(0));
    fill(buf, "..", nullptr, 0, fuse_fill_dir_flags(0));
    fill(buf, kName + 1, nullptr, 0, fuse_fill_dir_flags(0));
    return 0;
}

int openOp(const char* path, fuse_file_info* fi) {
    if (std::strcmp(path, kName) != 0) return -ENOENT;
    // Root passes permission bits: refusing writes here keeps the disk read-only for everyone.
    if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EACCES;
    fi->keep_cache = 0; // each open drops the cached pages: a new attach reads the faults again
    return 0;
}

int readOp(const char*, char* buf, size_t size, off_t offset, fuse_file_info*) {
    ++reads;
    const int64_t n = std::max<int64_t>(0, std::min<int64_t>(int64_t(size), diskSize - offset));
    if (touchesBad(offset, n)) {
        ++failedReads;
        if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        return -EIO;
    }
    for (int64_t i = 0; i < n; ++i)
        buf[i] = char(faultydisk::patternByte(offset + i));
    return int(n);
}

bool number(const char* text, int64_t* out) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || v < 0) return false;
    *out = v;
    return true;
}

int usage() {
    std::fprintf(stderr, "usage: faulty_fuse MOUNTPOINT SIZE [--bad OFFSET:LENGTH]... [--delay-ms N]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || !number(argv[2], &diskSize)) return usage();
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return usage();
        const std::string value = argv[++i];
        int64_t v = 0;
        if (arg == "--bad") {
            const auto colon = value.find(':');
            Range r{};
            if (colon == std::string::npos || !number(value.substr(0, colon).c_str(), &r.offset) ||
                !number(value.substr(colon + 1).c_str(), &r.length))
                return usage();
            bad.push_back(r);
        } else if (arg == "--delay-ms" && number(value.c_str(), &v)) {
            delayMs = int(v);
        } else {
            return usage();
        }
    }
    fuse_operations ops{};
    ops.getattr = getattrOp;
    ops.readdir = readdirOp;
    ops.open = openOp;
    ops.read = readOp;
    // Foreground, so the caller owns the process and can end it.
    std::vector<char*> args{argv[0], argv[1], const_cast<char*>("-f"), const_cast<char*>("-o"),
                            const_cast<char*>("fsname=faulty_fuse,ro,max_threads=16")};
    const int rc = fuse_main(int(args.size()), args.data(), &ops, nullptr);
    std::fprintf(stderr, "faulty_fuse: %lld reads, %lld failed\n", static_cast<long long>(reads.load()),
                 static_cast<long long>(failedReads.load()));
    return rc;
}
