#include "maintenance/commands.h"

#include "discovery/selections.h"
#include "jobs/digest_set.h"
#include "jobs/gate.h"
#include "jobs/output_file.h"
#include "maintenance/checksum.h"
#include "maintenance/erase.h"
#include "platform/platform.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <ostream>

namespace maintenance {

using cli::CommandLine;
using cli::UsageError;
namespace {

// The overwrite gate answered by --agree: the agreement is typed and its question answered Yes.
class AgreedDialogs final : public Dialogs {
public:
    AgreedDialogs(Dialogs& inner, std::ostream& err) : inner_(inner), err_(err) {}
    Button ask(const Question& q) override {
        if (q.id != gate::kQuestionId) return inner_.ask(q);
        err_ << q.text << "\n-> Yes (--agree)\n";
        return Button::Yes;
    }
    std::optional<std::string> chooseFile(const FileDialog& d) override { return inner_.chooseFile(d); }
    std::optional<std::string> typedAgreement(const TFileInfo&, const std::string&) override { return std::string("i agree"); }

private:
    Dialogs& inner_;
    std::ostream& err_;
};

} // namespace

int checksumCommand(platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
                    std::ostream& out, std::ostream& err) {
    // --sha256 alone gives only SHA-256; with a choice, that choice as well.
    const bool sha256 = args.has("--sha256");
    const bool chosen = args.has("--md5") || args.has("--sha1") || args.has("--both");
    const auto kind = args.has("--md5")    ? checksum::MD5
                      : args.has("--sha1") ? checksum::SHA1
                      : sha256 && !chosen  ? checksum::NoDigest
                                           : checksum::Both;
    const auto sel = selections::resolveOrSay(backend, args.operands[0], args.number("--offset"),
                                              args.number("--size"), err);
    if (!sel) return 1;
    std::optional<digest::Set> extra;
    if (sha256) extra.emplace(std::vector{digest::Context::Kind::Sha256});
    checksum::Options o;
    o.direct = !args.has("--buffered");
    o.extra = extra ? &*extra : nullptr;
    const auto result = checksum::calculate(backend, dialogs, job, *sel, kind, o);
    const bool partial = result.outcome == Outcome::Incomplete;
    if (result.outcome != Outcome::Completed && !partial) return cli::exitFor(result);
    // After a short read or a stop, as the window does: the digests of the bytes read before it,
    // said to be no more than that, and the run counts as failed.
    if (partial)
        err << "The digests below are of the first " << result.bytes << " bytes of " << sel->Size
            << " bytes only.\n";
    if (result.md5) out << "MD5 " << *result.md5 << "\n";
    if (result.sha1) out << "SHA1 " << *result.sha1 << "\n";
    if (extra) out << extra->summary() << "\n";
    return cli::exitFor(result);
}

int eraseCommand(platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
                 std::ostream& out, std::ostream& err) {
    const std::string given = args.text("--pattern");
    std::string pattern = given;
    std::transform(pattern.begin(), pattern.end(), pattern.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    wipe::Fill fill;
    if (pattern == "random") {
        fill.random = true;
    } else {
        const bool hex =
            !pattern.empty() && pattern.size() <= 2 &&
            std::all_of(pattern.begin(), pattern.end(), [](unsigned char c) { return std::isxdigit(c); });
        if (!hex)
            throw UsageError("--pattern: '" + given + "' is not a hexadecimal byte or random", args.command);
        fill.value = wipe::charValue(pattern);
    }
    const auto sel = selections::resolveOrSay(backend, args.operands[0], args.number("--offset"),
                                              args.number("--size"), err);
    if (!sel) return 1;
    wipe::Options o;
    o.direct = !args.has("--buffered");
    AgreedDialogs agreed(dialogs, err);
    const auto report = wipe::eraseSelection(
        backend, args.has("--agree") ? static_cast<Dialogs&>(agreed) : dialogs, job, *sel, fill, o);
    if (report.outcome == Outcome::Completed) out << "Erased " << report.bytes << " bytes\n";
    // The window says "erased." after Stop as well; the terminal says how far it got.
    if (report.outcome == Outcome::Incomplete)
        err << "Stopped: erased only " << report.bytes << " bytes of " << sel->Size << " bytes.\n";
    return cli::exitFor(report);
}

namespace {

using cli::OptionKind;
using cli::OptionSpec;

OptionSpec offsetOption(const char* help) {
    return {.name = "--offset", .help = help, .kind = OptionKind::Number};
}
OptionSpec sizeOption(const char* help) {
    return {.name = "--size", .help = help, .kind = OptionKind::Number};
}
} // namespace

std::vector<cli::CommandSpec> commands() {
    const OptionSpec buffered{.name = "--buffered",
                              .help = "read a block device through the system's cache instead of past it"};
    return {
        {"checksum",
         {"SOURCE"},
         "checksum needs one SOURCE",
         "digests of SOURCE's range (MD5 and SHA-1 unless options choose), read in one pass",
         {{.name = "--md5", .help = "only the MD5 digest", .group = "kind"},
          {.name = "--sha1", .help = "only the SHA-1 digest", .group = "kind"},
          {.name = "--both", .help = "both digests (the default)", .group = "kind"},
          {.name = "--sha256", .help = "the SHA-256 digest as well; alone, only it"},
          offsetOption("first byte of the range, counted from the start of SOURCE"),
          sizeOption("number of bytes to read (default: the rest of SOURCE)"),
          buffered},
         cli::runWith<checksumCommand>},
        {"erase",
         {"TARGET"},
         "erase needs one TARGET",
         "overwrite every byte of TARGET's range with one byte value or random data (destroys its data)",
         {{.name = "--pattern",
           .help = "the fill: a hexadecimal byte (00, FF, AA, 55, ...) or random",
           .kind = OptionKind::Text,
           .placeholder = "BYTE",
           .missing = "erase needs --pattern 00|FF|AA|55|<hex byte>|random"},
          {.name = "--agree", .help = "agree to overwrite TARGET"},
          offsetOption("first byte of the range, counted from the start of TARGET"),
          sizeOption("number of bytes to erase (default: the rest of TARGET)"),
          {.name = "--buffered",
           .help = "write a block device through the system's cache instead of past it"}},
         cli::runWith<eraseCommand>},
    };
}

} // namespace maintenance
