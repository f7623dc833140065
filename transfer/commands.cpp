#include "transfer/commands.h"

#include "discovery/selections.h"
#include "jobs/digest_set.h"
#include "jobs/output_file.h"
#include "transfer/transfer.h"

#include <ostream>

namespace transfer {

int dumpCommand(platform::Backend& backend, const cli::CommandLine& args, Dialogs& dialogs, JobControl& job,
                std::ostream& out, std::ostream& err) {
    auto digests = digest::fromHashOption(args);
    const TFileInfo source =
        selections::resolve(backend, args.operands[0], args.number("--offset"), args.number("--size"));
    if (const auto why = jobs::outputRefusal(backend, args.operands[1], jobs::Existing::Replace)) {
        err << "Cannot write the image into " << args.operands[1] << ": " << *why << ". Nothing was read.\n";
        return 1;
    }
    Options options{!args.has("--buffered")};
    options.digests = digests ? &*digests : nullptr;
    const auto result = dumpToFile(backend, dialogs, job, source, options);
    job.endProgress();
    // The digest lines, as checksum prints them, for a dump that holds every selected byte.
    if (digests && result.outcome == Outcome::Completed) out << digests->summary() << "\n";
    return cli::exitFor(result);
}

int restoreCommand(platform::Backend& backend, const cli::CommandLine& args, Dialogs& dialogs,
                   JobControl& job, std::ostream&, std::ostream&) {
    const TFileInfo target =
        selections::resolve(backend, args.operands[1], args.number("--offset"), args.number("--size"));
    return cli::exitFor(
        restoreFromFile(backend, dialogs, job, target, {!args.has("--buffered"), args.has("--verify")}));
}

int copyCommand(platform::Backend& backend, const cli::CommandLine& args, Dialogs& dialogs, JobControl& job,
                std::ostream&, std::ostream&) {
    const TFileInfo source = selections::resolve(backend, args.operands[0], args.number("--source-offset"),
                                                 args.number("--source-size"));
    const TFileInfo target = selections::resolve(backend, args.operands[1], args.number("--target-offset"),
                                                 args.number("--target-size"));
    return cli::exitFor(
        directCopy(backend, dialogs, job, source, target, {!args.has("--buffered"), args.has("--verify")}));
}

std::vector<cli::CommandSpec> commands() {
    using cli::OptionKind;
    using cli::OptionSpec;
    const auto number = [](const char* name, const char* help) {
        return OptionSpec{.name = name, .help = help, .kind = OptionKind::Number};
    };
    const OptionSpec agree{.name = "--agree", .help = "agree to overwrite TARGET"};
    cli::CommandSpec dump{
        "dump",
        {"SOURCE", "IMAGE"},
        "dump needs SOURCE and IMAGE",
        "save SOURCE's bytes into the raw image file IMAGE",
        {number("--offset", "first byte of the range, counted from the start of SOURCE"),
         number("--size", "number of bytes to save (default: the rest of SOURCE)"),
         {.name = "--truncate",
          .help =
              "answer the truncation question Yes: cut a dump that ran past the range's end back to its size "
              "(the answer taken when no terminal asks)",
          .group = "tail",
          .answers = {{kTruncateId, Button::Yes}}},
         {.name = "--keep-tail",
          .help = "answer it No: keep the bytes the dump's last whole block read past the range's end",
          .group = "tail",
          .answers = {{kTruncateId, Button::No}}},
         {.name = "--replace",
          .help = "replace IMAGE when it exists",
          .answers = {{cli::kReplaceQuestionId, Button::Yes}}},
         {.name = "--buffered", .help = "read a block device through the system's cache instead of past it"},
         {.name = "--hash",
          .help = "digests of the selection's bytes to compute while saving (md5,sha1,sha256)",
          .kind = OptionKind::Text,
          .placeholder = "LIST",
          .emptyText = true}},
        cli::runWith<dumpCommand>,
        1};
    // The truncation question recommends Yes, and the image then holds exactly the range, as a
    // restore onto that range wants it.
    dump.unattended = {{{kTruncateId, Button::Yes},
                        "standard input is not a terminal; --keep-tail keeps the bytes past the range"}};
    return {
        dump,
        {"restore",
         {"IMAGE", "TARGET"},
         "restore needs IMAGE and TARGET",
         "write the raw image file IMAGE onto TARGET (destroys TARGET's data)",
         {number("--offset", "first byte of the range, counted from the start of TARGET"),
          number("--size", "number of bytes of TARGET to overwrite (default: the rest of TARGET)"),
          {.name = "--agree",
           .help = "agree to overwrite TARGET, and let restore go on past its warnings",
           .answers = {{kRestoreSureId, Button::Yes}, {kRestoreStopNowId, Button::Ignore}}},
          {.name = "--ignore-size",
           .help = "write an image whose length differs from the range's size",
           .answers = {{kSizeMismatchId, Button::Ignore}}},
          {.name = "--buffered",
           .help = "write a block device through the system's cache instead of past it"},
          {.name = "--verify", .help = "read TARGET back afterwards and compare it with IMAGE"}},
         cli::runWith<restoreCommand>,
         0},
        {"copy",
         {"SOURCE", "TARGET"},
         "copy needs SOURCE and TARGET",
         "copy SOURCE onto TARGET of the same size (destroys TARGET's data)",
         {number("--source-offset", "first byte of SOURCE's range, counted from the start of SOURCE"),
          number("--source-size", "number of bytes of SOURCE to copy (default: the rest of SOURCE)"),
          number("--target-offset", "first byte of TARGET's range, counted from the start of TARGET"),
          number("--target-size",
                 "number of bytes of TARGET to overwrite, SOURCE's size (default: the rest of "
                 "TARGET)"),
          agree,
          {.name = "--buffered",
           .help = "read and write block devices through the system's cache instead of past it"},
          {.name = "--verify", .help = "read TARGET back afterwards and compare it with SOURCE"}},
         cli::runWith<copyCommand>},
    };
}

} // namespace transfer
