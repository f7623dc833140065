#include "transfer/commands.h"

#include "discovery/selections.h"
#include "jobs/digest_set.h"
#include "jobs/output_file.h"
#include "transfer/transfer.h"

#include <ostream>

namespace transfer {

namespace {

// Options that have nothing to act on when the image is a stream.
void refuseWithStream(const cli::CommandLine& args, std::initializer_list<const char*> options,
                      const char* why) {
    for (const char* option : options)
        if (args.has(option))
            throw cli::UsageError(std::string(option) + " does not go with IMAGE -: " + why, args.command);
}

} // namespace

int dumpCommand(cli::CommandContext& c) {
    platform::Backend& backend = c.backend;
    const cli::CommandLine& args = c.args;
    const bool toOutput = cli::isStandardStream(args.operands[1]);
    if (toOutput)
        refuseWithStream(args, {"--replace", "--truncate", "--keep-tail"},
                         "standard output takes exactly the range's bytes and replaces nothing");
    auto digests = digest::fromHashOption(args);
    const TFileInfo source =
        selections::resolve(backend, args.operands[0], args.number("--offset"), args.number("--size"));
    if (!toOutput) {
        if (const auto why = jobs::outputRefusal(backend, args.operands[1], jobs::Existing::Replace)) {
            c.err << "Cannot write the image into " << args.operands[1] << ": " << *why
                  << ". Nothing was read.\n";
            return 1;
        }
    }
    Options options{!args.has("--buffered")};
    options.digests = digests ? &*digests : nullptr;
    const auto result = toOutput && c.output ? dumpToStream(backend, c.dialogs, c.job, source, *c.output,
                                                            "standard output", options)
                                             : dumpToFile(backend, c.dialogs, c.job, source, options);
    c.job.endProgress();
    // The digest lines, as checksum prints them, for a dump that holds every selected byte; beside
    // an image on standard output they go to standard error.
    if (digests && result.outcome == Outcome::Completed)
        (toOutput ? c.err : c.out) << digests->summary() << "\n";
    return cli::exitFor(result);
}

int restoreCommand(cli::CommandContext& c) {
    const cli::CommandLine& args = c.args;
    const bool fromInput = cli::isStandardStream(args.operands[0]);
    if (fromInput)
        refuseWithStream(args, {"--verify", "--ignore-size"},
                         "standard input is read once and its length is not known before it ends");
    const TFileInfo target =
        selections::resolve(c.backend, args.operands[1], args.number("--offset"), args.number("--size"));
    const Options options{!args.has("--buffered"), args.has("--verify")};
    return cli::exitFor(fromInput && c.input ? restoreFromStream(c.backend, c.dialogs, c.job, target,
                                                                 *c.input, "standard input", options)
                                             : restoreFromFile(c.backend, c.dialogs, c.job, target, options));
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
        dumpCommand,
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
         restoreCommand,
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
