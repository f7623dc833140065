#include "transfer/transfer.h"

#include "core/selection.h"
#include "jobs/block_engine.h"
#include "jobs/gate.h"
#include "jobs/output_file.h"
#include "jobs/range_job.h"
#include "jobs/verify.h"
#include "platform/platform.h"

#include <cmath>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace transfer {
namespace {

using jobs::RangeJob;

constexpr int64_t kBlock = 8192;

std::string num(int64_t v) {
    return std::to_string(v);
}

Question yesNo(const std::string& text, Icon icon, Button safe, const char* id) {
    return Question{text, icon, {Button::Yes, Button::No}, safe, id};
}

std::string dumpIncomplete(int64_t written, int64_t size) {
    return "Dump incomplete, wrote only " + num(written) + " bytes of " + num(size) +
           " bytes total. It is unlikely you can import this backup again.";
}

// The folder part of a path, up to and including its last separator; "." for a bare name.
std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// True when two names lead to the same file or device (a loop device and its backing file
// included), so one would be overwritten by the other.
bool sameObject(platform::Backend& backend, const std::string& a, const std::string& b) {
    const std::string ia = backend.objectIdentity(a);
    return !ia.empty() && ia == backend.objectIdentity(b);
}

// Where a selection's bytes lie on the object that holds them, or nothing when that position
// does not fit in 64 bits.
std::optional<platform::ByteRange> onDisk(int64_t base, const TFileInfo& sel) {
    int64_t offset = 0;
    if (base < 0 || __builtin_add_overflow(base, sel.Offset, &offset)) return std::nullopt;
    return platform::ByteRange::make(offset, sel.Size);
}

FileDialog rawImageDialog(FileDialog::Kind kind) {
    FileDialog dialog;
    dialog.kind = kind;
    dialog.filter = kRawFilter;
    dialog.defaultExt = ".raw";
    return dialog;
}

// After every 8 KiB block of a dump or a restore: the bar, the status line and the pump, then
// the stop check. The status text is rebuilt only when its hundredths change.
class BlockReport {
public:
    BlockReport(JobControl& job, int64_t size)
        : job_(job), size_(size), separator_(platform::decimalSeparator()) {}
    bool operator()(int64_t total) {
        const double hundredths = size_ > 0 ? double(total) * 10000.0 / double(size_) : 10000.0;
        if (!std::isfinite(hundredths) || int64_t(hundredths) != lastHundredths_) {
            lastHundredths_ = int64_t(hundredths);
            status_ = jobs::percentDoneText(total, size_, separator_);
        }
        job_.progress({total, size_, jobs::percentOf(total, size_), status_});
        job_.pump();
        return !job_.stopRequested();
    }

private:
    JobControl& job_;
    int64_t size_;
    char separator_;
    int64_t lastHundredths_ = -1;
    std::string status_;
};

blocks::Callbacks callbacksFor(JobControl& job, const std::function<bool(int64_t)>& afterBlock) {
    blocks::Callbacks c;
    c.afterBlock = afterBlock;
    c.waiting = [&job] {
        job.pump();
        return !job.stopRequested();
    };
    return c;
}

// A completion message with the digests computed while imaging, when there are some. `longer`:
// the image holds more than the selection, and the digests cover only the selection's bytes.
std::string withDigests(const std::string& message, const Options& options, int64_t size, bool longer) {
    if (!options.digests) return message;
    const std::string digests = options.digests->summary();
    if (digests.empty()) return message;
    std::string text = message.empty() ? "" : message + "\n\n";
    if (longer) text += "Digests of the first " + num(size) + " bytes of the image (the selection):\n";
    return text + digests;
}

std::string keptMessage(const std::string& file) {
    return "The earlier " + file + " was kept as it was.";
}

// The image file a dump writes, through the one output-file type: an existing file is replaced
// only by a finished dump, so a dump that fails or stops leaves the earlier image as it was.
class ImageFile {
public:
    explicit ImageFile(std::unique_ptr<jobs::OutputFile> file) : file_(std::move(file)) {}

