// The rescue run: its passes over the map, the image written in place, the map kept on disk.

#include "rescue/rescue.h"

#include "core/aligned_buffer.h"
#include "core/command.h"
#include "jobs/gate.h"
#include "jobs/output_file.h"
#include "jobs/range_job.h"
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <optional>

namespace rescue {
namespace {

constexpr int64_t kDefaultBlock = 1 << 20;
constexpr int64_t kMaxSkip = int64_t(64) << 20;
constexpr int64_t kProgressMs = 250;
// A map is a few lines per bad area: anything this large is not one.
constexpr int64_t kMaxMapFile = int64_t(64) << 20;

std::string num(int64_t v) {
    return std::to_string(v);
}

// Where the unit of `unit` bytes that holds byte `at` ends (units counted from byte 0).
int64_t unitEnd(int64_t at, int64_t unit) {
    return at - at % unit + unit;
}

struct AlignedFree {
    void operator()(uint8_t* p) const { aligned::Free{}(p); }
};
// Direct I/O reads into page-aligned memory.
std::unique_ptr<uint8_t, AlignedFree> alignedBuffer(int64_t bytes) {
    auto* p = aligned::allocate<uint8_t>(4096, size_t(bytes)).release();
    if (!p) throw std::bad_alloc();
    return std::unique_ptr<uint8_t, AlignedFree>(p);
}

// The device went away, or cannot be positioned: every further read would fail the same way and
// be taken for a bad sector.
bool endsTheRun(const platform::Error& e) {
#ifdef ENOMEDIUM
    if (e.code == ENOMEDIUM) return true;
#endif
    return e.code == ENODEV || e.code == ENXIO || e.code == ESPIPE;
}

std::string phaseName(Phase phase, int pass, bool reverse) {
    switch (phase) {
    case Phase::Copying:
        return pass == 1 ? "copying" : reverse ? "copying the skipped backwards" : "copying the skipped";
    case Phase::Trimming:
        return "trimming";
    case Phase::Scraping:
        return "scraping";
    case Phase::Retrying:
        return "retry " + num(pass);
    case Phase::Done:
        break;
    }
    return "done";
}

// The text of the map file at `path`, read without following a link; nothing, with why, when it
// cannot be read.
std::optional<std::string> readMapFile(platform::Backend& backend, const std::string& path,
                                       std::string& why) {
    auto file = backend.holdFile(path);
    if (!file) {
        why = file.error().text;
        return std::nullopt;
    }
    const auto length = (*file)->length();
    if (!length) {
        why = length.error().text;
        return std::nullopt;
    }
    if (*length > kMaxMapFile) {
        why = "it has " + num(*length) + " bytes, far more than a map has";
        return std::nullopt;
    }
    std::string text(size_t(*length), '\0');
    const auto got = (*file)->readAt(0, text.data(), *length);
    if (!got || *got != *length) {
        why = got ? "it ended early" : got.error().text;
        return std::nullopt;
    }
    return text;
}

// Where the rescued bytes go: the selection's byte p to the stream's byte base + p.
struct Sink {
    platform::RawStream& stream;
    int64_t base;
    std::string name;
};

// One run over an open source and image.
class Run {
public:
    // unit: bytes per read when trimming, scraping and retrying; block: in the copy passes.
    Run(Dialogs& dialogs, JobControl& job, const TFileInfo& sel, const Options& options, Map& map,
        platform::RawStream& source, Sink sink, std::function<std::optional<std::string>()> saveMap,
        int64_t unit, int64_t block)
        : dialogs_(dialogs), job_(job), clock_(job.clock()), sel_(sel), options_(options), map_(map),
          source_(source), image_(sink.stream), base_(sink.base), imageName_(std::move(sink.name)),
          saveMap_(std::move(saveMap)), unit_(unit), block_(block), buffer_(alignedBuffer(block)) {
        const int64_t cap = std::min(kMaxSkip, map.size() / 64 / block * block);
        maxSkip_ = std::max(block, cap);
        lastGood_ = lastProgress_ = lastSave_ = clock_.nowMs();
    }

    // What ended the run: its end, Stop, or a failure that was said.
    enum class End { Done, Stopped, Failed };

