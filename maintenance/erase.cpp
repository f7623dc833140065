#include "maintenance/erase.h"

#include "core/random.h"
#include "jobs/block_engine.h"
#include "jobs/gate.h"
#include "jobs/range_job.h"
#include "jobs/stream_adapter.h"
#include "platform/platform.h"

#include <cerrno>
#include <cstring>

namespace wipe {
namespace {

// What the erase writes, as a stream the block engine reads: the fill value, or random data that
// never repeats a block.
class FillSource final : public jobs::StreamAdapter {
public:
    FillSource(Fill fill, uint64_t seed) : fill_(fill), random_(seed) {}

    platform::Result<int64_t> read(void* buffer, int64_t count) override {
        if (fill_.random)
            random_.fill(static_cast<char*>(buffer), count);
        else
            std::memset(buffer, fill_.value, size_t(count));
        position_ += count;
        return count;
    }
    platform::Result<int64_t> seek(int64_t offset, platform::SeekOrigin origin) override {
        if (origin != platform::SeekOrigin::Begin) return platform::errnoError(EINVAL);
        position_ = offset;
        return offset;
    }
    platform::Result<int64_t> position() override { return position_; }

private:
    Fill fill_;
    prng::RandomFill random_;
    int64_t position_ = 0;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace

const std::vector<std::string>& methodCaptions() {
    static const std::vector<std::string> captions{
        "Zero (0x00)",      "Ones (0xFF)", "ones odd, zeros even (0xAA)", "ones even, zeros odd (0x55)",
        "Custom character", "Random data"};
    return captions;
}

std::optional<std::string> charTextFor(int method) {
    switch (method) {
    case Zero:
        return "00";
    case Ones:
        return "FF";
    case OddOnes:
        return "AA";
    case EvenOnes:
        return "55";
    case Random:
        return "";
    default:
        return std::nullopt;
    }
}

bool charEditable(int method) {
    return method == Custom;
}

bool charKeyAllowed(char32_t key) {
    return key == 8 || key == 13 || (key >= '0' && key <= '9') || (key >= 'A' && key <= 'F') ||
           (key >= 'a' && key <= 'f');
}

std::string cutCharText(const std::string& text) {
    size_t at = 0;
    for (int characters = 0; at < text.size() && characters < 2; ++characters) {
        ++at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
            ++at;
    }
    return text.substr(0, at);
}

uint8_t charValue(const std::string& text) {
    if (text.empty() || text.size() > 2) return 0;
    int value = 0;
    for (const char c : text) {
        const int d = hexDigit(c);
        if (d < 0) return 0;
        value = value * 16 + d;
    }
    return uint8_t(value);
}

Fill fillFor(int method, const std::string& charText) {
    if (method == Random) return {true, 0};
    return {false, charValue(charText)};
}

std::string erasedMessage(const std::string& description) {
    return "Device " + description + " erased.";
}

Report eraseSelection(platform::Backend& backend, Dialogs& dialogs, JobControl& job, TFileInfo sel, Fill fill,
                      const Options& options) {
    jobs::RangeJob range(backend, dialogs, job, jobs::RangeJob::Busy::Yes);
    if (!range.checkRange(sel)) return {};
    if (!gate::ConfirmOverwrite(backend, dialogs, sel)) return {};
    range.enterBusy();

    auto device = range.open(
        sel, platform::OpenMode::Write,
        [&](const platform::Error& e) {
            dialogs.error("Cannot open file \"" + sel.FileName + "\". " + e.text);
        },
        options.direct);
    if (!device) return {Outcome::Failed, 0};
    if (!range.fitsInside(*device, sel)) return {Outcome::Failed, 0};
    if (!range.position(*device, sel.Offset, "Error. Could not seek on device. Stopping action"))
        return {Outcome::Failed, 0};
    range.offerStop();
    job.progress(Progress(0, sel.Size, jobs::percentOf(0, sel.Size), ""));

    // Seeded at every erase: two erases of one range write different data.
    FillSource source(fill, prng::seedFrom(job.clock().nowMs()));
    blocks::Plan plan;
    plan.size = sel.Size;
    plan.block = kBlock;
    plan.buffer = options.buffer;
    plan.buffers = options.buffers > 0 ? options.buffers : fill.random ? 2 : 1;
    blocks::Callbacks callbacks;
    callbacks.afterBlock = [&](int64_t done) {
        job.progress(Progress(done, sel.Size, jobs::percentOf(done, sel.Size), ""));
        job.pump();
        return !job.stopRequested();
    };
    callbacks.waiting = [&] {
        job.pump();
        return true; // a block in progress is finished before Stop is looked at
    };
    const auto out = blocks::run(source, *device, plan, callbacks);

    if (out.writeError) {
        // What was written goes to the medium all the same, so the person knows where it ends.
        const auto flushed = device->flush();
        device.reset();
        dialogs.error("Failed to write to " + sel.Description + ", " + out.writeError->text +
                      "\nErased only " + std::to_string(out.written) + " bytes of " +
                      std::to_string(sel.Size) + " bytes" +
                      (flushed ? "." : ", and the device did not confirm those."));
        return {Outcome::Failed, out.written};
    }
    if (!range.flush(*device, sel.Description)) return {Outcome::Failed, out.written};
    device.reset();
    range.withdrawStop();
    dialogs.message(erasedMessage(sel.Description));
    return {out.stopped ? Outcome::Incomplete : Outcome::Completed, out.written};
}

} // namespace wipe