    platform::RawStream& stream() { return file_->stream(); }
    bool replacing() const { return file_->replacing(); }

    // The dump is done: the new image takes the file's name.
    [[nodiscard]] bool commit(Dialogs& dialogs) {
        if (auto done = file_->commit(); !done) {
            dialogs.message("Failed to write to " + file_->path() + ", " + done.error().text);
            if (replacing()) dialogs.message(keptMessage(file_->path()));
            return false;
        }
        return true;
    }
    // A failed or stopped dump: nothing of it stays, and an earlier image stays as it was.
    void drop(Dialogs& dialogs) {
        file_->discard();
        dialogs.message(replacing() ? keptMessage(file_->path())
                                    : "Nothing was kept: " + file_->path() + " was not created.");
    }

private:
    std::unique_ptr<jobs::OutputFile> file_;
};

// One handle seen from one place: the direct copy within one device reads and writes through a
// single handle, each side at its own position.
class Window final : public platform::RawStream {
public:
    Window(platform::RawStream& inner, int64_t position) : inner_(inner), position_(position) {}
    platform::Result<int64_t> read(void* buffer, int64_t count) override {
        if (!at()) return platform::errnoError(EIO);
        auto n = inner_.read(buffer, count);
        if (n) position_ += *n;
        return n;
    }
    platform::Result<int64_t> write(const void* buffer, int64_t count) override {
        if (!at()) return platform::errnoError(EIO);
        auto n = inner_.write(buffer, count);
        if (n) position_ += *n;
        return n;
    }
    platform::Result<int64_t> seek(int64_t offset, platform::SeekOrigin origin) override {
        if (origin != platform::SeekOrigin::Begin) return platform::errnoError(EINVAL);
        position_ = offset;
        return offset;
    }
    platform::Result<int64_t> position() override { return position_; }
    platform::Result<int64_t> length() override { return inner_.length(); }
    platform::Result<void> truncate(int64_t) override { return platform::errnoError(EINVAL); }
    platform::Result<void> flush() override { return inner_.flush(); }
    platform::Result<platform::DiskGeometry> geometry() override { return inner_.geometry(); }
    platform::Result<platform::DiskGeometryEx> geometryEx() override { return inner_.geometryEx(); }
    platform::Result<int64_t> lengthInfo() override { return inner_.lengthInfo(); }

private:
    bool at() { return inner_.seek(position_, platform::SeekOrigin::Begin).valueOr(-1) == position_; }
    platform::RawStream& inner_;
    int64_t position_;
};

// Reads back what was written to `target` and compares it with `source` (positioned at
// `sourceOffset`). Nothing, with the reason shown, when the target cannot be read back.
std::optional<verify::Result> readBack(RangeJob& range, platform::RawStream& source, int64_t sourceOffset,
                                       const TFileInfo& target, int64_t size) {
    auto written =
        range.open(target, platform::OpenMode::Read,
                   "Verification failed: " + target.Description + " could not be opened for reading.", true);
    if (!written) return std::nullopt;
    // What is read back must come from the medium, not from what the system still holds.
    (void)written->dropCache();
    if (!range.position(*written, target.Offset,
                        "Verification failed: " + target.Description + " cannot be positioned.") ||
        !range.position(source, sourceOffset, "Verification failed: the source cannot be positioned."))
        return std::nullopt;
    return verify::compare(source, *written, size, range.job());
}

bool matched(const std::optional<verify::Result>& r) {
    return r && r->differing == 0 && !r->error;
}

} // namespace

