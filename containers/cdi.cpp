#include "containers/cdi.h"

#include "containers/cdi_format.h"
#include "containers/stream_adapters.h"
#include "jobs/block_engine.h"
#include "jobs/gate.h"
#include "jobs/output_file.h"
#include "jobs/range_job.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace containers {
namespace {

using detail::StreamAdapter;
using jobs::RangeJob;

constexpr int64_t kSaveBlock = 65536;
constexpr int64_t kLoadBlock = 8192;
constexpr int64_t kLoadBlocksPerPump = 100;
// Bytes per read and write of the block engine, and buffers in flight.
constexpr int64_t kEngineBuffer = 1 << 20;
constexpr int kEngineBuffers = 4;

std::string num(int64_t v) {
    return std::to_string(v);
}

FileDialog imageDialog(FileDialog::Kind kind) {
    FileDialog d;
    d.kind = kind;
    d.filter = kCdiFilter;
    d.defaultExt = ".cdi";
    d.overwritePrompt = kind == FileDialog::Kind::Save;
    d.mustExist = kind == FileDialog::Kind::Open;
    return d;
}

// The selection as the save reads it: 64 KiB blocks counted from the selection's start. A block
// the device gives only in part (its end, a read error) is made whole with zero bytes, and the
// next block is read from its own start, so the body carries exactly Size bytes, each at its
// place. Large reads go straight through; only a read that comes back short is done again block
// by block.
class ZeroFilledSelection final : public StreamAdapter {
public:
    ZeroFilledSelection(platform::RawStream& device, int64_t start, int64_t size)
        : device_(device), start_(start), size_(size) {}

    platform::Result<int64_t> read(void* buffer, int64_t count) override {
        auto* out = static_cast<uint8_t*>(buffer);
        count = std::max<int64_t>(0, std::min(count, size_ - pos_));
        if (count == 0) return int64_t(0);
        if (pos_ >= zeroUntil_) {
            const auto n = device_.read(out, count);
            if (n && *n == count) {
                pos_ += count;
                return count;
            }
        }
        for (int64_t done = 0; done < count;) {
            const int64_t at = pos_ + done;
            const int64_t blockEnd = std::min(size_, (at / kSaveBlock + 1) * kSaveBlock);
            const int64_t want = std::min(blockEnd, pos_ + count) - at;
            int64_t got = 0;
            if (at >= zeroUntil_ &&
                device_.seek(start_ + at, platform::SeekOrigin::Begin).valueOr(-1) == start_ + at) {
                const auto n = device_.read(out + done, want);
                got = n ? *n : 0;
            }
            if (got < want) {
                std::memset(out + done + got, 0, size_t(want - got));
                unread_ += want - got;
                zeroUntil_ = std::max(zeroUntil_, blockEnd);
            }
            done += want;
        }
        pos_ += count;
        // Where the next large read starts.
        (void)device_.seek(start_ + pos_, platform::SeekOrigin::Begin);
        return count;
    }
    platform::Result<int64_t> seek(int64_t offset, platform::SeekOrigin origin) override {
        if (origin != platform::SeekOrigin::Begin || offset < 0 || offset > size_)
            return platform::errnoError(EINVAL);
        const auto at = device_.seek(start_ + offset, platform::SeekOrigin::Begin);
        if (!at) return at.error();
        pos_ = offset;
        return pos_;
    }
    platform::Result<int64_t> position() override { return pos_; }
    platform::Result<int64_t> length() override { return size_; }