    End run() {
        // A run stopped while retrying goes on with the pass it was in, from where it stood: a
        // failing drive is not read again where the passes before already tried it. (A finished
        // map gets its retry passes anew: running it again is how one asks for more.)
        const bool retrying =
            map_.phase == Phase::Retrying && map_.pass >= 1 && map_.pass <= options_.retries;
        const int firstRetry = retrying ? map_.pass : 1;
        const int64_t retryFrom = retrying ? map_.position : 0;
        // The first pass goes on where a map written during it stood; a map of a later phase has
        // had its first pass.
        if (map_.phase == Phase::Copying && map_.pass == 1)
            if (auto e = copyForward(map_.position, true); e != End::Done) return e;
        if (auto e = copySkipped(); e != End::Done) return e;
        if (options_.split) {
            if (auto e = trim(); e != End::Done) return e;
            if (options_.scrape)
                if (auto e = sectors(Phase::Scraping, 1, State::NotSplit, 0); e != End::Done) return e;
        }
        for (int pass = firstRetry; pass <= options_.retries; ++pass)
            if (auto e = sectors(Phase::Retrying, pass, State::Bad, pass == firstRetry ? retryFrom : 0);
                e != End::Done)
                return e;
        if (!fill()) return End::Failed;
        map_.phase = Phase::Done;
        return End::Done;
    }

    // The image flushed, then the map that describes it; false (said) when either fails.
    bool save() {
        lastSave_ = clock_.nowMs();
        if (auto flushed = image_.flush(); !flushed) {
            dialogs_.message("Failed to write to " + imageName_ + ", " + flushed.error().text);
            return false;
        }
        if (auto why = saveMap_()) {
            dialogs_.message(*why);
            mapFailed_ = true;
            return false;
        }
        return true;
    }
    // A map write failed: another one is not tried (it would only say so again).
    bool mapFailed() const { return mapFailed_; }

    void report() {
        Status s;
        s.phase = map_.phase;
        s.pass = map_.pass;
        s.position = map_.position;
        s.rescued = map_.bytesIn(State::Finished);
        s.bad = map_.bytesIn(State::Bad);
        s.failed = map_.bytesIn(State::Failed) + map_.bytesIn(State::NotSplit);
        s.notTried = map_.bytesIn(State::NotTried);
        s.badAreas = map_.countOf(State::Bad);
        s.readErrors = readErrors;
        const int64_t now = clock_.nowMs();
        s.sinceGoodMs = now - lastGood_;
        s.map = &map_;
        s.bytes = s.rescued;
        s.total = map_.size();
        s.percent = jobs::percentOf(s.rescued, map_.size());
        // Short enough to share a terminal's line with the numbers: what is not zero, and the time
        // since the last good read only once reads are slow enough for it to matter.
        std::string said;
        const auto say = [&](const std::string& part) { said += (said.empty() ? ": " : ", ") + part; };
        if (s.bad > 0)
            say(num(s.bad) + " bytes bad in " + num(s.badAreas) + (s.badAreas == 1 ? " area" : " areas"));
        if (s.failed > 0) say(num(s.failed) + " to split");
        if (s.sinceGoodMs >= 1000) say("last good read " + num(s.sinceGoodMs / 1000) + " s ago");
        s.status = phaseName(map_.phase, map_.pass, options_.reverse) + said;
        lastProgress_ = now;
        job_.progress(s);
    }

    int64_t reads = 0;
    int64_t readErrors = 0;

private:
    enum class Got { Good, Error, Stop, Fatal };

    // Reads [at, at + count) of the selection into the image. What came is Finished; what did not
    // is `failed`. Stop is asked before the read, so that it ends the run with nothing half-done.
    Got read(int64_t at, int64_t count, State failed) {
        job_.pump();
        if (job_.stopRequested()) return Got::Stop;
        map_.position = at;
        ++reads;
        const auto got = source_.readAt(sel_.Offset + at, buffer_.get(), count);
        // A stop signal interrupts a read: that is no bad sector.
        if (!got && job_.stopRequested()) return Got::Stop;
        if (!got && endsTheRun(got.error())) {
            dialogs_.message("Failed to read " + sel_.Description + " at byte " + num(sel_.Offset + at) +
                             ", " + got.error().text + ": no further read can succeed. The rescue stopped.");
            return Got::Fatal;
        }
        const int64_t n = got ? std::min(*got, count) : 0;
        if (n > 0) {
            if (!put(at, n)) return Got::Fatal;
            map_.mark(at, n, State::Finished);
            lastGood_ = clock_.nowMs();
        }
        if (n < count) {
            map_.mark(at + n, count - n, failed);
            ++readErrors;
        }
        // Read: a map written from here on goes on after it. (A read a stop interrupted is not.)
        map_.position = at + count;
        if (!tick()) return Got::Fatal;
        return n == count ? Got::Good : Got::Error;
    }