namespace {

// A dump's source, opened for reading (said when it cannot be).
std::unique_ptr<platform::RawStream> openSource(RangeJob& range, const TFileInfo& sel,
                                                const Options& options) {
    return range.open(sel, platform::OpenMode::Read,
                      "Failed to exclusively open drive.\nMake sure you close all explorer windows and other "
                      "applications accessing this device",
                      options.direct);
}

// A dump's source at the selection's first byte; said and false when it cannot be put there.
bool positionSource(platform::RawStream& device, Dialogs& dialogs, const TFileInfo& sel) {
    if (sel.Offset == 0) return true;
    auto pos = device.seek(sel.Offset, platform::SeekOrigin::Begin);
    if (!pos || *pos != sel.Offset) {
        // Nothing of the selection is in it.
        dialogs.message("Failed to seek on " + sel.Description);
        return false;
    }
    dialogs.message(num(*pos));
    return true;
}

// A dump's bytes from the positioned source into `out`, the digests seeing the selection's bytes
// only. wholeBlocks: the last block is read whole, even where it runs past the selection.
blocks::Outcome dumpBlocks(platform::RawStream& device, platform::RawStream& out, JobControl& job,
                           const TFileInfo& sel, const Options& options, bool wholeBlocks) {
    blocks::Plan plan;
    plan.size = sel.Size;
    plan.block = kBlock;
    plan.wholeBlocks = wholeBlocks;
    plan.buffer = kTransferBuffer;
    plan.buffers = kTransferBuffers;
    auto callbacks = callbacksFor(job, BlockReport(job, sel.Size));
    if (options.digests) {
        // A last block that runs past the selection may be truncated away.
        callbacks.counted = [&, seen = int64_t(0)](const uint8_t* data, int64_t size) mutable {
            const int64_t take = std::min(size, sel.Size - seen);
            if (take > 0) options.digests->add(data, take);
            seen += size;
        };
    }
    return blocks::run(device, out, plan, callbacks);
}

// The end of a restore once its image is open: the last questions, the write and what it says.
// isFile: the image is a file, compared with the target when asked (a stream is read once).
Report restoreImage(platform::Backend& backend, RangeJob& range, Dialogs& dialogs, JobControl& job,
                    const TFileInfo& sel, platform::RawStream& image, const std::string& file, bool isFile,
                    const Options& options);

} // namespace

