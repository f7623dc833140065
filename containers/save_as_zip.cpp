#include "containers/save_as_zip.h"

#include "containers/mini_zip.h"
#include "containers/stream_adapters.h"
#include "core/user_error.h"
#include "jobs/output_file.h"
#include "jobs/range_job.h"

namespace containers {
namespace {

std::string num(int64_t v) {
    return std::to_string(v);
}

// What the range job says while the progress window is up waits for the window to go: messages
// become notes, shown afterwards in order.
template <class Notes> class Noting final : public Dialogs {
public:
    Noting(Dialogs& inner, Notes& notes) : inner_(inner), notes_(notes) {}
    Button ask(const Question& q) override {
        if (q.buttons != std::vector<Button>{Button::Ok}) return inner_.ask(q);
        notes_.push_back({q.text, q.icon == Icon::Error});
        return Button::Ok;
    }
    std::optional<std::string> chooseFile(const FileDialog& d) override { return inner_.chooseFile(d); }
    std::optional<std::string> typedAgreement(const TFileInfo& t, const std::string& disk) override {
        return inner_.typedAgreement(t, disk);
    }

private:
    Dialogs& inner_;
    Notes& notes_;
};

} // namespace

bool ConfirmZipStop(Dialogs& dialogs) {
    const Question q{"Stopping will leave you with a corrupted zip file. Are you sure you want to quit?",
                     Icon::Warning,
                     {Button::Yes, Button::No, Button::Ignore},
                     Button::No,
                     {}};
    return dialogs.ask(q) == Button::Yes;
}

Report SaveAsZipCommand(platform::Backend& backend, Dialogs& dialogs, const ZipWindowFactory& window,
                        const TFileInfo& selection, std::string& lastArchive, jobs::ByteObserver* digests) {
    if (lastArchive.empty()) lastArchive = selection.DefaultName + ".zip";
    FileDialog dialog;
    dialog.kind = FileDialog::Kind::Save;
    dialog.filter = kZipFilter;
    dialog.defaultExt = ".zip";
    dialog.initialName = lastArchive;
    dialog.overwritePrompt = true;
    const auto chosen = dialogs.chooseFile(dialog);
    if (!chosen) return {};
    lastArchive = *chosen;
    return SaveSelectionAsZip(backend, dialogs, window, *chosen, selection, digests);
}

Report SaveSelectionAsZip(platform::Backend& backend, Dialogs& dialogs, const ZipWindowFactory& window,
                          const std::string& archive, const TFileInfo& selection,
                          jobs::ByteObserver* digests) {
    const TFileInfo sel = selection;
    // Checked before any window exists.
    if (!jobs::RangeJob(backend, dialogs).checkRange(sel)) return {};
    // Refused before an archive to be overwritten is emptied.
    if (sel.Size > kMaxEntryBytes) {
        dialogs.message("A zip entry holds at most " + num(kMaxEntryBytes) + " bytes; " + num(sel.Size) +
                        " bytes were asked. Nothing was added.");
        return {};
    }
    // An archive written into its own source would read back what it just wrote.
    if (detail::sameObject(backend, sel.FileName, archive)) {
        dialogs.message("Failed to open " + archive + " for writing");
        return {};
    }
    // A device, folder or pipe is no archive: refused before anything is asked or read.
    if (const auto why = jobs::outputRefusal(backend, archive, jobs::Existing::Replace)) {
        dialogs.error(detail::cannotOpenFile(archive, *why));
        return {Outcome::Failed, 0};
    }
    bool overwrite = true;
    if (jobs::outputNameTaken(backend, archive)) {
        const Question q{
            "Target file already exists. Do you want to overwrite this file?\nClick yes to overwrite, "
            "No to append",
            Icon::Question,
            {Button::Yes, Button::No, Button::Cancel},
            Button::Cancel,
            kZipExistsId};
        const Button answer = dialogs.ask(q);
        if (answer != Button::Yes && answer != Button::No) return {};
        overwrite = answer == Button::Yes;
    }

    Report report{Outcome::Failed, 0};
    struct Note {
        std::string text;
        bool error; // shown in the error box, as an error nothing caught would be
    };
    std::vector<Note> notes; // shown once the window is gone
    {
        std::unique_ptr<ZipProgressWindow> shown = window();
        JobControl& job = shown->job();
        Noting noting(dialogs, notes);
        jobs::RangeJob range(backend, noting, job, jobs::RangeJob::Busy::No);
        TMiniZip zip(backend);
        zip.OnProgress = [&](TMiniZip&, PrgsType, const std::string&, int64_t bytes, bool& abort) {
            job.progress({bytes, sel.Size, jobs::percentOf(bytes, sel.Size), ""});
            job.pump();
            abort = job.stopRequested();
        };
        zip.OnIdle = [&] { job.pump(); };
        zip.Digests = digests;
        range.offerStop();
        // The source first: an archive is not created, emptied or changed when there is nothing
        // to read.
        // Read past the system's cache, as the raw transfers read it.
        auto source = range.open(sel, platform::OpenMode::Read,
                                 "Failed to open " + sel.Description + " for reading", true);
        try {
            if (!source) {
                report.outcome = Outcome::Failed;
            } else if (!zip.OpenArchive(archive, overwrite)) {
                // Not an archive: the file stays as it was.
                notes.push_back({zip.ErrorText(), false});
                report.outcome = Outcome::NotStarted;
            } else {
                const bool whole =
                    zip.AddEntry(std::move(source), sel.FileName, sel.DefaultName, sel.Offset, sel.Size);
                const std::string kept = "The earlier " + archive + " was kept as it was.";
                if (!zip.ErrorText().empty()) {
                    // Nothing of a failed export stays; an earlier archive is kept whole.
                    notes.push_back({zip.ErrorText(), false});
                    if (zip.Replacing()) notes.push_back({kept, false});
                    zip.DiscardArchive();
                } else if (!whole) {
                    const std::string why =
                        zip.LastEntryAborted() ? std::string("because the export was stopped.")
                        : zip.LastReadError()
                            ? "because reading " + sel.Description + " failed after " +
                                  num(zip.LastEntryBytes()) + " bytes: " + zip.LastReadError()->text + "."
                            : "because " + sel.Description + " ended early.";
                    notes.push_back({"The entry " + NormalizeEntryName(sel.DefaultName) + " in " + archive +
                                         " is incomplete: it holds " + num(zip.LastEntryBytes()) + " of " +
                                         num(sel.Size) + " bytes, " + why,
                                     false});
                    report = {Outcome::Incomplete, zip.LastEntryBytes()};
                    // An incomplete archive never takes the place of an earlier one.
                    if (zip.Replacing()) {
                        notes.push_back({kept, false});
                        zip.DiscardArchive();
                    }
                } else {
                    report = {Outcome::Completed, zip.LastEntryBytes()};
                }
            }
            if (!zip.CloseArchive()) {
                notes.push_back({zip.ErrorText(), false});
                report.outcome = Outcome::Failed;
            } else if (digests && report.outcome == Outcome::Completed) {
                notes.push_back({"The entry " + NormalizeEntryName(sel.DefaultName) + " in " + archive +
                                     " holds all " + num(sel.Size) + " bytes.\n\n" + digests->summary(),
                                 false});
            }
        } catch (const UserError& e) {
            // The archive could not be created or opened at all.
            notes.push_back({e.what(), true});
            report = {Outcome::Failed, 0};
        }
    }
    for (const auto& n : notes) {
        if (n.error)
            dialogs.error(n.text);
        else
            dialogs.message(n.text);
    }
    return report;
}

} // namespace containers
