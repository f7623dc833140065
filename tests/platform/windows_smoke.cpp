// A quick check of the Windows backend on a real (or emulated) Windows: streams over a temp file,
// exclusive writers, free space, the small system queries and library loading. A test of the
// Windows build (scripts/build-windows.sh --run); prints "N passed, N failed" last and exits
// non-zero on failure.

#include "platform/library.h"
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

using namespace platform;

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const std::string& what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL: %s\n", what.c_str());
    }
}

template <class T> bool holds(const Result<T>& r, const T& expected) {
    return r.ok() && r.value() == expected;
}

unsigned char patternByte(int64_t i) {
    return static_cast<unsigned char>((i * 7 + (i >> 8)) & 0xFF);
}

bool matches(const std::vector<unsigned char>& bytes, int64_t from, int64_t count) {
    if (int64_t(bytes.size()) < count) return false;
    for (int64_t i = 0; i < count; ++i)
        if (bytes[size_t(i)] != patternByte(from + i)) return false;
    return true;
}

// Reads count bytes at the stream's position and checks them against the pattern at from.
bool readsPattern(RawStream& s, int64_t from, int64_t count) {
    std::vector<unsigned char> buffer(size_t(count) + 16);
    auto r = s.read(buffer.data(), count);
    return holds(r, count) && matches(buffer, from, count);
}

bool cleanText(const Error& e) {
    return !e.text.empty() && e.text.back() != '\n' && e.text.back() != '\r';
}

void streams(Backend& os, const std::string& folder) {
    const std::string path = folder + "tarnwick-smoke-" + std::to_string(::GetCurrentProcessId()) + ".bin";
    constexpr int64_t size = 1024 * 1024 + 123;
    std::vector<unsigned char> data(size);
    for (int64_t i = 0; i < size; ++i)
        data[size_t(i)] = patternByte(i);

    {
        auto created = os.open(path, OpenMode::Create);
        check(created.ok(), "create " + path + (created.ok() ? "" : ": " + created.error().text));
        if (!created) return;
        RawStream& s = **created;

        check(holds(s.write(data.data(), size), size), "write the whole pattern");
        check(holds(s.position(), size), "position after writing");
        check(holds(s.length(), size), "length after writing");

        check(holds(s.seek(1000, SeekOrigin::Begin), int64_t(1000)), "seek from the start");
        check(readsPattern(s, 1000, 100), "read after seeking from the start");
        check(holds(s.seek(-50, SeekOrigin::Current), int64_t(1050)), "seek back from the current position");
        check(readsPattern(s, 1050, 200), "read after seeking from the current position");
        check(holds(s.seek(-10, SeekOrigin::End), size - 10), "seek from the end");
        std::vector<unsigned char> tail(100);
        auto shortRead = s.read(tail.data(), 100);
        check(holds(shortRead, int64_t(10)) && matches(tail, size - 10, 10),
              "short read at the end returns 10");
        check(holds(s.read(tail.data(), 100), int64_t(0)), "read at the end returns 0");
        check(!s.seek(-1, SeekOrigin::Begin).ok(), "seek before the start fails");

        // A second writer, and a replacing create, are refused while this one holds the file.
        auto second = os.open(path, OpenMode::Write);
        check(!second.ok(), "second writer refused");
        if (!second) {
            check(second.error().code == EAGAIN,
                  "refusal is a sharing violation, code " + std::to_string(second.error().code));
            check(cleanText(second.error()), "error text without CR/LF: \"" + second.error().text + "\"");
        }
        check(!os.open(path, OpenMode::Create).ok(), "replacing create refused");
        check(!os.open(path, OpenMode::ReadWrite).ok(), "second reader-writer refused");
        check(holds(s.length(), size), "refused create left the file whole");

        check(holds(s.seek(7000, SeekOrigin::Begin), int64_t(7000)), "seek before truncating");
        check(s.truncate(5000).ok(), "truncate to 5000");
        check(holds(s.length(), int64_t(5000)), "length after truncating");
        check(holds(s.position(), int64_t(7000)), "truncate keeps the position");
        check(s.flush().ok(), "flush a written file");

        // A plain file is no disk: the disk queries fail, as on Linux.
        check(!s.geometry().ok(), "geometry of a plain file fails");
        check(!s.lengthInfo().ok(), "length query of a plain file fails");
        check(!s.driveIdentity() && !os.driveIdentity(path), "a plain file is on no disk of its own");
    }

    {
        auto a = os.open(path, OpenMode::Read);
        auto b = os.open(path, OpenMode::Read);
        check(a.ok() && b.ok(), "two readers at once");
        if (a && b) {
            check(holds((*a)->length(), int64_t(5000)), "reader sees the truncated length");
            check(readsPattern(**a, 0, 5000), "reader sees the data");
            check(holds((*b)->seek(4990, SeekOrigin::Begin), int64_t(4990)) && readsPattern(**b, 4990, 10),
                  "second reader reads independently");
            check((*a)->flush().ok(), "flush of a reader succeeds");
            check(!(*a)->truncate(1).ok(), "truncate through a reader fails");
            check(!os.open(path, OpenMode::Write).ok(), "writer refused while readers hold the file");
        }
    }

    {
        const std::string id = os.objectIdentity(path);
        std::string other = path;
        for (char& c : other)
            if (c == '\\') c = '/';
        check(!id.empty() && id == os.objectIdentity(other), "one file under two spellings has one identity");
        check(id != os.objectIdentity(folder) && os.objectIdentity(path + ".missing").empty(),
              "other names have other identities");
    }

    {
        // What is open, told apart from another file and kept across opens and size changes.
        const std::string otherPath = path + ".other";
        auto a = os.open(path, OpenMode::Read);
        auto b = os.open(path, OpenMode::Read);
        auto c = os.open(otherPath, OpenMode::Create);
        check(a.ok() && b.ok() && c.ok(), "opens for fingerprints");
        if (a && b && c) {
            const std::string fp = (*a)->fingerprint();
            check(!fp.empty() && fp == (*b)->fingerprint(), "one file opened twice has one fingerprint");
            check(fp != (*c)->fingerprint() && !(*c)->fingerprint().empty(), "two files, two fingerprints");
        }
        c = Error{};
        ::DeleteFileA(otherPath.c_str());
    }

    {
        auto replaced = os.open(path, OpenMode::Create);
        check(replaced.ok() && holds((*replaced)->length(), int64_t(0)), "create replaces an existing file");
    }

    auto space = os.freeSpace(folder);
    check(space.ok(), "free space of the temp folder" + (space.ok() ? "" : ": " + space.error().text));
    if (space) {
        check(space->total > 0 && space->totalFree <= space->total &&
                  space->availableToCaller <= space->totalFree,
              "free space numbers are consistent");
        std::printf("free space of %s: %lld of %lld bytes\n", folder.c_str(), (long long)space->totalFree,
                    (long long)space->total);
    }
    auto fileSpace = os.freeSpace(path);
    check(fileSpace.ok() && space.ok() && fileSpace->total == space->total, "free space by a file's path");
    check(os.freeSpace(folder + "not-yet-there.bin").ok(), "free space by a file still to be created");

    check(::DeleteFileA(path.c_str()) != 0, "delete the temp file");

    auto missing = os.open(path, OpenMode::Read);
    check(!missing.ok() && missing.error().code == ENOENT, "opening a missing file fails");
    if (!missing) check(cleanText(missing.error()), "missing-file text: \"" + missing.error().text + "\"");
}