Report dumpToFile(platform::Backend& backend, Dialogs& dialogs, JobControl& job, TFileInfo sel,
                  const Options& options) {
    if (sel.FileName.empty()) return {};
    RangeJob range(backend, dialogs, job, RangeJob::Busy::Yes);
    if (!range.checkRange(sel)) return {};
    FileDialog dialog = rawImageDialog(FileDialog::Kind::Save);
    dialog.initialName = (sel.DefaultName.empty() ? std::string("rawdump") : sel.DefaultName) + ".raw";
    dialog.overwritePrompt = true;
    const auto chosen = dialogs.chooseFile(dialog);
    if (!chosen) return {};
    const std::string file = *chosen;

    const auto space = backend.freeSpace(folderOf(file));
    if ((space ? space->availableToCaller : 0) < sel.Size) {
        dialogs.message("Target drive does not have enough free space");
        return {};
    }
    range.enterBusy();

    auto device = openSource(range, sel, options);
    if (!device) return {Outcome::Failed, 0};
    // Replacing the source with its own dump would destroy it before it is read.
    if (sameObject(backend, sel.FileName, file)) {
        dialogs.message("Failed to open " + file + " for writing");
        return {Outcome::Failed, 0};
    }
    auto created = jobs::OutputFile::create(backend, file, jobs::Existing::Replace);
    if (!created) {
        dialogs.message("Failed to open " + file + " for writing\n" + created.error().text);
        return {Outcome::Failed, 0};
    }
    auto image = std::make_unique<ImageFile>(std::move(*created));
    range.offerStop();

    if (!positionSource(*device, dialogs, sel)) return {Outcome::Failed, 0};
    // The last block may run past the selection: the truncation question.
    auto moved = dumpBlocks(*device, image->stream(), job, sel, options, true);
    device.reset();

    int64_t total = moved.total;
    std::string writeError = moved.writeError ? moved.writeError->text : std::string();
    // The last whole block runs past the selection; when only that overrun did not fit (a full
    // disk), every selected byte is in the file and the dump goes on as one that ran past.
    if (!writeError.empty() && moved.written >= sel.Size) {
        writeError.clear();
        total = moved.written;
    }
    if (writeError.empty()) {
        // A backup is reported complete only once it is on the disk.
        if (auto flushed = image->stream().flush(); !flushed) writeError = flushed.error().text;
    }
    if (!writeError.empty()) {
        // A file the system failed to write is not an image: nothing of it is kept.
        dialogs.message("Failed to write to " + file + ", " + writeError);
        image->drop(dialogs);
        return {Outcome::Failed, moved.written};
    }

    Report report{Outcome::Completed, total};
    if (total == sel.Size) {
        if (!image->commit(dialogs)) return {Outcome::Failed, total};
        dialogs.message(withDigests("Dump successfully completed", options, sel.Size, false));
    } else if (total > sel.Size) {
        const std::string question =
            "Dump complete, but was able to dump more bytes from the device than reported.\n" + num(total) +
            " bytes were dumped, " + num(sel.Size) +
            " bytes were reported as available\nYou can choose to truncate the output file\nTruncating is "
            "highly "
            "suggested if you want to write the image back to the device.\nSome devices, like mp3-players, "
            "use a "
            "'hidden' area to store internal settings.\nOverwriting those settings can lead to unpredicted "
            "results, including overwriting firmware or other issues\nIf you are unsure, choose 'yes'.\nDo "
            "you "
            "want to truncate the output file?";
        if (dialogs.ask(yesNo(question, Icon::Question, Button::No, kTruncateId)) == Button::Yes) {
            if (auto t = image->stream().truncate(sel.Size); !t) {
                dialogs.message("Failed to truncate " + file + ", " + t.error().text);
                image->drop(dialogs);
                return {Outcome::Failed, total};
            }
            if (!image->commit(dialogs)) return {Outcome::Failed, total};
            dialogs.message(withDigests("File was truncated to " + num(sel.Size) + " bytes. " +
                                            num(total - sel.Size) + " bytes were dropped",
                                        options, sel.Size, false));
            report.bytes = sel.Size;
        } else if (!image->commit(dialogs)) {
            return {Outcome::Failed, total};
        } else if (options.digests) {
            dialogs.message(withDigests("", options, sel.Size, true));
        }
    } else {
        dialogs.message(dumpIncomplete(total, sel.Size));
        report.outcome = Outcome::Incomplete;
        // An incomplete dump does not replace a complete one; without one, the part stays.
        if (image->replacing())
            image->drop(dialogs);
        else if (!image->commit(dialogs))
            report.outcome = Outcome::Failed;
    }
    return report;
}

Report dumpToStream(platform::Backend& backend, Dialogs& dialogs, JobControl& job, TFileInfo sel,
                    platform::RawStream& out, const std::string& outName, const Options& options) {
    if (sel.FileName.empty()) return {};
    RangeJob range(backend, dialogs, job, RangeJob::Busy::Yes);
    if (!range.checkRange(sel)) return {};
    range.enterBusy();
    auto device = openSource(range, sel, options);
    if (!device) return {Outcome::Failed, 0};
    range.offerStop();
    if (!positionSource(*device, dialogs, sel)) return {Outcome::Failed, 0};
    // A stream cannot be truncated afterwards: exactly the selection's bytes go into it.
    const auto moved = dumpBlocks(*device, out, job, sel, options, false);
    device.reset();
    std::string writeError = moved.writeError ? moved.writeError->text : std::string();
    if (writeError.empty())
        if (auto flushed = out.flush(); !flushed) writeError = flushed.error().text;
    if (!writeError.empty()) {
        dialogs.message("Failed to write to " + outName + ", " + writeError);
        return {Outcome::Failed, moved.written};
    }
    if (moved.written != sel.Size) {
        dialogs.message(dumpIncomplete(moved.written, sel.Size));
        return {Outcome::Incomplete, moved.written};
    }
    dialogs.message(withDigests("Dump successfully completed", options, sel.Size, false));
    return {Outcome::Completed, moved.written};
}

