#pragma once
// Raw transfers: a selection dumped into an image file, an image file written back onto a
// selection, and one selection copied onto another. Each runs as one call that asks through
// Dialogs, is driven through JobControl, and reports how it ended. The bytes move through the
// block engine.

#include "core/fileinfo.h"
#include "core/job.h"
#include "core/report.h"
#include "jobs/byte_observer.h"

#include <cstdint>
#include <string>

namespace platform {
class Backend;
class RawStream;
} // namespace platform

namespace transfer {

using Outcome = ::Outcome;
using Report = ::Report;

// The filter of the raw image file dialogs.
inline constexpr const char* kRawFilter = "raw data|*.raw|cd/dvd image|*.iso|binary data|*.bin|any file|*.*";

// Question ids, so the command line can answer them from flags.
inline constexpr const char* kTruncateId = "truncate";
inline constexpr const char* kSizeMismatchId = "ignore-size";
inline constexpr const char* kRestoreSureId = "restore-sure";
inline constexpr const char* kRestoreStopNowId = "restore-stop-now";

// How the bytes travel.
struct Options {
    // Block devices are read and written past the system's cache (direct I/O, whole aligned
    // sectors; the ends of an unaligned range are read and merged). Files always use the cache.
    // On by default: measured on loop devices it moved the same bytes in half the time or less
    // (one copy fewer, and a disk image does not push everything else out of the cache).
    bool direct = true;
    // After a restore or a copy that wrote every byte, the target is read back past the cache and
    // compared with its source; a difference makes the action a failure.
    bool verify = false;
    // Sees the selection's bytes as a dump reads them (the digests computed while imaging); its
    // summary ends the completion message. Not owned.
    jobs::ByteObserver* digests = nullptr;
};

// Copies the selection's bytes into a new raw image file chosen through the save dialog.
Report dumpToFile(platform::Backend& backend, Dialogs& dialogs, JobControl& job, TFileInfo selection,
                  const Options& options = {});

// Writes a raw image file chosen through the open dialog onto the selection, behind the warning,
// the overwrite gate and the questions. Never writes outside the selection's range.
Report restoreFromFile(platform::Backend& backend, Dialogs& dialogs, JobControl& job, TFileInfo selection,
                       const Options& options = {});

// The block size of a copy within one device: physical memory in MiB, at most 256, divided by 8,
// as MiB; 1 MiB when that comes to nothing.
int32_t sameDeviceBlockSize(int64_t physicalMemory);
inline constexpr int32_t kTwoDeviceBlockSize = 2 * 1024 * 1024;
inline constexpr int32_t kCopyPieceSize = 64 * 1024;

// Copies source's range onto target's range of the same size, behind the overwrite gate.
// The selection's bytes, exactly, into a stream that cannot be replaced or truncated (standard
// output): no file dialog, no truncation question. outName names it in messages.
Report dumpToStream(platform::Backend& backend, Dialogs& dialogs, JobControl& job, TFileInfo selection,
                    platform::RawStream& out, const std::string& outName, const Options& options = {});
// An image read from a stream (standard input) onto the selection, after the same warnings and
// the overwrite gate: its length is not known before it ends, so there is no size question; what
// arrives is written up to the selection's end, and less is an incomplete restore. Not verified
// (the stream cannot be read again).
Report restoreFromStream(platform::Backend& backend, Dialogs& dialogs, JobControl& job, TFileInfo selection,
                         platform::RawStream& image, const std::string& imageName,
                         const Options& options = {});

Report directCopy(platform::Backend& backend, Dialogs& dialogs, JobControl& job, TFileInfo source,
                  TFileInfo target, const Options& options = {});

// How the block engine moves the bytes of a dump or a restore: bytes per read and write, and
// buffers in flight (read ahead on a second thread). Chosen by measurement (bench/).
inline constexpr int64_t kTransferBuffer = 1 << 20;
inline constexpr int kTransferBuffers = 4;

} // namespace transfer
