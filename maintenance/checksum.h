#pragma once
// Checksums: the MD5 digest, the SHA-1 digest, or both in one pass, over a selection's bytes.
// One call runs one calculation: it asks through Dialogs, is driven through JobControl, and
// reports the digest texts. The bytes move through the block engine in the calculation's own
// 8 KiB blocks. Plain C++, no Qt.

#include "core/fileinfo.h"
#include "core/job.h"
#include "core/report.h"
#include "jobs/byte_observer.h"

#include <cstdint>
#include <optional>
#include <string>

namespace platform {
class Backend;
class RawStream;
} // namespace platform

namespace checksum {

// Which digests a window computes; the numbers are the menu entries' own.
enum ChecksumKind : uint8_t { MD5 = 0, SHA1 = 1, Both = 2, /* only Options::extra */ NoDigest = 3 };

inline constexpr int64_t kBlock = 8192;
// Display updates, the event pump and the stop check come only after more than this many
// milliseconds since the last update.
inline constexpr int64_t kUpdateInterval = 250;

inline constexpr const char* kCaption = "Calculate checksum";
inline constexpr const char* kStartText = "<press calculate button to start>";
inline constexpr const char* kMd5Caption = "MD5 sum";
inline constexpr const char* kSha1Caption = "SHA1 sum";
// The caption over the first digest edit; the second (SHA-1, only for Both) reads kSha1Caption.
inline const char* firstCaption(ChecksumKind kind) {
    return kind == SHA1 ? kSha1Caption : kMd5Caption;
}

// A display update: the progress bar, and the two time labels' texts ("Elapsed: ...", "Left: ...").
struct TimeProgress : Progress {
    std::string elapsed;
    std::string left;
};

// NotStarted: the range was refused, nothing shown. Failed: the selection could not be opened or
// the stream did not reach the offset; no digest. Incomplete: a read came back short (the read
// error was said) or the window was closed; the digests are of the bytes read before it.
// Completed: every byte was read. `bytes` counts the bytes fed to the digests.
using Outcome = ::Outcome;

struct Result : Report {
    // The texts for the window's two edits (the second only for Both); empty when not shown.
    std::string first;
    std::string second;
    // The digests computed, upper-case hexadecimal.
    std::optional<std::string> md5;
    std::optional<std::string> sha1;
};

struct Options {
    // Block devices are read past the system's cache (direct I/O); files always use the cache.
    bool direct = true;
    // How durations are shown: the user's long time format (see durationText).
    std::string timeFormat = "HH:mm:ss";
    // Bytes per read of the block engine (0: chosen by measurement, 1 MiB past the cache and
    // 256 KiB through it, small enough to still be in the CPU's cache when digested), and
    // buffers in flight, read ahead on a second thread when more than one.
    int64_t buffer = 0;
    int buffers = 4;
    // More digests over the same bytes (the command line's SHA-256). Not owned.
    jobs::ByteObserver* extra = nullptr;
};

// Reads the selection once and feeds the digests of `kind`. The calculation's own rules: 8 KiB
// blocks; an update after more than 250 ms with the bar, elapsed and remaining time, the pump
// and the stop check; a block that comes back short ends it with "Read error. Only read %d bytes
// of %d bytes expected"; the bar goes to 100 however it ends.
Result calculate(platform::Backend& backend, Dialogs& dialogs, JobControl& job, TFileInfo selection,
                 ChecksumKind kind, const Options& options = {});

// Reads `source` from where it stands to its end (standard input) and feeds the digests of `kind`
// and options.extra. Completed: it ended, and `bytes` is its length. Incomplete: a stop came
// first; what was read is no stream's digest, so none is given. Failed: a read failed, which is
// said as "Failed to read <name>, <reason>"; no digest either.
Result calculateStream(Dialogs& dialogs, JobControl& job, platform::RawStream& source,
                       const std::string& name, ChecksumKind kind, const Options& options = {});

// A duration in milliseconds shown as a time of day (only the part beyond whole days), in a time
// format of the kind the locale gives: H/HH hours 0-23, h/hh hours 1-12, m/mm minutes, s/ss
// seconds, z/zzz milliseconds, AP/ap (or A/a) for AM/PM, text in single quotes as it stands
// ('' is a quote). A time zone (t) has no meaning for a duration and is left out.
std::string durationText(int64_t ms, const std::string& format);

} // namespace checksum