    // Bytes saved as zeros because the device did not give them.
    int64_t unread() const { return unread_; }

private:
    platform::RawStream& device_;
    const int64_t start_;
    const int64_t size_;
    int64_t pos_ = 0;
    int64_t zeroUntil_ = 0; // the rest of a block that came back short
    int64_t unread_ = 0;
};

// The block engine's sink during a save: what it writes goes into the compressor.
class CompressorSink final : public StreamAdapter {
public:
    explicit CompressorSink(BodyWriter& body) : body_(body) {}
    platform::Result<int64_t> write(const void* buffer, int64_t count) override {
        if (auto r = body_.write(static_cast<const uint8_t*>(buffer), size_t(count)); !r) return r.error();
        return count;
    }

private:
    BodyWriter& body_;
};

// The block engine's source during a load: the image's data, as it inflates. Its position is
// known but cannot go back, so the engine reads ahead in large pieces and takes a short piece as
// the data's end. Each piece is handed on only once it is known to be sound: a piece in which the
// inflater finds damage is not, nor is the last one until the stream has ended there with its
// checksum; so an image of up to one piece is written whole or not at all.
class InflatedSource final : public StreamAdapter {
public:
    // fromPipe: the image comes from a pipe. Then no position is reported, so that the engine
    // reads on the thread a stop signal reaches rather than on a reader thread blocked on it.
    InflatedSource(BodyReader& body, int64_t size, bool fromPipe = false)
        : body_(body), size_(size), fromPipe_(fromPipe) {}
    platform::Result<int64_t> read(void* buffer, int64_t count) override {
        const int64_t n = body_.read(static_cast<uint8_t*>(buffer), count);
        if (pos_ + n == size_) {
            body_.checkEnd();
            if (!body_.ended()) return int64_t(0); // damaged, or its end could not be read
        }
        if (body_.damaged()) return int64_t(0);
        pos_ += n;
        return n;
    }
    platform::Result<int64_t> seek(int64_t offset, platform::SeekOrigin origin) override {
        if (origin == platform::SeekOrigin::Begin && offset == pos_) return pos_;
        return platform::errnoError(ESPIPE);
    }
    platform::Result<int64_t> position() override {
        if (fromPipe_) return platform::errnoError(ESPIPE);
        return pos_;
    }

private:
    BodyReader& body_;
    const int64_t size_;
    const bool fromPipe_;
    int64_t pos_ = 0;
};

// Why a load failed on damage: "Error", what the damage is, and how much of the target changed.
std::string damageMessage(Damage damage, const std::string& image, const TFileInfo& sel, int64_t written) {
    std::string what;
    switch (damage) {
    case Damage::Checksum:
        what = "its checksum does not match its data";
        break;
    case Damage::TooLong:
        what = "its data runs past the " + num(sel.Size) + " bytes its header gives";
        break;
    case Damage::Unfinished:
        what = "the file ends inside its data";
        break;
    case Damage::Data:
    case Damage::None:
        what = "its compressed data is damaged";
        break;
    }
    return "Error\n" + image + " is damaged: " + what + ". " +
           (written == 0 ? "Nothing was written to " + sel.Description + "."
                         : num(written) + " bytes of " + num(sel.Size) + " were written to " +
                               sel.Description + " before the damage was found.");
}

// "%.2f" with the user's decimal separator.
std::string twoDecimals(double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f", value);
    std::string text = buf;
    if (const auto dot = text.find('.'); dot != std::string::npos) text[dot] = platform::decimalSeparator();
    return text;
}

std::string writeFailure(const std::string& file, const platform::Error& e) {
    if (e.text == kCompressorFailed) return e.text;
    return "Failed to write to " + file + ", " + e.text;
}

} // namespace