    // The buffer's first `n` bytes into the image at `at`; false (said) when they did not all go.
    bool put(int64_t at, int64_t n) {
        const auto wrote = image_.writeAt(base_ + at, buffer_.get(), n);
        if (wrote && *wrote == n) return true;
        dialogs_.message("Failed to write to " + imageName_ + " at byte " + num(base_ + at) + ", " +
                         (wrote ? platform::errnoError(ENOSPC).text : wrote.error().text));
        return false;
    }

    // Progress and the map on their intervals; false when the map could not be written.
    bool tick() {
        const int64_t now = clock_.nowMs();
        if (now - lastProgress_ >= kProgressMs) report();
        if (now - lastSave_ >= options_.mapIntervalMs) return save();
        return true;
    }

    // The end of a phase: the map and the progress say so.
    End phaseDone() {
        report();
        return save() ? End::Done : End::Failed;
    }

    static End endOf(Got got) { return got == Got::Stop ? End::Stopped : End::Failed; }

    // `from`: where the phase's first read starts.
    void enter(Phase phase, int pass, int64_t from) {
        map_.phase = phase;
        map_.pass = pass;
        map_.position = from;
        report();
    }

    // Whole blocks (aligned on the device) of the untried areas from `from` on. With `skip`, a
    // read error jumps ahead, one block at first and twice as far while errors repeat, so a bad
    // stretch costs a few reads here and is left for the next pass.
    End copyForward(int64_t from, bool skip) {
        enter(Phase::Copying, skip ? 1 : 2, from);
        int64_t jump = block_;
        for (int64_t pos = from; auto area = map_.next(pos, State::NotTried);) {
            const int64_t end =
                std::min(area->end(), unitEnd(sel_.Offset + area->offset, block_) - sel_.Offset);
            const Got got = read(area->offset, end - area->offset, State::Failed);
            if (got == Got::Stop || got == Got::Fatal) return endOf(got);
            pos = end;
            if (!skip) continue;
            if (got == Got::Good) {
                jump = block_;
                continue;
            }
            pos = end + std::min(jump, map_.size() - end);
            jump = std::min(jump * 2, maxSkip_);
        }
        return phaseDone();
    }

    // What the first pass skipped, block by block: forwards, or from its end backwards.
    End copySkipped() {
        if (!options_.reverse) return copyForward(0, false);
        enter(Phase::Copying, 2, map_.size());
        for (int64_t pos = map_.size(); auto area = map_.previous(pos, State::NotTried);) {
            const int64_t last = sel_.Offset + area->end() - 1;
            const int64_t begin = std::max(area->offset, last - last % block_ - sel_.Offset);
            const Got got = read(begin, area->end() - begin, State::Failed);
            if (got == Got::Stop || got == Got::Fatal) return endOf(got);
            pos = begin;
        }
        return phaseDone();
    }

    // Each failed block read one unit (aligned on the device) a time from its first byte up to
    // the first unit that fails, then from its last byte back to the first that fails; those two
    // are Bad, and what lies between them is left NotSplit for scraping. One bad spot so costs a
    // failed read or two, and every good byte around it is saved before the long scrape. An edge
    // next to a Bad area was found by an earlier run and is not read again.
    End trim() {
        enter(Phase::Trimming, 1, 0);
        for (int64_t pos = 0; auto area = map_.next(pos, State::Failed);) {
            int64_t begin = area->offset, end = area->end();
            const auto bad = [&](int64_t at) { return map_.stateAt(at) == State::Bad; };
            const bool fromEnd = !bad(end);
            if (!bad(begin - 1))
                while (begin < end) {
                    const int64_t stop = std::min(end, unitEnd(sel_.Offset + begin, unit_) - sel_.Offset);
                    const Got got = read(begin, stop - begin, State::Bad);
                    if (got == Got::Stop || got == Got::Fatal) return endOf(got);
                    begin = stop;
                    if (got == Got::Error) break;
                }
            if (fromEnd)
                while (begin < end) {
                    const int64_t last = sel_.Offset + end - 1;
                    const int64_t start = std::max(begin, last - last % unit_ - sel_.Offset);
                    const Got got = read(start, end - start, State::Bad);
                    if (got == Got::Stop || got == Got::Fatal) return endOf(got);
                    end = start;
                    if (got == Got::Error) break;
                }
            if (begin < end) map_.mark(begin, end - begin, State::NotSplit);
            pos = area->end();
        }
        return phaseDone();
    }

