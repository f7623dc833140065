#pragma once
// The frame every long action over a selection's range shares: it checks the range, holds busy
// mode for as long as the action runs, opens the selection's streams (refusing a device that
// changed since it was selected) and positions them with the action's own messages, offers Stop,
// and flushes written data before success is reported. Plain C++, no Qt.

#include "core/fileinfo.h"
#include "core/job.h"
#include "platform/platform.h"

#include <functional>
#include <memory>
#include <string>

namespace jobs {

class RangeJob {
public:
    // busy: the front end's buttons are locked for the job's whole life, and given back (with
    // Stop withdrawn) on every way out, even when nothing was done.
    enum class Busy { No, Yes };
    RangeJob(platform::Backend& backend, Dialogs& dialogs, JobControl& job, Busy busy);
    // For an action that only opens and positions a selection: no busy mode, no Stop.
    RangeJob(platform::Backend& backend, Dialogs& dialogs);
    ~RangeJob();
    RangeJob(const RangeJob&) = delete;
    RangeJob& operator=(const RangeJob&) = delete;

    platform::Backend& backend() { return backend_; }
    Dialogs& dialogs() { return dialogs_; }
    JobControl& job() { return job_; }

    // A range with a negative offset or size, or whose end lies beyond the largest 64-bit
    // position, is refused in the error box before anything counts with it.
    [[nodiscard]] bool checkRange(const TFileInfo& selection);

    // The buttons are locked from here on (with Busy::Yes).
    void enterBusy();
    // Stop is offered from here on; withdrawn again by withdrawStop() or at the end.
    void offerStop();
    void withdrawStop();

    // Opens what the selection names. When it cannot be opened, `failure` is shown; when the name
    // now leads to another device than the one selected, a message says so. Null in both cases.
    // With `direct`, a block device is read and written past the system's cache. A device that
    // takes only whole sectors comes back as a plain byte stream all the same (AlignedStream).
    [[nodiscard]] std::unique_ptr<platform::RawStream> open(const TFileInfo& selection,
                                                            platform::OpenMode mode,
                                                            const std::string& failure, bool direct = false);
    // The same, for an action whose failure text quotes the system's error: `failed` tells it.
    [[nodiscard]] std::unique_ptr<platform::RawStream>
    open(const TFileInfo& selection, platform::OpenMode mode,
         const std::function<void(const platform::Error&)>& failed, bool direct = false);
    // True when the open stream is what `selection` was when it was selected.
    [[nodiscard]] bool sameAsSelected(platform::RawStream& stream, const TFileInfo& selection);

    // A write must not run past the end of what is written: a file would grow, a device would
    // take part of the data and refuse the rest. Refused, with a message, before anything is
    // written. A stream whose length is unknown passes.
    [[nodiscard]] bool fitsInside(platform::RawStream& stream, const TFileInfo& selection);

    // Positions the stream at `offset`; shows `failure` unless the stream says it got there, and
    // is there when asked again.
    [[nodiscard]] bool position(platform::RawStream& stream, int64_t offset, const std::string& failure);
    // The same with a failure text of the action's own: `failed` gets the system's error, or null
    // when the stream went elsewhere without one.
    [[nodiscard]] bool position(platform::RawStream& stream, int64_t offset,
                                const std::function<void(const platform::Error*)>& failed);

    // Written data is on the medium before success is reported. On failure "Failed to write to
    // <name>, <the system's text>" is shown.
    [[nodiscard]] bool flush(platform::RawStream& stream, const std::string& name);

private:
    platform::Backend& backend_;
    Dialogs& dialogs_;
    JobControl& job_;
    bool holdsBusy_;
    bool stopOffered_ = false;
};

// bytes x 100 / size, rounded half to even, for a progress bar from 0 to 100.
int percentOf(int64_t bytes, int64_t size);
// "%.2f%% done" with the user's decimal separator.
std::string percentDoneText(int64_t bytes, int64_t size, char decimalSeparator);

} // namespace jobs
