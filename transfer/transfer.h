#pragma once
// Raw transfers: a selection dumped into an image file, an image file written back onto a
// selection, and one selection copied onto another. Each runs as one call that talks to the user
// through ActionUi and reports how it ended.

#include "app/actionui.h"
#include "app/fileinfo.h"

#include <cstdint>
#include <string>

namespace platform {
class Backend;
}

namespace transfer {

enum class Outcome {
    NotStarted, // nothing selected, a check failed, or the user declined before anything was opened
    Failed,     // something could not be opened, positioned, read, written or flushed
    Incomplete, // stopped, or the data ended before the selection did
    Completed,  // every byte of the selection arrived
};

struct Result {
    Outcome outcome = Outcome::NotStarted;
    int64_t bytes = 0; // bytes that arrived at the destination
};

// The filter of the raw image file dialogs.
inline constexpr const char* kRawFilter = "raw data|*.raw|cd/dvd image|*.iso|binary data|*.bin|any file|*.*";

// Question ids, so the command line can answer them from flags.
inline constexpr const char* kTruncateId = "truncate";
inline constexpr const char* kSizeMismatchId = "ignore-size";
inline constexpr const char* kRestoreSureId = "restore-sure";
inline constexpr const char* kRestoreStopNowId = "restore-stop-now";

// bytes x 100 / size, rounded half to even, for a progress bar from 0 to 100.
int percentOf(int64_t bytes, int64_t size);
// "%.2f%% done" with the given decimal separator.
std::string percentDoneText(int64_t bytes, int64_t size, char decimalSeparator);

// Copies the selection's bytes into a new raw image file chosen through the save dialog.
Result dumpToFile(platform::Backend& backend, ActionUi& ui, TFileInfo selection);

// Writes a raw image file chosen through the open dialog onto the selection, behind the warning,
// the overwrite gate and the questions. Never writes outside the selection's range.
Result restoreFromFile(platform::Backend& backend, ActionUi& ui, TFileInfo selection);

// The block size of a copy within one device: physical memory in MiB, at most 256, divided by 8,
// as MiB; 1 MiB when that comes to nothing.
int32_t sameDeviceBlockSize(int64_t physicalMemory);
inline constexpr int32_t kTwoDeviceBlockSize = 2 * 1024 * 1024;
inline constexpr int32_t kCopyPieceSize = 64 * 1024;

// Copies source's range onto target's range of the same size, behind the overwrite gate.
Result directCopy(platform::Backend& backend, ActionUi& ui, TFileInfo source, TFileInfo target);

} // namespace transfer