    // The areas in `state` from `from` on, one unit (aligned on the device) a read: what reads is
    // Finished, what does not is Bad.
    End sectors(Phase phase, int pass, State state, int64_t from) {
        enter(phase, pass, from);
        for (int64_t pos = from; auto area = map_.next(pos, state);) {
            const int64_t end =
                std::min(area->end(), unitEnd(sel_.Offset + area->offset, unit_) - sel_.Offset);
            const Got got = read(area->offset, end - area->offset, State::Bad);
            if (got == Got::Stop || got == Got::Fatal) return endOf(got);
            pos = end;
        }
        return phaseDone();
    }

    // Every bad range of the image gets the fill pattern, counted from the image's first byte.
    bool fill() {
        const std::vector<uint8_t> pattern = options_.fill.empty() ? std::vector<uint8_t>{0} : options_.fill;
        for (const Area& a : map_.areas()) {
            if (a.state != State::Bad) continue;
            for (int64_t at = a.offset; at < a.end();) {
                const int64_t n = std::min(a.end() - at, block_);
                for (int64_t i = 0; i < n; ++i)
                    buffer_.get()[i] = pattern[size_t((at + i) % int64_t(pattern.size()))];
                if (!put(at, n)) return false;
                at += n;
            }
        }
        return true;
    }