namespace {

// Where an image goes: a new file that takes its name only when complete, or a stream (standard
// output) that can neither be taken back nor replace anything.
class ImageOut {
public:
    virtual ~ImageOut() = default;
    virtual platform::RawStream& stream() = 0;
    virtual bool replacing() const = 0;
    virtual void discard() = 0;
    virtual platform::Result<void> commit() = 0;
};

class FileOut final : public ImageOut {
public:
    explicit FileOut(std::unique_ptr<jobs::OutputFile> file) : file_(std::move(file)) {}
    platform::RawStream& stream() override { return file_->stream(); }
    bool replacing() const override { return file_->replacing(); }
    void discard() override { file_->discard(); }
    platform::Result<void> commit() override { return file_->commit(); }

private:
    std::unique_ptr<jobs::OutputFile> file_;
};

class StreamOut final : public ImageOut {
public:
    explicit StreamOut(platform::RawStream& out) : out_(out) {}
    platform::RawStream& stream() override { return out_; }
    bool replacing() const override { return false; }
    void discard() override {}
    platform::Result<void> commit() override { return {}; }

private:
    platform::RawStream& out_;
};

// The save once its source is open and its image ready: header, body, footer, and what it says.
Report saveInto(RangeJob& range, Dialogs& dialogs, JobControl& job, const TFileInfo& sel,
                std::unique_ptr<platform::RawStream> source, ImageOut& image, const std::string& file,
                const CdiOptions& options) {
    const cdi::HeaderBytes header = cdi::buildHeader(sel);
    // Ends a save that cannot finish: the new file goes, an earlier one stays.
    const bool replacing = image.replacing();
    const std::string kept = "The earlier " + file + " was kept as it was.";
    const auto failed = [&](const std::string& message, int64_t bytes) {
        image.discard();
        dialogs.message(message);
        if (replacing) dialogs.message(kept);
        return Report{Outcome::Failed, bytes};
    };

    platform::RawStream& out = image.stream();
    if (const auto w = out.write(header.data(), cdi::kHeaderSize); !w || *w != cdi::kHeaderSize)
        return failed(writeFailure(file, w ? platform::errnoError(ENOSPC) : w.error()), 0);
    auto body = makeBodyWriter(options.codec, out);
    if (!body) return failed(writeFailure(file, body.error()), 0);
    if (!range.position(*source, sel.Offset, "Failed to seek on " + sel.Description))
        return {Outcome::Failed, 0};

    ZeroFilledSelection selected(*source, sel.Offset, sel.Size);
    CompressorSink sink(**body);
    blocks::Plan plan;
    plan.size = sel.Size;
    plan.block = kSaveBlock;
    plan.buffer = kEngineBuffer;
    plan.buffers = kEngineBuffers;
    blocks::Callbacks callbacks;
    callbacks.afterBlock = [&](int64_t total) {
        job.progress({total, sel.Size, jobs::percentOf(total, sel.Size), ""});
        job.pump();
        return !job.stopRequested();
    };
    callbacks.waiting = [&] {
        job.pump();
        return !job.stopRequested();
    };
    if (options.digests)
        callbacks.counted = [&](const uint8_t* data, int64_t size) { options.digests->add(data, size); };
    const auto moved = blocks::run(selected, sink, plan, callbacks);
    source.reset();
    if (moved.writeError) return failed(writeFailure(file, *moved.writeError), moved.written);
    if (sel.Size == 0) job.progress({0, 0, 100, ""});

    if (auto r = (*body)->finish(); !r) return failed(writeFailure(file, r.error()), moved.written);
    const std::string foot = cdi::footer((*body)->bytesOut());
    if (const auto w = out.write(foot.data(), int64_t(foot.size())); !w || *w != int64_t(foot.size()))
        return failed(writeFailure(file, w ? platform::errnoError(ENOSPC) : w.error()), moved.written);
    // An image is reported written only once it is on the disk.
    if (auto f = out.flush(); !f) return failed(writeFailure(file, f.error()), moved.written);
    const int64_t length =
        out.length().valueOr(cdi::kHeaderSize + (*body)->bytesOut() + int64_t(foot.size()));
    body = platform::Error{};
    const bool whole = moved.total == sel.Size && selected.unread() == 0;
    if (moved.stopped && replacing) {
        // A stopped image holds part of the selection: it never replaces a whole one.
        image.discard();
        dialogs.message("Stopped after " + num(moved.total) + " of " + num(sel.Size) + " bytes. " + kept);
        return {Outcome::Incomplete, moved.total};
    }
    if (auto committed = image.commit(); !committed)
        return failed(writeFailure(file, committed.error()), moved.written);

    std::string message = "Done.\nWritten " + num(length) + " bytes (" +
                          twoDecimals(sel.Size > 0 ? double(length) * 100.0 / double(sel.Size) : 0.0) +
                          "% from original)";
    if (selected.unread() > 0)
        message += "\n" + num(selected.unread()) + " bytes could not be read from " + sel.Description +
                   "; the image holds zeros in their place.";
    // Digests of part of the selection would pass for the selection's own: only a whole one gets them.
    if (whole && options.digests) {
        if (const std::string digests = options.digests->summary(); !digests.empty())
            message += "\n\n" + digests;
    }
    // Stop stays until the result is shown: the message comes first.
    dialogs.message(message);
    range.withdrawStop();
    return {whole ? Outcome::Completed : Outcome::Incomplete, moved.total};
}

} // namespace