Report restoreFromFile(platform::Backend& backend, Dialogs& dialogs, JobControl& job, TFileInfo sel,
                       const Options& options) {
    dialogs.message(
        "Warning.\nThis is an extremely dangerous tool, able to destroy valuable data with just a few "
        "mouseclicks.\nPlease read the documention carefully before using the import function.");
    if (!gate::ConfirmOverwrite(backend, dialogs, sel)) return {};
    if (sel.FileName.empty()) return {};
    RangeJob range(backend, dialogs, job, RangeJob::Busy::Yes);
    if (!range.checkRange(sel)) return {};
    FileDialog dialog = rawImageDialog(FileDialog::Kind::Open);
    dialog.mustExist = true;
    const auto chosen = dialogs.chooseFile(dialog);
    if (!chosen) return {};
    const std::string file = *chosen;
    range.enterBusy();

    auto image = backend.open(file, platform::OpenMode::Read);
    if (!image) {
        dialogs.message("Failed to open " + file + " for reading");
        return {Outcome::Failed, 0};
    }
    const int64_t length = (*image)->length().valueOr(-1);
    if (length != sel.Size) {
        const Question q{"Error\nFile size does not match target device size.\nFilesize: " + num(length) +
                             " Target size: " + num(sel.Size),
                         Icon::Error,
                         {Button::Ok, Button::Cancel, Button::Ignore},
                         Button::Cancel,
                         kSizeMismatchId};
        if (dialogs.ask(q) != Button::Ignore) return {};
    }
    return restoreImage(backend, range, dialogs, job, sel, **image, file, true, options);
}

namespace {

Report restoreImage(platform::Backend& backend, RangeJob& range, Dialogs& dialogs, JobControl& job,
                    const TFileInfo& sel, platform::RawStream& image, const std::string& file, bool isFile,
                    const Options& options) {
    if (dialogs.ask(yesNo("Are you sure you want to copy " + file + " to device " + sel.Description +
                              " ?\nThis will destroy all data that is currently on the device!",
                          Icon::Question, Button::No, kRestoreSureId)) != Button::Yes)
        return {};
    const Question stopNow{
        "Warning. You are about to overwrite existing data on one of you physical disks.\nAll data that is "
        "currently on that disk or partition gets destroyed, ovewritten, is gone, deleted.\nIf you are not "
        "sure "
        "what to do, stop now.\nIf you are very sure what you are doing, you can press ignore, else choose "
        "'Yes' "
        "to stop now.\nStop now?",
        Icon::Question,
        {Button::Yes, Button::No, Button::Cancel, Button::Ignore},
        Button::Yes,
        kRestoreStopNowId};
    if (dialogs.ask(stopNow) != Button::Ignore) return {};

    const std::string openFailed =
        "Failed to exclusively open drive " + sel.Description +
        " for writing.\nMake sure you close all explorer windows and other applications "
        "accessing this device";
    // Writing an image onto itself would read back what was just written.
    if (isFile && sameObject(backend, sel.FileName, file)) {
        dialogs.message(openFailed);
        return {Outcome::Failed, 0};
    }
    auto device = range.open(sel, platform::OpenMode::Write, openFailed, options.direct);
    if (!device) return {Outcome::Failed, 0};
    if (!range.fitsInside(*device, sel)) return {Outcome::Failed, 0};
    if (sel.Offset != 0) {
        dialogs.message("Seeking position " + num(sel.Offset));
        if (!range.position(
                *device, sel.Offset,
                "Failed to seek on " + sel.Description +
                    " for writing.\nMake sure you close all explorer windows and other applications "
                    "accessing this device"))
            return {Outcome::Failed, 0};
    }
    range.offerStop();

    // A longer image stops at the end of the selection: nothing beyond it is touched.
    blocks::Plan plan;
    plan.size = sel.Size;
    plan.block = kBlock;
    plan.buffer = kTransferBuffer;
    plan.buffers = kTransferBuffers;
    const auto moved = blocks::run(image, *device, plan, callbacksFor(job, BlockReport(job, sel.Size)));

    Report report{Outcome::Incomplete, moved.written};
    bool unconfirmed = false;
    if (moved.writeError) {
        dialogs.message("Failed to write to " + sel.Description + ", " + moved.writeError->text);
        report.outcome = Outcome::Failed;
    } else if (!range.flush(*device, sel.Description)) {
        // Written data must be on the device before success is reported.
        report.outcome = Outcome::Failed;
        unconfirmed = true;
    }
    device.reset();
    if (report.outcome == Outcome::Failed) {
        dialogs.message(unconfirmed
                            ? "Writing image file to device failed: " + sel.Description +
                                  " did not confirm that the data was written."
                            : "Writing image file to device failed, wrote only " + num(moved.written) +
                                  " bytes of " + num(sel.Size) + " bytes total.");
    } else if (moved.written == sel.Size) {
        dialogs.message("Writing image file to device successfully completed");
        report.outcome = Outcome::Completed;
        // A stream is gone once read: only a file can be compared again.
        if (options.verify && isFile) {
            auto source = backend.open(file, platform::OpenMode::Read);
            std::optional<verify::Result> r;
            if (!source)
                dialogs.message("Verification failed: " + file + " could not be opened again for reading.");
            else
                r = readBack(range, **source, 0, sel, sel.Size);
            if (r) dialogs.message(verify::report(*r, sel.Size, sel.Description, sel.Offset));
            if (!matched(r)) report.outcome = Outcome::Failed;
        }
    } else {
        dialogs.message(dumpIncomplete(moved.written, sel.Size));
    }
    return report;
}

} // namespace