void systemQueries(Backend& os) {
    check(os.physicalDriveNode(3) == "\\\\.\\PHYSICALDRIVE3", "physical drive node");
    check(os.watchDevices()->pollDescriptor() == -1, "device watch has no descriptor");
    check(os.objectIdentity("\\\\.\\physicaldrive2") == os.objectIdentity(os.physicalDriveNode(2)) &&
              os.objectIdentity(os.physicalDriveNode(2)) != os.objectIdentity(os.physicalDriveNode(3)),
          "drive identities");
    check(!os.open(os.physicalDriveNode(0), OpenMode::Create).ok(), "a device is never created");
    check(os.volumeRoot('c') == "C:\\" && os.volumeRoot('?').empty(), "volume roots");
    check(os.totalPhysicalMemory() > 0, "physical memory");
    const uint32_t t0 = os.ticks();
    ::Sleep(30);
    const uint32_t elapsed = os.ticks() - t0;
    check(elapsed >= 10 && elapsed < 5000, "ticks advance, " + std::to_string(elapsed) + " ms");

    const char letter = 'C';
    std::printf("drive type of %c: %d\n", letter, os.driveType(letter));
    if (auto v = os.volumeInformation(letter))
        std::printf("volume %c: label \"%s\", serial %08X, file system %s, names up to %u\n", letter,
                    v->label.c_str(), unsigned(v->serial), v->fileSystem.c_str(),
                    unsigned(v->maxComponentLength));
    else
        std::printf("volume %c: %s\n", letter, v.error().text.c_str());

    // Raw devices depend on the machine (and on rights); shown, not judged.
    if (auto d = os.open(os.physicalDriveNode(0), OpenMode::Read)) {
        auto g = (*d)->geometry();
        auto ex = (*d)->geometryEx();
        auto len = (*d)->lengthInfo();
        std::printf("drive 0: fingerprint %s\n", (*d)->fingerprint().c_str());
        std::printf("drive 0: geometry %s, size %lld, length %lld\n",
                    g ? (std::to_string(g->cylinders) + "/" + std::to_string(g->tracksPerCylinder) + "/" +
                         std::to_string(g->sectorsPerTrack) + "/" + std::to_string(g->bytesPerSector))
                            .c_str()
                      : g.error().text.c_str(),
                    ex ? (long long)ex->diskSize : -1LL, len ? (long long)*len : -1LL);
    } else {
        std::printf("drive 0: %s\n", d.error().text.c_str());
    }
}

void libraries() {
    check(!programFolder().empty() && programFolder() != ".", "program folder: " + programFolder());
    check(loadLibrary({"tarnwick-no-such-library.dll"}) == nullptr, "a missing library is nullptr");
    auto kernel = loadLibrary({"tarnwick-no-such-library.dll", "kernel32.dll"});
    check(kernel != nullptr, "the next candidate loads");
    if (kernel) {
        check(kernel->symbol("GetTickCount") != nullptr, "an export is found");
        check(kernel->symbol("TarnwickNoSuchExport") == nullptr, "a missing export is nullptr");
    }
}

} // namespace

int main() {
    Backend& os = systemBackend();
    char temp[MAX_PATH + 1] = {};
    const DWORD n = ::GetTempPathA(sizeof temp, temp);
    check(n > 0 && n < sizeof temp, "temp folder");
    std::string folder = n > 0 && n < sizeof temp ? std::string(temp, n) : std::string(".\\");
    if (folder.back() != '\\') folder += '\\';

    streams(os, folder);
    systemQueries(os);
    libraries();

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
