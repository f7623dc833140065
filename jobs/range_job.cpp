#include "jobs/range_job.h"

#include "core/selection.h"
#include "jobs/aligned_stream.h"

#include <cmath>
#include <cstdio>

namespace jobs {

namespace {

// The job of an action that is no job: nothing runs long enough to show progress or stop.
class NoJob final : public JobControl {
public:
    void progress(const Progress&) override {}
    void pump() override {}
    bool stopRequested() override { return false; }
    Clock& clock() override { return clock_; }

private:
    SystemClock clock_;
};

JobControl& noJob() {
    static NoJob job;
    return job;
}

} // namespace

RangeJob::RangeJob(platform::Backend& backend, Dialogs& dialogs, JobControl& job, Busy busy)
    : backend_(backend), dialogs_(dialogs), job_(job), holdsBusy_(busy == Busy::Yes) {}

RangeJob::RangeJob(platform::Backend& backend, Dialogs& dialogs)
    : RangeJob(backend, dialogs, noJob(), Busy::No) {}

RangeJob::~RangeJob() {
    if (holdsBusy_ || stopOffered_) job_.stoppable(false);
    if (holdsBusy_) job_.busy(false);
}

bool RangeJob::checkRange(const TFileInfo& sel) {
    if (sel.Offset < 0 || sel.Size < 0) {
        dialogs_.error("The selection's offset and size must not be negative.");
        return false;
    }
    if (!sel.range()) {
        dialogs_.error("The selection's range is too large: offset " + std::to_string(sel.Offset) +
                       " plus size " + std::to_string(sel.Size) +
                       " lies beyond the last byte any device can have.");
        return false;
    }
    return true;
}

void RangeJob::enterBusy() {
    if (holdsBusy_) job_.busy(true);
}

void RangeJob::offerStop() {
    stopOffered_ = true;
    job_.stoppable(true);
}

void RangeJob::withdrawStop() {
    if (!stopOffered_) return;
    stopOffered_ = false;
    job_.stoppable(false);
}

std::unique_ptr<platform::RawStream> RangeJob::open(const TFileInfo& sel, platform::OpenMode mode,
                                                    const std::string& failure, bool direct) {
    return open(
        sel, mode, [&](const platform::Error&) { dialogs_.message(failure); }, direct);
}

std::unique_ptr<platform::RawStream> RangeJob::open(const TFileInfo& sel, platform::OpenMode mode,
                                                    const std::function<void(const platform::Error&)>& failed,
                                                    bool direct) {
    auto opened = selection::openSelection(backend_, sel, mode, direct);
    if (opened.changed) {
        dialogs_.message(selection::changedDeviceMessage(sel));
        return nullptr;
    }
    if (!opened.stream) {
        failed(opened.error);
        return nullptr;
    }
    if (const int64_t sector = opened.stream->alignment(); sector > 1)
        return std::make_unique<AlignedStream>(std::move(opened.stream), sector);
    return std::move(opened.stream);
}

bool RangeJob::sameAsSelected(platform::RawStream& stream, const TFileInfo& sel) {
    if (sel.Identity.empty() || stream.fingerprint() == sel.Identity) return true;
    dialogs_.message(selection::changedDeviceMessage(sel));
    return false;
}

bool RangeJob::fitsInside(platform::RawStream& stream, const TFileInfo& sel) {
    const auto length = stream.length();
    if (!length || sel.Offset + sel.Size <= *length) return true;
    dialogs_.message("The selection ends at byte " + std::to_string(sel.Offset + sel.Size) +
                     ", beyond the end of " + sel.Description + ", which has " + std::to_string(*length) +
                     " bytes. Nothing was written.");
    return false;
}

bool RangeJob::position(platform::RawStream& stream, int64_t offset, const std::string& failure) {
    return position(stream, offset, [&](const platform::Error*) { dialogs_.message(failure); });
}

bool RangeJob::position(platform::RawStream& stream, int64_t offset,
                        const std::function<void(const platform::Error*)>& failed) {
    const auto pos = stream.seek(offset, platform::SeekOrigin::Begin);
    if (pos && *pos == offset && stream.position().valueOr(-1) == offset) return true;
    failed(pos ? nullptr : &pos.error());
    return false;
}

bool RangeJob::flush(platform::RawStream& stream, const std::string& name) {
    const auto flushed = stream.flush();
    if (flushed) return true;
    dialogs_.message("Failed to write to " + name + ", " + flushed.error().text);
    return false;
}

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

} // namespace jobs
