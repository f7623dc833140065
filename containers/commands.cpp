#include "containers/commands.h"

#include "containers/cdi.h"
#include "containers/save_as_zip.h"
#include "discovery/selections.h"
#include "jobs/digest_set.h"
#include "jobs/gate.h"
#include "jobs/output_file.h"

#include <ostream>

namespace containers {

using cli::CommandLine;
using cli::UsageError;
namespace {

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
                             cli::kReplaceQuestionId};
            if (inner_.ask(q) != Button::Yes) return std::nullopt;
        }
        return file_;
    }
    std::optional<std::string> typedAgreement(const TFileInfo& target, const std::string& disk) override {
        if (agree_) return std::string("i agree");
        return inner_.typedAgreement(target, disk);
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
    auto digests = digest::fromHashOption(args);
    const TFileInfo source =
        selections::resolve(backend, operands[0], args.number("--offset"), args.number("--size"));
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
    return cli::exitFor(report);
}

int cdiLoadCommand(platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
                   std::ostream&, std::ostream&) {
    const TFileInfo target =
        selections::resolve(backend, args.operands[1], args.number("--offset"), args.number("--size"));
    CommandDialogs answers(backend, dialogs, args.operands[0], args.has("--agree"), false);
    return cli::exitFor(containers::LoadFromCompressed(backend, answers, job, target));
}

namespace {

// cdi-save and cdi-load with IMAGE "-": standard output and standard input.
int cdiSaveOrStream(cli::CommandContext& c) {
    const CommandLine& args = c.args;
    if (!cli::isStandardStream(args.operands[1]) || !c.output)
        return cdiSaveCommand(c.backend, args, c.dialogs, c.job, c.out, c.err);
    if (args.has("--replace"))
        throw UsageError("--replace does not go with IMAGE -: standard output replaces nothing",
                         args.command);
    auto digests = digest::fromHashOption(args);
    const TFileInfo source =
        selections::resolve(c.backend, args.operands[0], args.number("--offset"), args.number("--size"));
    CdiOptions cdi;
    cdi.digests = digests ? &*digests : nullptr;
    const auto report =
        SaveCompressedToStream(c.backend, c.dialogs, c.job, source, *c.output, "standard output", cdi);
    c.job.endProgress();
    // Beside an image on standard output, the digest lines go to standard error.
    if (digests && report.outcome == Outcome::Completed) c.err << digests->summary() << "\n";
    return cli::exitFor(report);
}

int cdiLoadOrStream(cli::CommandContext& c) {
    const CommandLine& args = c.args;
    if (!cli::isStandardStream(args.operands[0]) || !c.input)
        return cdiLoadCommand(c.backend, args, c.dialogs, c.job, c.out, c.err);
    const TFileInfo target =
        selections::resolve(c.backend, args.operands[1], args.number("--offset"), args.number("--size"));
    CommandDialogs answers(c.backend, c.dialogs, "-", args.has("--agree"), false);
    return cli::exitFor(
        LoadCompressedFromStream(c.backend, answers, c.job, target, *c.input, "standard input"));
}

} // namespace

int zipCommand(platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
               std::ostream& out, std::ostream& err) {
    auto digests = digest::fromHashOption(args);
    const bool append = args.has("--append");
    const bool replace = args.has("--replace");
    const TFileInfo source =
        selections::resolve(backend, args.operands[0], args.number("--offset"), args.number("--size"));
    const std::string& archive = args.operands[1];
    if (const auto why = jobs::outputRefusal(backend, archive, jobs::Existing::Replace)) {
        err << "Cannot write the archive into " << archive << ": " << *why << ". Nothing was changed.\n";
        return 1;
    }
    if (!append && !replace && jobs::outputNameTaken(backend, archive)) {
        err << archive
            << " already exists: give --append to add the entry to it, or --replace to replace it. "
               "Nothing was changed.\n";
        return cli::kExitRefused;
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
        std::optional<std::string> typedAgreement(const TFileInfo& t, const std::string& disk) override {
            return inner.typedAgreement(t, disk);
        }
    } answers(dialogs, append ? Button::No : Button::Yes);
    const auto report = containers::SaveSelectionAsZip(
        backend, answers, [&job] { return std::make_unique<TerminalWindow>(job); }, archive, source,
        digests ? &*digests : nullptr);
    if (digests && report.outcome == containers::Outcome::Completed) out << digests->summary() << "\n";
    return cli::exitFor(report);
}

std::vector<cli::CommandSpec> commands() {
    using cli::OptionKind;
    using cli::OptionSpec;
    const auto number = [](const char* name, const char* help) {
        return OptionSpec{.name = name, .help = help, .kind = OptionKind::Number};
    };
    const OptionSpec hash{.name = "--hash",
                          .help =
                              "digests of the selection's bytes to compute while saving (md5,sha1,sha256)",
                          .kind = OptionKind::Text,
                          .placeholder = "LIST"};
    const cli::Answer replace{cli::kReplaceQuestionId, Button::Yes};
    return {
        {"cdi-save",
         {"SOURCE", "IMAGE"},
         "cdi-save needs SOURCE and IMAGE",
         "save SOURCE's range into the compressed disk image IMAGE",
         {number("--offset", "first byte of the range, counted from the start of SOURCE"),
          number("--size", "number of bytes to save (default: the rest of SOURCE)"),
          {.name = "--replace", .help = "replace IMAGE when it exists", .answers = {replace}},
          hash},
         cdiSaveOrStream},
        {"cdi-load",
         {"IMAGE", "TARGET"},
         "cdi-load needs IMAGE and TARGET",
         "write the compressed disk image IMAGE onto TARGET's range (destroys TARGET's data)",
         {number("--offset", "first byte of the range, counted from the start of TARGET"),
          number("--size", "number of bytes of TARGET's range (default: the rest of TARGET)"),
          {.name = "--agree", .help = "agree to overwrite TARGET"}},
         cdiLoadOrStream},
        {"zip",
         {"SOURCE", "ARCHIVE"},
         "zip needs SOURCE and ARCHIVE",
         "save SOURCE's range as one entry of the zip archive ARCHIVE (entries of at most 2 GiB)",
         {number("--offset", "first byte of the range, counted from the start of SOURCE"),
          number("--size", "number of bytes to save (default: the rest of SOURCE)"),
          {.name = "--append", .help = "add the entry to ARCHIVE when it exists", .group = "existing"},
          {.name = "--replace",
           .help = "replace ARCHIVE when it exists",
           .group = "existing",
           .answers = {replace}},
          hash},
         cli::runWith<zipCommand>},
    };
}

} // namespace containers
