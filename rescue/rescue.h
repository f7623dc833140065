#pragma once
// Rescue imaging: a failing drive's selection copied into an image in phases, so that the
// readable bytes are saved before time is spent on the bad ones. A first pass in large blocks
// skips ahead on a read error (the jump grows while errors repeat), a second pass reads what the
// skips left (backwards with the reverse option). Each failed block is then trimmed: read sector
// by sector inwards from both its edges up to the first unreadable sector, so that the good
// bytes around a bad spot are saved for one or two failed reads. What lies between is scraped
// sector by sector last, and the sectors still unreadable are retried a bounded number of times.
// What could not be read is filled (zeros, or a marker pattern) and named in the map. Plain C++,
// no Qt.

#include "core/fileinfo.h"
#include "core/job.h"
#include "core/report.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class Backend;
}

namespace rescue {

// What the map says of each range of the selection. The characters are the map file's.
enum class State : char {
    NotTried = '?', // not read yet
    Failed = '*',   // a read of a block covering it failed in the copy passes: to be trimmed
    NotSplit = '/', // between the unreadable edges of a trimmed block: to be scraped
    Bad = '-',      // unreadable as single sectors after every try
    Finished = '+', // read and written into the image
};

// Which phase a run is in; the map file records it.
enum class Phase : char {
    Copying = '?',  // the first pass (pass 1) and the pass over what its skips left (pass 2)
    Trimming = '*', // failed blocks read sector by sector from their edges inwards
    Scraping = '/', // what trimming left between bad sectors, sector by sector
    Retrying = '-', // bad sectors read again (pass 1 to Options::retries)
    Done = '+',
};

// One range of the selection with its state; positions count from the selection's first byte
// (the image's byte 0).
struct Area {
    int64_t offset = 0;
    int64_t size = 0;
    State state = State::NotTried;
    int64_t end() const { return offset + size; }
    bool operator==(const Area&) const = default;
};

// The map of a whole selection: ordered, adjacent, no gaps, neighbours of one state merged.
class Map {
public:
    explicit Map(int64_t size = 0); // all NotTried
    int64_t size() const { return size_; }
    const std::vector<Area>& areas() const { return areas_; }
    // Marks [offset, offset + size) as `state`, merging with neighbours of the same state. The
    // part outside the map is ignored.
    void mark(int64_t offset, int64_t size, State state);
    int64_t bytesIn(State state) const;
    // The number of separate areas in `state`.
    int64_t countOf(State state) const;
    // The first area in `state` that ends after `from`, cut to start there; nothing when none.
    std::optional<Area> next(int64_t from, State state) const;
    // The last area in `state` that starts before `before`, cut to end there; nothing when none.
    std::optional<Area> previous(int64_t before, State state) const;
    // The state of byte `at`; nothing outside the map.
    std::optional<State> stateAt(int64_t at) const;
    Phase phase = Phase::Copying;
    int64_t position = 0; // where the run stood when the map was written: its next read starts there
    int pass = 1;
    // What the map was made from, so that it is not continued from another source or place: the
    // source's name, the selection's first byte on it, and the drive's serial where it has one.
    // Kept in the map file's comments, which other programs pass over; empty/-1 when not known.
    std::string sourceName;
    int64_t sourceOffset = -1;
    std::string sourceSerial;
    bool operator==(const Map&) const = default;

private:
    int64_t size_ = 0;
    std::vector<Area> areas_;
};

// The map file's text: comment lines, then "position phase pass", then one line per area:
// "0x<offset>  0x<size>  <state>" in hexadecimal, upper case, at least 8 digits.
std::string formatMap(const Map& map);
// A map file's text read back, for a selection of `size` bytes. Numbers are hexadecimal with 0x
// (either case) or decimal; '#' starts a comment; adjacent areas of one state are merged. Nothing
// (and why, with the line, in `error`) when it is not a map, or its areas leave a gap, overlap or
// do not cover exactly that size.
std::optional<Map> parseMap(const std::string& text, int64_t size, std::string* error = nullptr);

inline constexpr size_t kMaxFill = 512; // bytes in a fill pattern
inline constexpr int kMaxRetries = 255;
inline constexpr int64_t kMaxSectorSize = int64_t(1) << 20; // bytes a split read takes at most

// "00", "DEADBEEF", "0xFF": a fill pattern's bytes from hexadecimal digits (either case, an
// even number of them, at most kMaxFill bytes); nothing when the text is not that.
std::optional<std::vector<uint8_t>> parseFill(const std::string& hex);

struct Options {
    bool reverse = false; // the pass over what the first pass skipped reads backwards
    bool split = true;    // trim and scrape failed blocks down to sectors (off: --no-split)
    bool scrape = true;   // scrape what trimming left (off: --no-scrape, for a later run)
    // Bytes per read when trimming, scraping and retrying: a multiple of the device's sector. 0:
    // the device's physical sector, where a read error strikes as a whole.
    int64_t sectorSize = 0;
    int retries = 0; // passes over the bad sectors after splitting
    // The bytes unreadable sectors are filled with, repeated: the image's byte p gets
    // fill[p % fill.size()]. Empty: zeros.
    std::vector<uint8_t> fill;
    bool direct = true; // block devices read past the system's cache
    // Bytes per read in the copy passes (0: 1 MiB); rounded up to a multiple of the sector.
    int64_t block = 0;
    int64_t mapIntervalMs = 5000; // the map is written at least this often while a run goes on
};

// Where a run stands, for the progress line and the window's live map. Progress::bytes is the
// bytes rescued, Progress::status a line of text with the rest.
struct Status : Progress {
    Phase phase = Phase::Copying;
    int pass = 1;
    int64_t position = 0;     // where the run reads, from the selection's first byte
    int64_t rescued = 0;      // bytes Finished
    int64_t bad = 0;          // bytes Bad
    int64_t failed = 0;       // bytes Failed, still to be split
    int64_t notTried = 0;     // bytes not read yet
    int64_t badAreas = 0;     // areas Bad
    int64_t readErrors = 0;   // reads of this run that failed
    int64_t sinceGoodMs = 0;  // time since the last successful read
    const Map* map = nullptr; // the map as it stands (valid during the call)
};

// Completed: every byte was rescued. Incomplete: bad, failed or untried bytes remain (`stopped`:
// Stop ended the run early). Failed: the source, the image or the map could not be opened,
// written or read; the map written before it stands. NotStarted: refused before anything was
// read (the reason was said).
struct Result : Report {
    Map map;
    // The bad ranges in bytes, counted from the selection's first byte.
    std::vector<Area> badRanges;
    int64_t reads = 0;      // reads made by this run
    int64_t readErrors = 0; // of them, the ones that failed
    bool stopped = false;
};

// How a run ended, in one line: "Rescued all N bytes." or "Rescued R of N bytes; B bytes bad in
// K areas" with what remains failed or untried. The command line and the window both show it.
std::string summary(const Result& result, int64_t size);

// Rescues `selection` into the image file `image` with the map file `mapFile`. An existing map
// for the same size, made from the same source and first byte, is continued: nothing it names
// Finished is read again, and the image is written in place, never truncated (extended to the
// selection's size when shorter). Without a map, a new image the selection's size is made; an
// image that stands at the name without its map is replaced only with `replace` or after a
// question (id cli::kReplaceQuestionId, default No). A map without its image, a symbolic link at
// either name, or a map for another size, first byte or drive is refused. The map is written
// atomically (a new file, flushed, then renamed) after the image is flushed, at intervals and at
// the end. Stop ends the run at its next read, with the map written. Failures and refusals are
// said through `dialogs`; the summary is the front end's, from the Result.
Result rescueToFile(platform::Backend& backend, Dialogs& dialogs, JobControl& job, const TFileInfo& selection,
                    const std::string& image, const std::string& mapFile, bool replace,
                    const Options& options = {});

// The same onto the selection `target` of the same size, behind the overwrite gate (asked on every
// run, a continued one too), and never onto a range of the source's own disk that overlaps the
// source. The target's byte p holds the selection's byte p.
Result rescueToSelection(platform::Backend& backend, Dialogs& dialogs, JobControl& job,
                         const TFileInfo& selection, const TFileInfo& target, const std::string& mapFile,
                         const Options& options = {});

} // namespace rescue
