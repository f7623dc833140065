#include "transfer/transfer.h"

#include "app/selection.h"
#include "platform/platform.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

namespace transfer {
namespace {

constexpr int64_t kBlock = 8192;

std::string num(int64_t v) { return std::to_string(v); }

const char* const kInvalidRange = "The selection's offset and size must not be negative.";

// Refuses a range that is negative or whose end lies beyond the largest 64-bit position, before
// anything counts with it.
bool rangeValid(ActionUi& ui, const TFileInfo& sel) {
    if (sel.Offset < 0 || sel.Size < 0) {
        ui.error(kInvalidRange);
        return false;
    }
    if (!platform::ByteRange::make(sel.Offset, sel.Size)) {
        ui.error("The selection's range is too large: offset " + num(sel.Offset) + " plus size " + num(sel.Size) +
                 " lies beyond the last byte any device can have.");
        return false;
    }
    return true;
}

// Where a selection's bytes lie on the object that holds them, or nothing when that position
// does not fit in 64 bits.
std::optional<platform::ByteRange> onDisk(int64_t base, const TFileInfo& sel) {
    int64_t offset = 0;
    if (base < 0 || __builtin_add_overflow(base, sel.Offset, &offset)) return std::nullopt;
    return platform::ByteRange::make(offset, sel.Size);
}

// A write must not run past the end of what is written: a file would grow, a device would take
// part of the data and refuse the rest. Refused before anything is written.
bool fitsInside(ActionUi& ui, platform::RawStream& stream, const TFileInfo& sel) {
    const auto length = stream.length();
    if (!length || sel.Offset + sel.Size <= *length) return true;
    ui.message("The selection ends at byte " + num(sel.Offset + sel.Size) + ", beyond the end of " +
               sel.Description + ", which has " + num(*length) + " bytes. Nothing was written.");
    return false;
}

std::string keptMessage(const std::string& file) {
    return "The earlier " + file + " was kept as it was.";
}

// The image file a dump writes. An existing file is replaced only by a finished dump: the new
// bytes go to a file beside it, which takes its name at the end, so a dump that fails or stops
// leaves the earlier image as it was.
class ImageFile {
public:
    static std::unique_ptr<ImageFile> create(platform::Backend& backend, const std::string& file) {
        auto image = std::unique_ptr<ImageFile>(new ImageFile(file));
        std::error_code ec;
        if (std::filesystem::is_regular_file(file, ec)) {
            // Held until the end: the earlier image is ours to replace (not locked by another
            // program, not the backing file of a device in use).
            auto old = backend.open(file, platform::OpenMode::Write);
            if (!old) return nullptr;
            image->old_ = std::move(*old);
            image->path_ = file + ".partial";
        }
        auto stream = backend.open(image->path_, platform::OpenMode::Create);
        if (!stream) return nullptr;
        image->stream_ = std::move(*stream);
        return image;
    }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;
    // Left without a decision (an error thrown): an earlier image stays, as after a failure.
    ~ImageFile() {
        if (old_) discard();
    }

    platform::RawStream& stream() { return *stream_; }
    bool replacing() const { return old_ != nullptr; }