Report SaveAsCompressed(platform::Backend& backend, Dialogs& dialogs, JobControl& job,
                        const TFileInfo& selection, const CdiOptions& options) {
    // Taken once: the selection may change while the save runs.
    const TFileInfo sel = selection;
    if (sel.FileName.empty()) return {};
    RangeJob range(backend, dialogs, job, RangeJob::Busy::No);
    if (!range.checkRange(sel)) return {};
    const auto chosen = dialogs.chooseFile(imageDialog(FileDialog::Kind::Save));
    if (!chosen) return {};
    const std::string file = *chosen;
    range.offerStop();

    auto source = range.open(sel, platform::OpenMode::Read, "Failed to read source", options.direct);
    if (!source) return {Outcome::Failed, 0};
    const std::string openFailed = "Failed to open " + file + " for writing";
    // An image written over its own source would destroy it before it is read.
    if (detail::sameObject(backend, sel.FileName, file)) {
        dialogs.message(openFailed);
        return {Outcome::Failed, 0};
    }
    auto created = jobs::OutputFile::create(backend, file, jobs::Existing::Replace);
    if (!created) {
        dialogs.message(openFailed + "\n" + created.error().text);
        return {Outcome::Failed, 0};
    }
    FileOut image(std::move(*created));
    return saveInto(range, dialogs, job, sel, std::move(source), image, file, options);
}

Report SaveCompressedToStream(platform::Backend& backend, Dialogs& dialogs, JobControl& job,
                              const TFileInfo& selection, platform::RawStream& out, const std::string& name,
                              const CdiOptions& options) {
    const TFileInfo sel = selection;
    if (sel.FileName.empty()) return {};
    RangeJob range(backend, dialogs, job, RangeJob::Busy::No);
    if (!range.checkRange(sel)) return {};
    range.offerStop();
    auto source = range.open(sel, platform::OpenMode::Read, "Failed to read source", options.direct);
    if (!source) return {Outcome::Failed, 0};
    StreamOut image(out);
    return saveInto(range, dialogs, job, sel, std::move(source), image, name, options);
}
namespace {

// Says why an image cannot be loaded, from its header's check; true when it can.
bool acceptable(Dialogs& dialogs, cdi::Check check) {
    switch (check) {
    case cdi::Check::ShortHeader:
        dialogs.message("Failed to read header");
        return false;
    case cdi::Check::UnknownFormat:
        dialogs.message("Unknown format or unsupported version.");
        return false;
    case cdi::Check::Incomplete:
        dialogs.message("Image file is incomplete.");
        return false;
    case cdi::Check::Ok:
        break;
    }
    return true;
}

// The load once its image is open, past the header: the size check, the gate and the write.
// isFile: `image` is the file `file`, positioned again after the header (a stream already is).
Report loadFrom(platform::Backend& backend, RangeJob& range, Dialogs& dialogs, JobControl& job,
                const TFileInfo& sel, platform::RawStream& image, const std::string& file, bool isFile,
                int64_t imageSize, const CdiOptions& options) {
    if (imageSize != sel.Size) {
        dialogs.message("File size does not match. \nCompressed image has " + num(imageSize) + " bytes (" +
                        num(imageSize / 1024) + "kB); your selection is " + num(sel.Size) + " bytes (" +
                        num(sel.Size / 1024) + "kB)");
        return {};
    }
    if (!gate::ConfirmOverwrite(backend, dialogs, sel)) return {};

    const std::string openFailed = "Failed to open " + sel.Description + " for writing";
    // Writing an image onto its own file would read back what was just written.
    if (isFile && detail::sameObject(backend, sel.FileName, file)) {
        dialogs.message(openFailed);
        return {Outcome::Failed, 0};
    }
    auto device = range.open(sel, platform::OpenMode::Write, openFailed, options.direct);
    if (!device) return {Outcome::Failed, 0};
    if (!range.fitsInside(*device, sel)) return {Outcome::Failed, 0};
    if (!range.position(*device, sel.Offset, "Failed to seek on " + sel.Description))
        return {Outcome::Failed, 0};
    if (isFile && image.seek(cdi::kHeaderSize, platform::SeekOrigin::Begin).valueOr(-1) != cdi::kHeaderSize) {
        dialogs.message("Failed to read header");
        return {Outcome::Failed, 0};
    }
    auto body = makeBodyReader(options.codec, image);
    if (!body) {
        dialogs.message(body.error().text);
        return {Outcome::Failed, 0};
    }

    InflatedSource inflated(**body, sel.Size, !isFile);
    blocks::Plan plan;
    plan.size = sel.Size;
    plan.block = kLoadBlock;
    plan.buffer = kEngineBuffer;
    plan.buffers = kEngineBuffers;
    plan.shortBlockEnds = true; // a block the data ends in is not written
    int64_t blocksDone = 0;
    bool interrupted = false;
    blocks::Callbacks callbacks;
    // The load has no Stop; only the program ending (a signal) ends it early.
    callbacks.afterBlock = [&](int64_t total) {
        if (++blocksDone % kLoadBlocksPerPump == 0) {
            job.progress({total, sel.Size, jobs::percentOf(total, sel.Size), ""});
            job.pump();
        }
        interrupted = platform::interruptRequested();
        return !interrupted;
    };
    callbacks.waiting = [&] {
        job.pump();
        interrupted = platform::interruptRequested();
        return !interrupted;
    };
    const auto moved = blocks::run(inflated, *device, plan, callbacks);
    job.progress({moved.written, sel.Size, jobs::percentOf(moved.written, sel.Size), ""});

    Report report{Outcome::Failed, moved.written};
    if (moved.writeError) {
        dialogs.message("Failed to write to " + sel.Description + ", " + moved.writeError->text);
    } else if ((*body)->damaged()) {
        dialogs.error(damageMessage((*body)->damage(), file, sel, moved.written));
    } else if ((*body)->readError()) {
        dialogs.message("Failed to read " + file + ", " + (*body)->readError()->text);
    } else if (interrupted) {
        dialogs.message("Writing the image was stopped after " + num(moved.written) + " bytes of " +
                        num(sel.Size) + " bytes total.");
        report.outcome = Outcome::Incomplete;
    } else if (moved.total < sel.Size) {
        dialogs.message("Error reading compressed stream");
        report.outcome = Outcome::Incomplete;
    } else {
        // An empty selection reads nothing, so its stream is checked here.
        (*body)->checkEnd();
        if ((*body)->damaged())
            dialogs.error(damageMessage((*body)->damage(), file, sel, moved.written));
        else
            report.outcome = Outcome::Completed;
    }
    // What was written reaches the device, whatever ended the load.
    if (!range.flush(*device, sel.Description)) report.outcome = Outcome::Failed;
    return report;
}

} // namespace