    Dialogs& dialogs_;
    JobControl& job_;
    Clock& clock_;
    const TFileInfo& sel_;
    const Options& options_;
    Map& map_;
    platform::RawStream& source_;
    platform::RawStream& image_;
    int64_t base_;
    std::string imageName_;
    std::function<std::optional<std::string>()> saveMap_;
    int64_t unit_;
    int64_t block_;
    int64_t maxSkip_ = 0;
    std::unique_ptr<uint8_t, AlignedFree> buffer_;
    int64_t lastGood_ = 0;
    int64_t lastProgress_ = 0;
    int64_t lastSave_ = 0;
    bool mapFailed_ = false;
};

// The end of the last area the map says was rescued: the image must hold at least that much.
int64_t rescuedEnd(const Map& map) {
    for (auto it = map.areas().rbegin(); it != map.areas().rend(); ++it)
        if (it->state == State::Finished) return it->end();
    return 0;
}

// What a map records of its source: the name the user knows it by, the selection's first byte on
// its disk (so another partition of the same size is told apart), and the drive's serial.
void recordSource(platform::Backend& backend, const TFileInfo& sel, Map& map) {
    map.sourceName = sel.FileName;
    if (const auto drive = platform::parsePhysicalDriveName(sel.FileName))
        if (std::string node = backend.physicalDriveNode(*drive); !node.empty()) map.sourceName = node;
    int64_t onDisk = 0;
    map.sourceOffset =
        __builtin_add_overflow(backend.objectOffset(sel.FileName), sel.Offset, &onDisk) ? -1 : onDisk;
    const auto identity = backend.driveIdentity(sel.FileName);
    map.sourceSerial = identity ? identity->serial : std::string();
}

// Why a map that records `found` cannot go on with the source `now` records; nothing when it can.
// A name alone proves nothing (a drive plugged in again gets another node), a first byte or a
// serial does.
std::optional<std::string> otherSource(const Map& found, const Map& now) {
    const bool otherPlace = found.sourceOffset >= 0 && found.sourceOffset != now.sourceOffset;
    const bool otherDrive =
        !found.sourceSerial.empty() && !now.sourceSerial.empty() && found.sourceSerial != now.sourceSerial;
    if (!otherPlace && !otherDrive) return std::nullopt;
    const auto where = [](const Map& m) {
        std::string text = m.sourceName.empty() ? std::string("a source") : m.sourceName;
        if (m.sourceOffset >= 0) text += " from its byte " + num(m.sourceOffset);
        if (!m.sourceSerial.empty()) text += " (serial " + m.sourceSerial + ")";
        return text;
    };
    return "it was made from " + where(found) + ", this selection is " + where(now);
}

// The refusals a map file's name meets before anything is opened; nothing when it may be used.
std::optional<std::string> mapNameRefusal(platform::Backend& backend, const std::string& mapFile,
                                          const platform::NameInfo& info) {
    // A link would send a map read, or its writes, wherever it points.
    if (info.kind == platform::NameKind::Link)
        return "Cannot use " + mapFile + " as the map file: it is a symbolic link.";
    if (auto why = jobs::outputRefusal(backend, mapFile, jobs::Existing::Replace))
        return "Cannot use " + mapFile + " as the map file: " + *why + ".";
    return std::nullopt;
}

// The map a run starts from: the one at `mapFile` when `continuing` (its source recorded anew),
// else a new one for `sel`; nothing, with why in `why`, when it cannot be read or is not this
// selection's.
std::optional<Map> startingMap(platform::Backend& backend, const TFileInfo& sel, const std::string& mapFile,
                               bool continuing, std::string& why) {
    Map now(sel.Size);
    recordSource(backend, sel, now);
    if (!continuing) return now;
    const auto text = readMapFile(backend, mapFile, why);
    if (!text) {
        why = "Cannot read the map file " + mapFile + ": " + why + ".";
        return std::nullopt;
    }
    auto parsed = parseMap(*text, sel.Size, &why);
    if (!parsed) {
        why = "The map file " + mapFile + " cannot be continued for this selection of " + num(sel.Size) +
              " bytes: " + why + ".";
        return std::nullopt;
    }
    if (auto other = otherSource(*parsed, now)) {
        why = "The map file " + mapFile + " cannot be continued for this selection: " + *other +
              ". Choose the same source and range, or another map file.";
        return std::nullopt;
    }
    parsed->sourceName = now.sourceName;
    parsed->sourceOffset = now.sourceOffset;
    parsed->sourceSerial = now.sourceSerial;
    return parsed;
}

// The source opened for the run (past the cache unless the options say otherwise), with the bytes
// per read of the sector phases and of the copy passes, or null when it cannot be (said).
struct OpenSource {
    std::unique_ptr<platform::RawStream> stream;
    int64_t unit = 512;
    int64_t block = kDefaultBlock;
};
OpenSource openSource(jobs::RangeJob& range, Dialogs& dialogs, const TFileInfo& sel, const Options& options) {
    OpenSource open;
    open.stream = range.open(
        sel, platform::OpenMode::Read,
        [&](const platform::Error& e) {
            dialogs.message("Failed to open " + sel.Description + " for reading, " + e.text);
        },
        options.direct);
    if (!open.stream) return open;
    const auto geometry = open.stream->geometry();
    const int64_t sector = geometry && geometry->bytesPerSector > 0 ? int64_t(geometry->bytesPerSector) : 512;
    // A read error strikes a whole physical sector: reading its logical sectors one by one would
    // only fail that many times over.
    const int64_t physical = open.stream->physicalSectorSize();
    const int64_t unit = options.sectorSize > 0                        ? options.sectorSize
                         : physical > sector && physical % sector == 0 ? physical
                                                                       : sector;
    open.unit = (unit + sector - 1) / sector * sector;
    const int64_t wanted = std::max(options.block > 0 ? options.block : kDefaultBlock, open.unit);
    open.block = (wanted + open.unit - 1) / open.unit * open.unit;
    return open;
}

// The run itself, once the source, the sink and the map are settled; `continuing`: the map is on
// disk already.
Result runRescue(Dialogs& dialogs, JobControl& job, jobs::RangeJob& range, const TFileInfo& sel, Map& map,
                 bool continuing, const OpenSource& source, Sink sink,
                 const std::function<std::optional<std::string>()>& saveMap, const Options& options) {
    Result result;
    result.outcome = Outcome::Failed;
    range.offerStop();
    Run run(dialogs, job, sel, options, map, *source.stream, std::move(sink), saveMap, source.unit,
            source.block);
    run.report();
    // A new map is on disk before the first read.
    const Run::End end = continuing || run.save() ? run.run() : Run::End::Failed;
    bool saved = false;
    if (end != Run::End::Failed)
        saved = run.save();
    else if (!run.mapFailed())
        (void)run.save(); // the map still records what was rescued before the failure
    run.report();

    result.map = map;
    for (const Area& a : map.areas())
        if (a.state == State::Bad) result.badRanges.push_back(a);
    result.bytes = map.bytesIn(State::Finished);
    result.reads = run.reads;
    result.readErrors = run.readErrors;
    result.stopped = end == Run::End::Stopped;
    if (!saved) return result; // Failed: what the map on disk names stands
    result.outcome = result.bytes == sel.Size ? Outcome::Completed : Outcome::Incomplete;
    return result;
}

std::function<std::optional<std::string>()> mapSaver(platform::Backend& backend, const Map& map,
                                                     const std::string& mapFile) {
    return [&backend, &map, mapFile]() -> std::optional<std::string> {
        const std::string text = formatMap(map);
        if (auto why =
                jobs::writeWholeFile(backend, mapFile, text.data(), text.size(), jobs::Existing::Replace))
            return "Failed to write the map file " + mapFile + ", " + *why;
        return std::nullopt;
    };
}

bool sameObject(platform::Backend& backend, const std::string& a, const std::string& b) {
    const std::string ia = backend.objectIdentity(a);
    return !ia.empty() && ia == backend.objectIdentity(b);
}

} // namespace

Result rescueToFile(platform::Backend& backend, Dialogs& dialogs, JobControl& job, const TFileInfo& sel,
                    const std::string& image, const std::string& mapFile, bool replace,
                    const Options& options) {
    Result result;
    jobs::RangeJob range(backend, dialogs, job, jobs::RangeJob::Busy::Yes);
    if (!range.checkRange(sel)) return result;
    const auto refuse = [&](const std::string& text) {
        dialogs.message(text + " Nothing was read.");
        return result;
    };

    // The names, before anything is opened.
    if (image == mapFile || sameObject(backend, image, mapFile))
        return refuse("The image and the map file must be two files; both are " + image + ".");
    for (const auto* name : {&image, &mapFile})
        if (sameObject(backend, sel.FileName, *name)) return refuse(*name + " is the source itself.");
    const auto imageInfo = backend.nameInfo(image);
    const auto mapInfo = backend.nameInfo(mapFile);
    if (!imageInfo) return refuse("Cannot use " + image + " as the image: " + imageInfo.error().text + ".");
    if (!mapInfo) return refuse("Cannot use " + mapFile + " as the map file: " + mapInfo.error().text + ".");
    // A link would send a long run's writes wherever it points.
    if (imageInfo->kind == platform::NameKind::Link)
        return refuse("Cannot use " + image +
                      " as the image: it is a symbolic link; the image must be a file of "
                      "its own, continued in place.");
    if (auto why = mapNameRefusal(backend, mapFile, *mapInfo)) return refuse(*why);
    const bool continuing = mapInfo->kind != platform::NameKind::Missing;
    if (continuing && imageInfo->kind == platform::NameKind::Missing)
        return refuse(
            "The map file " + mapFile + " exists but the image " + image +
            " does not: the map would claim bytes that no image holds. Remove the map to start over.");
    if (auto why = jobs::outputRefusal(backend, image,
                                       continuing ? jobs::Existing::Update : jobs::Existing::Replace))
        return refuse("Cannot use " + image + " as the image: " + *why + ".");

    // The map to continue, which must be this selection's, and its image.
    std::string why;
    auto started = startingMap(backend, sel, mapFile, continuing, why);
    if (!started) return refuse(why);
    Map map = std::move(*started);
    if (!continuing && imageInfo->kind != platform::NameKind::Missing && !replace) {
        const Question q{image + " already exists, and there is no map file " + mapFile +
                             " to continue it with.\nDo you want to replace it with a new image?",
                         Icon::Warning,
                         {Button::Yes, Button::No},
                         Button::No,
                         cli::kReplaceQuestionId};
        if (dialogs.ask(q) != Button::Yes) return refuse(image + " was kept as it was.");
    }

    range.enterBusy();
    result.outcome = Outcome::Failed;
    const OpenSource source = openSource(range, dialogs, sel, options);
    if (!source.stream) return result;

    auto created = jobs::OutputFile::create(backend, image,
                                            continuing ? jobs::Existing::Update
                                            : replace || imageInfo->kind != platform::NameKind::Missing
                                                ? jobs::Existing::Replace
                                                : jobs::Existing::Refuse);
    if (!created) {
        dialogs.message("Failed to open " + image + " for writing, " + created.error().text);
        return result;
    }
    jobs::OutputFile& out = **created;
    if (continuing) {
        const int64_t length = out.stream().length().valueOr(-1);
        if (length < rescuedEnd(map)) {
            dialogs.message("The image " + image + " has " + num(length) + " bytes, but the map file " +
                            mapFile + " says bytes up to " + num(rescuedEnd(map)) +
                            " were rescued into it: it is not the image of this map. Nothing was read.");
            result.outcome = Outcome::NotStarted;
            return result;
        }
        // Never shorter than the selection, never cut: what lies past it stays.
        if (length < sel.Size)
            if (auto grown = out.stream().truncate(sel.Size); !grown) {
                dialogs.message("Failed to write to " + image + ", " + grown.error().text);
                return result;
            }
    } else {
        // The new image takes its name at once (its size, holes until read): the map written
        // during the run always describes a file that is there.
        auto sized = out.stream().truncate(sel.Size);
        auto named = sized ? out.commit() : platform::Result<void>(sized.error());
        if (!named) {
            dialogs.message("Failed to write to " + image + ", " + named.error().text);
            return result;
        }
    }
    return runRescue(dialogs, job, range, sel, map, continuing, source, Sink{out.stream(), 0, image},
                     mapSaver(backend, map, mapFile), options);
}

Result rescueToSelection(platform::Backend& backend, Dialogs& dialogs, JobControl& job, const TFileInfo& sel,
                         const TFileInfo& target, const std::string& mapFile, const Options& options) {
    Result result;
    jobs::RangeJob range(backend, dialogs, job, jobs::RangeJob::Busy::Yes);
    if (!range.checkRange(sel) || !range.checkRange(target)) return result;
    const auto refuse = [&](const std::string& text) {
        dialogs.message(text + " Nothing was read.");
        return result;
    };
    if (target.Size != sel.Size)
        return refuse(target.Description + " has " + num(target.Size) + " bytes and the source " +
                      num(sel.Size) + ": a rescue onto a selection needs one of the same size.");
    // A failing disk is only read: nothing is written onto it, not even away from the source.
    if (target.FileName == sel.FileName || sameObject(backend, sel.FileName, target.FileName))
        return refuse(target.Description + " lies on the source's own disk, which a rescue only reads.");
    for (const auto* name : {&sel.FileName, &target.FileName})
        if (sameObject(backend, *name, mapFile))
            return refuse(mapFile + " is the source or the target itself.");
    const auto mapInfo = backend.nameInfo(mapFile);
    if (!mapInfo) return refuse("Cannot use " + mapFile + " as the map file: " + mapInfo.error().text + ".");
    if (auto why = mapNameRefusal(backend, mapFile, *mapInfo)) return refuse(*why);
    const bool continuing = mapInfo->kind != platform::NameKind::Missing;
    std::string why;
    auto started = startingMap(backend, sel, mapFile, continuing, why);
    if (!started) return refuse(why);
    Map map = std::move(*started);
    if (!gate::ConfirmOverwrite(backend, dialogs, target)) return result;

    range.enterBusy();
    result.outcome = Outcome::Failed;
    const OpenSource source = openSource(range, dialogs, sel, options);
    if (!source.stream) return result;
    auto out = range.open(target, platform::OpenMode::Write,
                          "Failed to open " + target.Description + " for writing", options.direct);
    if (!out || !range.fitsInside(*out, target)) return result;
    return runRescue(dialogs, job, range, sel, map, continuing, source,
                     Sink{*out, target.Offset, target.Description}, mapSaver(backend, map, mapFile), options);
}

std::string summary(const Result& r, int64_t size) {
    if (r.outcome == Outcome::Completed) return "Rescued all " + std::to_string(size) + " bytes.";
    const Map& m = r.map;
    std::string text = "Rescued " + std::to_string(r.bytes) + " of " + std::to_string(size) + " bytes; " +
                       std::to_string(m.bytesIn(State::Bad)) + " bytes bad in " +
                       std::to_string(m.countOf(State::Bad)) +
                       (m.countOf(State::Bad) == 1 ? " area" : " areas");
    if (const int64_t failed = m.bytesIn(State::Failed); failed > 0)
        text += "; " + std::to_string(failed) + " bytes in failed blocks not split";
    if (const int64_t between = m.bytesIn(State::NotSplit); between > 0)
        text += "; " + std::to_string(between) + " bytes between bad sectors not scraped";
    if (const int64_t left = m.bytesIn(State::NotTried); left > 0)
        text += "; " + std::to_string(left) + " bytes not tried";
    return text + ".";
}

} // namespace rescue