    // The dump is done: the new image takes the file's name.
    bool commit(ActionUi& ui) {
        stream_.reset();
        if (!old_) return true;
        old_.reset();
        std::error_code ec;
        std::filesystem::rename(path_, file_, ec);
        if (ec) {
            ui.message("Failed to replace " + file_ + " with the new image, " + ec.message() + ". The new image is " +
                       path_ + ".");
            return false;
        }
        return true;
    }
    // The new bytes go; an earlier image stays as it was.
    void discard() {
        stream_.reset();
        old_.reset();
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }

private:
    explicit ImageFile(std::string file) : file_(file), path_(std::move(file)) {}
    std::string file_;
    std::string path_;
    std::unique_ptr<platform::RawStream> stream_;
    std::unique_ptr<platform::RawStream> old_;
};

Question yesNo(const std::string& text, Icon icon, Button safe, const char* id) {
    return Question{text, icon, {Button::Yes, Button::No}, safe, id};
}

// Reads up to count bytes; a read error counts as the end of the data, as it does for the loop.
int64_t readSome(platform::RawStream& s, void* buf, int64_t count) {
    auto n = s.read(buf, count);
    return n ? *n : 0;
}

// Writes all of count bytes or says why not. The error text is the system's own.
bool writeAll(platform::RawStream& s, const void* buf, int64_t count, int64_t& written, std::string& error) {
    auto n = s.write(buf, count);
    if (!n) {
        error = n.error().text;
        return false;
    }
    written += *n;
    if (*n != count) {
        error = platform::errnoError(ENOSPC).text;
        return false;
    }
    return true;
}

// The folder part of a path, up to and including its last separator; "." for a bare name.
std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// True when two names lead to the same file or device, so one would be overwritten by the other.
bool sameObject(platform::Backend& backend, const std::string& a, const std::string& b) {
    const std::string ia = backend.objectIdentity(a);
    return !ia.empty() && ia == backend.objectIdentity(b);
}

// The 8 KiB block loop of the dump and the restore, with progress, a pump and the stop check
// after every block.
struct BlockCopy {
    int64_t total = 0;   // bytes read and handed on
    int64_t written = 0; // bytes the destination took
    std::string writeError;
};

enum class Limit {
    // Whole blocks until the total reaches the size: the last one may run past it.
    WholeBlocks,
    // Never beyond the size.
    ExactSize,
};

BlockCopy copyBlocks(platform::RawStream& in, platform::RawStream& out, ActionUi& ui, int64_t size, Limit limit) {
    std::vector<char> buffer(kBlock);
    BlockCopy c;
    for (;;) {
        const int64_t want = limit == Limit::ExactSize ? std::min<int64_t>(kBlock, size - c.total) : kBlock;
        if (want <= 0) break;
        const int64_t n = readSome(in, buffer.data(), want);
        // The size test comes after the read, so a block read once the total is reached is dropped.
        if (n <= 0 || c.total >= size) break;
        c.total += n;
        if (!writeAll(out, buffer.data(), n, c.written, c.writeError)) break;
        ui.progress({c.total, size, percentOf(c.total, size), percentDoneText(c.total, size, ui.decimalSeparator())});
        ui.pump();
        if (ui.stopRequested()) break;
    }
    return c;
}

FileDialog rawImageDialog(FileDialog::Kind kind) {
    FileDialog dialog;
    dialog.kind = kind;
    dialog.filter = kRawFilter;
    dialog.defaultExt = ".raw";
    return dialog;
}

// Leaves busy mode on every way out of an action that entered it.
class BusyScope {
public:
    explicit BusyScope(ActionUi& ui) : ui_(ui) {}
    ~BusyScope() {
        ui_.stoppable(false);
        ui_.busy(false);
    }
    void enter() { ui_.busy(true); }

private:
    ActionUi& ui_;
};

} // namespace

int percentOf(int64_t bytes, int64_t size) {
    if (size <= 0) return 100;
    const double p = std::nearbyint(double(bytes) * 100.0 / double(size));
    return p < 0 ? 0 : p > 100 ? 100 : int(p);
}

std::string percentDoneText(int64_t bytes, int64_t size, char decimalSeparator) {
    const double p = size > 0 ? double(bytes) / double(size) * 100.0 : 100.0;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f%% done", p);
    std::string text = buf;
    if (const auto dot = text.find('.'); dot != std::string::npos) text[dot] = decimalSeparator;
    return text;
}

Result dumpToFile(platform::Backend& backend, ActionUi& ui, TFileInfo sel) {
    if (sel.FileName.empty()) return {};
    if (!rangeValid(ui, sel)) return {};
    BusyScope busy(ui);
    FileDialog dialog = rawImageDialog(FileDialog::Kind::Save);
    dialog.initialName = (sel.DefaultName.empty() ? std::string("rawdump") : sel.DefaultName) + ".raw";
    dialog.overwritePrompt = true;
    const auto chosen = ui.chooseFile(dialog);
    if (!chosen) return {};
    const std::string file = *chosen;

    const auto space = backend.freeSpace(folderOf(file));
    if ((space ? space->availableToCaller : 0) < sel.Size) {
        ui.message("Target drive does not have enough free space");
        return {};
    }
    busy.enter();

    auto device = selection::openSelection(backend, sel, platform::OpenMode::Read);
    if (device.changed) {
        ui.message(selection::changedDeviceMessage(sel));
        return {Outcome::Failed, 0};
    }
    if (!device.stream) {
        ui.message("Failed to exclusively open drive.\nMake sure you close all explorer windows and other "
                   "applications accessing this device");
        return {Outcome::Failed, 0};
    }
    // Replacing the source with its own dump would destroy it before it is read.
    if (sameObject(backend, sel.FileName, file)) {
        ui.message("Failed to open " + file + " for writing");
        return {Outcome::Failed, 0};
    }
    auto image = ImageFile::create(backend, file);
    if (!image) {
        ui.message("Failed to open " + file + " for writing");
        return {Outcome::Failed, 0};
    }
    ui.stoppable(true);

    if (sel.Offset != 0) {
        auto pos = device.stream->seek(sel.Offset, platform::SeekOrigin::Begin);
        if (!pos || *pos != sel.Offset) {
            image->discard(); // nothing of the selection is in it
            ui.message("Failed to seek on " + sel.Description);
            return {Outcome::Failed, 0};
        }
        ui.message(num(*pos));
    }

    auto [total, written, writeError] = copyBlocks(*device.stream, image->stream(), ui, sel.Size, Limit::WholeBlocks);
    device.stream.reset();

    // The last whole block runs past the selection; when only that overrun did not fit (a full
    // disk), every selected byte is in the file and the dump goes on as one that ran past.
    if (!writeError.empty() && written >= sel.Size) {
        writeError.clear();
        total = written;
    }
    if (writeError.empty()) {
        // A backup is reported complete only once it is on the disk.
        if (auto flushed = image->stream().flush(); !flushed) writeError = flushed.error().text;
    }
    if (!writeError.empty()) {
        ui.message("Failed to write to " + file + ", " + writeError);
        ui.message("Dump incomplete, wrote only " + num(written) + " bytes of " + num(sel.Size) +
                   " bytes total. It is unlikely you can import this backup again.");
        if (image->replacing()) {
            image->discard();
            ui.message(keptMessage(file));
        }
        return {Outcome::Failed, written};
    }

    Result result{Outcome::Completed, total};
    if (total == sel.Size) {
        if (!image->commit(ui)) return {Outcome::Failed, total};
        ui.message("Dump successfully completed");
    } else if (total > sel.Size) {
        const std::string question =
            "Dump complete, but was able to dump more bytes from the device than reported.\n" + num(total) +
            " bytes were dumped, " + num(sel.Size) +
            " bytes were reported as available\nYou can choose to truncate the output file\nTruncating is highly "
            "suggested if you want to write the image back to the device.\nSome devices, like mp3-players, use a "
            "'hidden' area to store internal settings.\nOverwriting those settings can lead to unpredicted "
            "results, including overwriting firmware or other issues\nIf you are unsure, choose 'yes'.\nDo you "
            "want to truncate the output file?";
        if (ui.ask(yesNo(question, Icon::Question, Button::No, kTruncateId)) == Button::Yes) {
            if (auto t = image->stream().truncate(sel.Size); !t) {
                ui.message("Failed to truncate " + file + ", " + t.error().text);
                if (image->replacing()) {
                    image->discard();
                    ui.message(keptMessage(file));
                }
                return {Outcome::Failed, total};
            }
            if (!image->commit(ui)) return {Outcome::Failed, total};
            ui.message("File was truncated to " + num(sel.Size) + " bytes. " + num(total - sel.Size) +
                       " bytes were dropped");
            result.bytes = sel.Size;
        } else if (!image->commit(ui)) {
            return {Outcome::Failed, total};
        }
    } else {
        ui.message("Dump incomplete, wrote only " + num(total) + " bytes of " + num(sel.Size) +
                   " bytes total. It is unlikely you can import this backup again.");
        result.outcome = Outcome::Incomplete;
        // An incomplete dump does not replace a complete one; without one, the part stays.
        if (image->replacing()) {
            image->discard();
            ui.message(keptMessage(file));
        } else if (!image->commit(ui)) {
            result.outcome = Outcome::Failed;
        }
    }
    return result;
}

Result restoreFromFile(platform::Backend& backend, ActionUi& ui, TFileInfo sel) {
    ui.message("Warning.\nThis is an extremely dangerous tool, able to destroy valuable data with just a few "
               "mouseclicks.\nPlease read the documention carefully before using the import function.");
    if (!ui.confirmOverwrite(sel)) return {};
    if (sel.FileName.empty()) return {};
    if (!rangeValid(ui, sel)) return {};
    BusyScope busy(ui);
    FileDialog dialog = rawImageDialog(FileDialog::Kind::Open);
    dialog.mustExist = true;
    const auto chosen = ui.chooseFile(dialog);
    if (!chosen) return {};
    const std::string file = *chosen;
    busy.enter();

    auto image = backend.open(file, platform::OpenMode::Read);
    if (!image) {
        ui.message("Failed to open " + file + " for reading");
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
        if (ui.ask(q) != Button::Ignore) return {};
    }
    if (ui.ask(yesNo("Are you sure you want to copy " + file + " to device " + sel.Description +
                         " ?\nThis will destroy all data that is currently on the device!",
                     Icon::Question, Button::No, kRestoreSureId)) != Button::Yes)
        return {};
    const Question stopNow{
        "Warning. You are about to overwrite existing data on one of you physical disks.\nAll data that is "
        "currently on that disk or partition gets destroyed, ovewritten, is gone, deleted.\nIf you are not sure "
        "what to do, stop now.\nIf you are very sure what you are doing, you can press ignore, else choose 'Yes' "
        "to stop now.\nStop now?",
        Icon::Question,
        {Button::Yes, Button::No, Button::Cancel, Button::Ignore},
        Button::Yes,
        kRestoreStopNowId};
    if (ui.ask(stopNow) != Button::Ignore) return {};

    const std::string openFailed = "Failed to exclusively open drive " + sel.Description +
                                   " for writing.\nMake sure you close all explorer windows and other applications "
                                   "accessing this device";
    // Writing an image onto itself would read back what was just written.
    if (sameObject(backend, sel.FileName, file)) {
        ui.message(openFailed);
        return {Outcome::Failed, 0};
    }
    auto device = selection::openSelection(backend, sel, platform::OpenMode::Write);
    if (device.changed) {
        ui.message(selection::changedDeviceMessage(sel));
        return {Outcome::Failed, 0};
    }
    if (!device.stream) {
        ui.message(openFailed);
        return {Outcome::Failed, 0};
    }
    if (!fitsInside(ui, *device.stream, sel)) return {Outcome::Failed, 0};
    if (sel.Offset != 0) {
        ui.message("Seeking position " + num(sel.Offset));
        auto pos = device.stream->seek(sel.Offset, platform::SeekOrigin::Begin);
        if (!pos || *pos != sel.Offset) {
            ui.message("Failed to seek on " + sel.Description +
                       " for writing.\nMake sure you close all explorer windows and other applications accessing "
                       "this device");
            return {Outcome::Failed, 0};
        }
    }
    ui.stoppable(true);

    // A longer image stops at the end of the selection: nothing beyond it is touched.
    auto [read, total, writeError] = copyBlocks(**image, *device.stream, ui, sel.Size, Limit::ExactSize);
    (void)read;
    image = platform::Error{};

    Result result{Outcome::Incomplete, total};
    bool unconfirmed = false;
    if (!writeError.empty()) {
        ui.message("Failed to write to " + sel.Description + ", " + writeError);
        result.outcome = Outcome::Failed;
    } else if (auto flushed = device.stream->flush(); !flushed) {
        // Written data must be on the device before success is reported.
        ui.message("Failed to write to " + sel.Description + ", " + flushed.error().text);
        result.outcome = Outcome::Failed;
        unconfirmed = true;
    }
    device.stream.reset();
    if (result.outcome == Outcome::Failed) {
        ui.message(unconfirmed ? "Writing image file to device failed: " + sel.Description +
                                     " did not confirm that the data was written."
                               : "Writing image file to device failed, wrote only " + num(total) + " bytes of " +
                                     num(sel.Size) + " bytes total.");
    } else if (total == sel.Size) {
        ui.message("Writing image file to device successfully completed");
        result.outcome = Outcome::Completed;
    } else {
        ui.message("Dump incomplete, wrote only " + num(total) + " bytes of " + num(sel.Size) +
                   " bytes total. It is unlikely you can import this backup again.");
    }
    return result;
}

int32_t sameDeviceBlockSize(int64_t physicalMemory) {
    int64_t mib = physicalMemory / (1024 * 1024);
    if (mib > 256) mib = 256;
    const int64_t blockMiB = mib / 8;
    return int32_t(blockMiB < 1 ? 1 : blockMiB) * 1024 * 1024;
}

Result directCopy(platform::Backend& backend, ActionUi& ui, TFileInfo source, TFileInfo target) {
    if (source.Size != target.Size) {
        ui.message("Size differs");
        return {};
    }
    if (!rangeValid(ui, source) || !rangeValid(ui, target)) return {};
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
            ui.message("Source and destination are on same device and do overlap.");
            return {};
        }
    }
    if (!ui.confirmOverwrite(target)) return {};

    int64_t blockSize = kTwoDeviceBlockSize;
    std::unique_ptr<platform::RawStream> in, outOwned;
    if (sameDevice) {
        blockSize = sameDeviceBlockSize(backend.totalPhysicalMemory());
        auto s = selection::openSelection(backend, source, platform::OpenMode::ReadWrite);
        // One handle serves both sides, so it must be what both were when they were chosen.
        if (s.changed || (s.stream && !target.Identity.empty() && s.stream->fingerprint() != target.Identity)) {
            ui.message(selection::changedDeviceMessage(s.changed ? source : target));
            return {Outcome::Failed, 0};
        }
        if (!s.stream) {
            ui.message("Failed to open " + source.Description + " for reading and writing");
            return {Outcome::Failed, 0};
        }
        in = std::move(s.stream);
    } else {
        auto s = selection::openSelection(backend, source, platform::OpenMode::Read);
        if (s.changed) {
            ui.message(selection::changedDeviceMessage(source));
            return {Outcome::Failed, 0};
        }
        if (!s.stream) {
            ui.message("Failed to open " + source.Description + " for reading");
            return {Outcome::Failed, 0};
        }
        in = std::move(s.stream);
        auto t = selection::openSelection(backend, target, platform::OpenMode::Write);
        if (t.changed) {
            in.reset();
            ui.message(selection::changedDeviceMessage(target));
            return {Outcome::Failed, 0};
        }
        if (!t.stream) {
            in.reset();
            ui.message("Failed to open " + target.Description + " for writing");
            return {Outcome::Failed, 0};
        }
        outOwned = std::move(t.stream);
    }
    platform::RawStream& out = sameDevice ? *in : *outOwned;
    if (!fitsInside(ui, out, target)) return {Outcome::Failed, 0};

    const auto targetPos = out.seek(target.Offset, platform::SeekOrigin::Begin);
    const auto sourcePos = in->seek(source.Offset, platform::SeekOrigin::Begin);
    if (!sourcePos || *sourcePos != source.Offset || (!sameDevice && (!targetPos || *targetPos != target.Offset))) {
        ui.message("Seek operation failed");
        return {Outcome::Failed, 0};
    }
    ui.stoppable(true);

    std::vector<char> buffer(size_t(std::min<int64_t>(blockSize, std::max<int64_t>(source.Size, 1))));
    int64_t done = 0;
    bool failed = false;
    while (done < source.Size) {
        const int64_t block = std::min<int64_t>(blockSize, source.Size - done);
        if (sameDevice && !in->seek(source.Offset + done, platform::SeekOrigin::Begin)) {
            ui.message("Seek operation failed");
            failed = true;
            break;
        }
        int64_t sum = 0;
        while (sum < block) {
            const int64_t piece = std::min<int64_t>(kCopyPieceSize, block - sum);
            const int64_t n = readSome(*in, buffer.data() + sum, piece);
            sum += n;
            ui.pump();
            if (n != piece) break;
        }
        if (sum != block) {
            ui.message("Read unexcepted amount of bytes");
            failed = true;
            break;
        }
        if (sameDevice && !in->seek(target.Offset + done, platform::SeekOrigin::Begin)) {
            ui.message("Seek operation failed");
            failed = true;
            break;
        }
        auto w = out.write(buffer.data(), block);
        if (!w || *w != block) {
            ui.message("Could not write complete buffer");
            failed = true;
            break;
        }
        done += sum;
        ui.progress({done, source.Size, percentOf(done, source.Size), ""});
        ui.pump();
        if (ui.stopRequested()) break;
    }
    // The target must hold the bytes before the copy reports its end.
    bool unconfirmed = false;
    if (auto flushed = out.flush(); !flushed) {
        ui.message("Failed to write to " + target.Description + ", " + flushed.error().text);
        failed = unconfirmed = true;
    }
    in.reset();
    outOwned.reset();
    ui.stoppable(false);
    // Only a copy of every byte is reported as completed.
    if (unconfirmed && done == source.Size)
        ui.message("Copying failed: " + target.Description + " did not confirm that the data was written.");
    else if (failed || done != source.Size)
        ui.message("Copying incomplete, copied only " + num(done) + " bytes of " + num(source.Size) +
                   " bytes total.");
    else
        ui.message("Copying completed");
    Result result{failed ? Outcome::Failed : done == source.Size ? Outcome::Completed : Outcome::Incomplete, done};
    return result;
}

} // namespace transfer