Report restoreFromStream(platform::Backend& backend, Dialogs& dialogs, JobControl& job, TFileInfo sel,
                         platform::RawStream& image, const std::string& imageName, const Options& options) {
    dialogs.message(
        "Warning.\nThis is an extremely dangerous tool, able to destroy valuable data with just a few "
        "mouseclicks.\nPlease read the documention carefully before using the import function.");
    if (!gate::ConfirmOverwrite(backend, dialogs, sel)) return {};
    if (sel.FileName.empty()) return {};
    RangeJob range(backend, dialogs, job, RangeJob::Busy::Yes);
    if (!range.checkRange(sel)) return {};
    range.enterBusy();
    // Its length is not known before it ends: what arrives is written, up to the selection's end.
    return restoreImage(backend, range, dialogs, job, sel, image, imageName, false, options);
}

int32_t sameDeviceBlockSize(int64_t physicalMemory) {
    int64_t mib = physicalMemory / (1024 * 1024);
    if (mib > 256) mib = 256;
    const int64_t blockMiB = mib / 8;
    return int32_t(blockMiB < 1 ? 1 : blockMiB) * 1024 * 1024;
}

Report directCopy(platform::Backend& backend, Dialogs& dialogs, JobControl& job, TFileInfo source,
                  TFileInfo target, const Options& options) {
    if (source.Size != target.Size) {
        dialogs.message("Size differs");
        return {};
    }
    RangeJob range(backend, dialogs, job, RangeJob::Busy::No);
    if (!range.checkRange(source) || !range.checkRange(target)) return {};
    const bool sameDevice = source.FileName == target.FileName;
    // Two names for one disk (a drive number and its node, a partition node and its disk, a loop
    // device and its backing file) share its bytes as well: their ranges are compared where they
    // lie on the disk.
    const bool sameDisk = sameDevice || sameObject(backend, source.FileName, target.FileName);
    if (sameDisk) {
        const auto src = onDisk(sameDevice ? 0 : backend.objectOffset(source.FileName), source);
        const auto dst = onDisk(sameDevice ? 0 : backend.objectOffset(target.FileName), target);
        // A range whose place on the disk cannot be counted cannot be shown not to overlap.
        if (!src || !dst || src->overlaps(*dst)) {
            dialogs.message("Source and destination are on same device and do overlap.");
            return {};
        }
    }
    if (!gate::ConfirmOverwrite(backend, dialogs, target)) return {};

    int64_t blockSize = kTwoDeviceBlockSize;
    std::unique_ptr<platform::RawStream> in, outOwned;
    if (sameDevice) {
        blockSize = sameDeviceBlockSize(backend.totalPhysicalMemory());
        in = range.open(source, platform::OpenMode::ReadWrite,
                        "Failed to open " + source.Description + " for reading and writing", options.direct);
        // One handle serves both sides, so it must be what both were when they were chosen.
        if (!in || !range.sameAsSelected(*in, target)) return {Outcome::Failed, 0};
    } else {
        in = range.open(source, platform::OpenMode::Read,
                        "Failed to open " + source.Description + " for reading", options.direct);
        if (!in) return {Outcome::Failed, 0};
        outOwned = range.open(target, platform::OpenMode::Write,
                              "Failed to open " + target.Description + " for writing", options.direct);
        if (!outOwned) return {Outcome::Failed, 0};
    }
    platform::RawStream& out = sameDevice ? *in : *outOwned;
    if (!range.fitsInside(out, target)) return {Outcome::Failed, 0};

    const auto targetPos = out.seek(target.Offset, platform::SeekOrigin::Begin);
    const auto sourcePos = in->seek(source.Offset, platform::SeekOrigin::Begin);
    if (!sourcePos || *sourcePos != source.Offset ||
        (!sameDevice && (!targetPos || *targetPos != target.Offset))) {
        dialogs.message("Seek operation failed");
        return {Outcome::Failed, 0};
    }
    range.offerStop();

    // Whole blocks, each read in 64 KiB pieces with a pump after every piece; a block that comes
    // back short is not written.
    blocks::Plan plan;
    plan.size = source.Size;
    plan.block = blockSize;
    plan.buffer = blockSize;
    plan.shortBlockEnds = true;
    // Within one device the single handle moves between the two sides, so nothing is read ahead.
    plan.buffers = sameDevice ? 1 : 3;
    Window sourceSide(*in, source.Offset), targetSide(out, target.Offset);
    const auto moved =
        blocks::run(sameDevice ? sourceSide : *in, sameDevice ? targetSide : out, plan,
                    callbacksFor(job, [&](int64_t total) {
                        const int64_t block = total - (total - 1) / blockSize * blockSize;
                        for (int64_t piece = 0; piece < block; piece += kCopyPieceSize)
                            job.pump();
                        job.progress({total, source.Size, jobs::percentOf(total, source.Size), ""});
                        job.pump();
                        return !job.stopRequested();
                    }));
    bool failed = false;
    if (moved.shortRead) {
        dialogs.message("Read unexcepted amount of bytes");
        failed = true;
    } else if (moved.writeError) {
        dialogs.message("Could not write complete buffer");
        failed = true;
    }
    // The target must hold the bytes before the copy reports its end.
    const bool unconfirmed = !range.flush(out, target.Description);
    failed = failed || unconfirmed;
    in.reset();
    outOwned.reset();
    // Read back while Stop is still offered; reported after the copy's own message.
    std::optional<verify::Result> verified;
    const bool verifying = options.verify && !failed && moved.written == source.Size;
    if (verifying) {
        if (auto from = range.open(
                source, platform::OpenMode::Read,
                "Verification failed: " + source.Description + " could not be opened again.", options.direct))
            verified = readBack(range, *from, source.Offset, target, source.Size);
    }
    range.withdrawStop();
    // Only a copy of every byte is reported as completed.
    if (unconfirmed && moved.written == source.Size)
        dialogs.message("Copying failed: " + target.Description +
                        " did not confirm that the data was written.");
    else if (failed || moved.written != source.Size)
        dialogs.message("Copying incomplete, copied only " + num(moved.written) + " bytes of " +
                        num(source.Size) + " bytes total.");
    else
        dialogs.message("Copying completed");
    if (verified) dialogs.message(verify::report(*verified, source.Size, target.Description, target.Offset));
    if (verifying && !matched(verified)) failed = true;
    return {failed                         ? Outcome::Failed
            : moved.written == source.Size ? Outcome::Completed
                                           : Outcome::Incomplete,
            moved.written};
}

} // namespace transfer
