#include "cli/containers_commands.h"

#include "cli/cli.h"
#include "cli/terminal_ui.h"
#include "containers/cdi.h"
#include "containers/save_as_zip.h"
#include "jobs/digest_set.h"
#include "jobs/gate.h"
#include "jobs/output_file.h"

#include <ostream>

namespace cli {
namespace {

using containers::Outcome;

// The command line's answers in front of the terminal's: the operand stands for the file
// dialog, --agree passes the overwrite gate, --replace lets an existing file be replaced.
class CommandDialogs final : public Dialogs {
public:
    CommandDialogs(platform::Backend& backend, Dialogs& inner, std::string file, bool agree, bool replace)
        : backend_(backend), inner_(inner), file_(std::move(file)), agree_(agree), replace_(replace) {}

    Button ask(const Question& q) override {
        if (agree_ && q.id == gate::kQuestionId) return Button::Yes;
        return inner_.ask(q);
    }
    std::optional<std::string> chooseFile(const FileDialog& dialog) override {
        if (dialog.overwritePrompt && !replace_ && jobs::outputNameTaken(backend_, file_)) {
            const Question q{file_ + " already exists.\nDo you want to replace it?",
                             Icon::Warning,
                             {Button::Yes, Button::No},
                             Button::No,
                             TerminalUi::kReplaceId};
            if (inner_.ask(q) != Button::Yes) return std::nullopt;
        }
        return file_;
    }
    std::optional<std::string> typedAgreement(const TFileInfo& target) override {
        if (agree_) return std::string("i agree");
        return inner_.typedAgreement(target);
    }

private:
    platform::Backend& backend_;
    Dialogs& inner_;
    std::string file_;
    bool agree_;
    bool replace_;
};

// The command line has no window: the export reports to the terminal's job control.
class TerminalWindow final : public containers::ZipProgressWindow {
public:
    explicit TerminalWindow(JobControl& job) : job_(job) {}
    JobControl& job() override { return job_; }

private:
    JobControl& job_;
};

} // namespace

int cdiSaveCommand(platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
                   std::ostream& out, std::ostream& err) {
    const auto& operands = args.operands;
    auto digests = digestsFor(args);
    const TFileInfo source =
        resolveSelection(backend, operands[0], args.number("--offset"), args.number("--size"));
    if (const auto why = jobs::outputRefusal(backend, operands[1], jobs::Existing::Replace)) {
        err << "Cannot write the image into " << operands[1] << ": " << *why << ". Nothing was read.\n";
        return 1;
    }
    CommandDialogs answers(backend, dialogs, operands[1], false, args.has("--replace"));
    containers::CdiOptions cdi;
    cdi.digests = digests ? &*digests : nullptr;
    const auto report = containers::SaveAsCompressed(backend, answers, job, source, cdi);
    // The digest lines, as checksum prints them, for an image that holds every selected byte.
    if (digests && report.outcome == containers::Outcome::Completed) out << digests->summary() << "\n";
    return exitFor(report);
}

int cdiLoadCommand(platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
                   std::ostream&, std::ostream&) {
    const TFileInfo target =
        resolveSelection(backend, args.operands[1], args.number("--offset"), args.number("--size"));
    CommandDialogs answers(backend, dialogs, args.operands[0], args.has("--agree"), false);
    return exitFor(containers::LoadFromCompressed(backend, answers, job, target));
}

int zipCommand(platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
               std::ostream& out, std::ostream& err) {
    auto digests = digestsFor(args);
    const bool append = args.has("--append");
    const bool replace = args.has("--replace");
    const TFileInfo source =
        resolveSelection(backend, args.operands[0], args.number("--offset"), args.number("--size"));
    const std::string& archive = args.operands[1];
    if (const auto why = jobs::outputRefusal(backend, archive, jobs::Existing::Replace)) {
        err << "Cannot write the archive into " << archive << ": " << *why << ". Nothing was changed.\n";
        return 1;
    }
    if (!append && !replace && jobs::outputNameTaken(backend, archive)) {
        err << archive
            << " already exists: give --append to add the entry to it, or --replace to replace it. "
               "Nothing was changed.\n";
        return 1;
    }
    // The existing archive's question, answered by the flag.
    struct ZipAnswers final : Dialogs {
        Dialogs& inner;
        Button answer;
        ZipAnswers(Dialogs& inner, Button answer) : inner(inner), answer(answer) {}
        Button ask(const Question& q) override {
            return q.id == containers::kZipExistsId ? answer : inner.ask(q);
        }
        std::optional<std::string> chooseFile(const FileDialog& d) override { return inner.chooseFile(d); }
        std::optional<std::string> typedAgreement(const TFileInfo& t) override {
            return inner.typedAgreement(t);
        }
    } answers(dialogs, append ? Button::No : Button::Yes);
    const auto report = containers::SaveSelectionAsZip(
        backend, answers, [&job] { return std::make_unique<TerminalWindow>(job); }, archive, source,
        digests ? &*digests : nullptr);
    if (digests && report.outcome == containers::Outcome::Completed) out << digests->summary() << "\n";
    return exitFor(report);
}

} // namespace cli