Report LoadFromCompressed(platform::Backend& backend, Dialogs& dialogs, JobControl& job,
                          const TFileInfo& selection, const CdiOptions& options) {
    const TFileInfo sel = selection;
    if (sel.FileName.empty()) return {};
    RangeJob range(backend, dialogs, job, RangeJob::Busy::No);
    if (!range.checkRange(sel)) return {};
    const auto chosen = dialogs.chooseFile(imageDialog(FileDialog::Kind::Open));
    if (!chosen) return {};
    const std::string file = *chosen;

    auto opened = backend.open(file, platform::OpenMode::Read);
    if (!opened) {
        dialogs.error(detail::cannotOpenFile(file, opened.error().text));
        return {Outcome::Failed, 0};
    }
    std::unique_ptr<platform::RawStream> image = std::move(*opened);
    const cdi::Inspection found = cdi::inspect(*image);
    if (!acceptable(dialogs, found.check)) return {};
    return loadFrom(backend, range, dialogs, job, sel, *image, file, true, found.header.sourceSize, options);
}

Report LoadCompressedFromStream(platform::Backend& backend, Dialogs& dialogs, JobControl& job,
                                const TFileInfo& selection, platform::RawStream& image,
                                const std::string& name, const CdiOptions& options) {
    const TFileInfo sel = selection;
    if (sel.FileName.empty()) return {};
    RangeJob range(backend, dialogs, job, RangeJob::Busy::No);
    if (!range.checkRange(sel)) return {};
    cdi::HeaderBytes header{};
    const auto got = image.read(header.data(), cdi::kHeaderSize);
    const cdi::Inspection found =
        got && *got == cdi::kHeaderSize ? cdi::inspectHeader(header) : cdi::Inspection{};
    if (!acceptable(dialogs, found.check)) return {};
    // The body follows the header: it is read as it comes, its checksum and length checked at its end.
    return loadFrom(backend, range, dialogs, job, sel, image, name, false, found.header.sourceSize, options);
}

} // namespace containers
