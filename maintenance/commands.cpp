#include "maintenance/commands.h"

#include "core/json.h"
#include "discovery/selections.h"
#include "jobs/digest_set.h"
#include "jobs/gate.h"
#include "jobs/output_file.h"
#include "maintenance/checksum.h"
#include "maintenance/erase.h"
#include "maintenance/sum_lines.h"
#include "platform/platform.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

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
    std::optional<std::string> typedAgreement(const TFileInfo&, const std::string&) override {
        return std::string("i agree");
    }

private:
    Dialogs& inner_;
    std::ostream& err_;
};

// The digests the options choose: --sha256 alone gives only SHA-256; with a choice, that choice
// as well; without any, MD5 and SHA-1.
struct Choice {
    checksum::ChecksumKind kind = checksum::Both;
    bool sha256 = false;
};

Choice choiceOf(const CommandLine& args) {
    const bool sha256 = args.has("--sha256");
    const bool chosen = args.has("--md5") || args.has("--sha1") || args.has("--both");
    return {args.has("--md5")    ? checksum::MD5
            : args.has("--sha1") ? checksum::SHA1
            : sha256 && !chosen  ? checksum::NoDigest
                                 : checksum::Both,
            sha256};
}

Choice choiceOf(digest::Context::Kind kind) {
    using K = digest::Context::Kind;
    return {kind == K::Md5    ? checksum::MD5
            : kind == K::Sha1 ? checksum::SHA1
                              : checksum::NoDigest,
            kind == K::Sha256};
}

// One calculation's digests, upper-case hexadecimal.
struct Sums {
    checksum::Result result;
    std::optional<std::string> sha256;
    std::string sha256Line; // the SHA-256 line as the digest set gives it, also when it failed

    // The digests computed, in the order they are printed: name ("md5"), value.
    std::vector<std::pair<const char*, std::string>> list() const {
        std::vector<std::pair<const char*, std::string>> l;
        if (result.md5) l.emplace_back("md5", *result.md5);
        if (result.sha1) l.emplace_back("sha1", *result.sha1);
        if (sha256) l.emplace_back("sha256", *sha256);
        return l;
    }
};

// A selection's digests, or (with no selection) those of standard input from here to its end.
Sums sum(cli::CommandContext& c, const TFileInfo* sel, Choice choice) {
    std::optional<digest::Set> extra;
    if (choice.sha256) extra.emplace(std::vector{digest::Context::Kind::Sha256});
    checksum::Options o;
    o.direct = !c.args.has("--buffered");
    o.extra = extra ? &*extra : nullptr;
    Sums s;
    s.result = sel ? checksum::calculate(c.backend, c.dialogs, c.job, *sel, choice.kind, o)
                   : checksum::calculateStream(c.dialogs, c.job, *c.input, "standard input", choice.kind, o);
    const auto outcome = s.result.outcome;
    if (extra && (outcome == Outcome::Completed || outcome == Outcome::Incomplete)) {
        s.sha256Line = extra->summary();
        // "SHA256 <hex>", or the reason it could not be computed.
        const std::string value = s.sha256Line.substr(s.sha256Line.find(' ') + 1);
        if (!value.empty() &&
            std::all_of(value.begin(), value.end(), [](unsigned char ch) { return std::isxdigit(ch); }))
            s.sha256 = value;
    }
    return s;
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char ch) { return char(std::tolower(ch)); });
    return text;
}

// The node that holds exactly the selected bytes of a drive, partition or volume: the disk's own
// for all of it, else the one the kernel made for the partition (its name is the disk's with the
// partition's number: sda2, nvme0n1p2, loop0p1). Each candidate must be the same object from the
// same byte on and of the same length, so no name is taken on its looks. Empty when none is.
std::string nodeHolding(platform::Backend& backend, const TFileInfo& sel) {
    std::string disk;
    if (const auto drive = platform::parsePhysicalDriveName(sel.FileName))
        disk = backend.physicalDriveNode(*drive);
    else if (const auto identity = backend.driveIdentity(sel.FileName))
        disk = identity->node;
    const std::string object = backend.objectIdentity(sel.FileName);
    if (disk.empty() || object.empty()) return {};
    const int64_t at = backend.objectOffset(sel.FileName) + sel.Offset;
    const auto holds = [&](const std::string& node) {
        if (backend.objectIdentity(node) != object || backend.objectOffset(node) != at) return false;
        auto stream = backend.open(node, platform::OpenMode::Read);
        if (!stream) return false;
        const auto length = (*stream)->length();
        return length && *length == sel.Size;
    };
    if (holds(disk)) return disk;
    const auto info = backend.nameInfo(disk);
    if (!info || info->kind != platform::NameKind::Device) return {};
    const bool digitLast = std::isdigit(static_cast<unsigned char>(disk.back())) != 0;
    for (int number = 1; number <= 128; ++number) {
        const std::string node = disk + (digitLast ? "p" : "") + std::to_string(number);
        if (holds(node)) return node;
    }
    return {};
}

// --check: each line of the list read, its item resolved as a selection and summed with the
// line's kind of digest. Returns the exit status.
int checkList(cli::CommandContext& c, platform::RawStream& list) {
    int checked = 0, mismatched = 0, unreadable = 0, malformed = 0;
    bool stopped = false;
    const auto check = [&](const std::string& text) {
        const auto parsed = sumlines::parse(text);
        if (parsed.type == sumlines::Parsed::Type::Skip) return true;
        if (parsed.type == sumlines::Parsed::Type::Malformed) {
            ++malformed;
            return true;
        }
        const auto& entry = parsed.entry;
        const std::string shown = sumlines::reportedName(entry.name);
        ++checked;
        const auto sel = selections::resolveOrSay(c.backend, entry.name, std::nullopt, std::nullopt, c.err);
        std::optional<Sums> sums;
        if (sel) sums = sum(c, &*sel, choiceOf(entry.kind));
        if (c.job.stopRequested()) {
            stopped = true;
            return false;
        }
        if (!sums || sums->result.outcome != Outcome::Completed) {
            ++unreadable;
            c.out << shown << ": FAILED open or read\n" << std::flush;
            return true;
        }
        const auto digests = sums->list();
        const bool same = digests.size() == 1 && lower(digests.front().second) == entry.hex;
        if (!same) ++mismatched;
        c.out << shown << (same ? ": OK\n" : ": FAILED\n") << std::flush;
        return true;
    };

    // Line by line as the list arrives; a line too long to be one is no entry.
    constexpr size_t kLongestLine = 1 << 20;
    std::string line;
    bool overlong = false;
    const auto endOfLine = [&] {
        const bool go = overlong ? (++malformed, true) : check(line);
        line.clear();
        overlong = false;
        return go;
    };
    std::vector<char> buffer(64 << 10);
    for (bool go = true; go;) {
        const auto got = list.read(buffer.data(), int64_t(buffer.size()));
        if (!got) {
            if (c.job.stopRequested() || got.error().code == EINTR) return 1;
            c.err << "Failed to read the list " << c.args.operands[0] << ", " << got.error().text << "\n";
            return 1;
        }
        if (*got == 0) {
            if (!line.empty() || overlong) endOfLine(); // the last line, without its line feed
            break;
        }
        const char* data = buffer.data();
        const size_t size = size_t(*got);
        for (size_t from = 0; go && from < size;) {
            const size_t to = size_t(std::find(data + from, data + size, '\n') - data);
            if (!overlong) line.append(data + from, to - from);
            if (line.size() > kLongestLine) {
                line.clear();
                overlong = true;
            }
            if (to == size) break; // it goes on in the next read
            go = endOfLine();
            from = to + 1;
        }
    }
    if (stopped) return 1;

    const auto warn = [&](int count, const char* one, const char* many) {
        if (count > 0) c.err << "WARNING: " << count << " " << (count == 1 ? one : many) << "\n";
    };
    warn(malformed, "line is improperly formatted", "lines are improperly formatted");
    warn(unreadable, "listed file could not be read", "listed files could not be read");
    warn(mismatched, "computed checksum did NOT match", "computed checksums did NOT match");
    if (checked == 0) c.err << c.args.operands[0] << ": no properly formatted checksum lines found\n";
    return checked > 0 && malformed == 0 && unreadable == 0 && mismatched == 0 ? 0 : 1;
}

void refuse(const CommandLine& args, std::initializer_list<const char*> options, const std::string& with,
            const char* why) {
    for (const char* option : options)
        if (args.has(option))
            throw UsageError(std::string(option) + " does not go with " + with + ": " + why, args.command);
}

} // namespace

int checksumCommand(cli::CommandContext& c) {
    const CommandLine& args = c.args;
    const std::string& source = args.operands[0];
    const bool check = args.has("--check");
    const bool fromInput = cli::isStandardStream(source);
    const std::string format = args.has("--format") ? args.text("--format") : "tab";
    if (format != "tab" && format != "sum")
        throw UsageError("--format: '" + format + "' is not tab or sum", args.command);
    if (check)
        refuse(args, {"--format", "--json", "--offset", "--size", "--md5", "--sha1", "--both", "--sha256"},
               "--check", "the list names each item and its digest");
    else if (fromInput)
        refuse(args, {"--offset", "--size", "--buffered"}, "SOURCE -",
               "standard input is read once, from its start to its end");
    if (format == "sum")
        refuse(args, {"--offset", "--size"}, "--format=sum",
               "md5sum -c and the like read the whole file or device a line names");

    if (check) {
        if (fromInput && !c.input) {
            c.err << "There is no standard input to read the list from.\n";
            return 1;
        }
        if (fromInput) return checkList(c, *c.input);
        auto list = c.backend.open(source, platform::OpenMode::Read);
        if (!list) {
            c.err << "Cannot open file \"" << source << "\". " << list.error().text << "\n";
            return 1;
        }
        return checkList(c, **list);
    }

    std::optional<TFileInfo> sel;
    if (!fromInput) {
        sel = selections::resolveOrSay(c.backend, source, args.number("--offset"), args.number("--size"),
                                       c.err);
        if (!sel) return 1;
    } else if (!c.input) {
        c.err << "There is no standard input to read.\n";
        return 1;
    }
    // Named before minutes of reading: a drive, partition or volume by the node that holds it.
    std::string name = source;
    if (format == "sum" && sel &&
        (platform::parsePhysicalDriveName(sel->FileName) || platform::parseVolumeName(sel->FileName))) {
        name = nodeHolding(c.backend, *sel);
        if (name.empty()) {
            c.err
                << "--format=sum: no file or device node holds exactly the bytes of " << source
                << ", so a sum line cannot name them (--format=tab prints the digests). Nothing was read.\n";
            return 1;
        }
    }

    const Sums sums = sum(c, sel ? &*sel : nullptr, choiceOf(args));
    const auto& result = sums.result;
    const bool partial = sel && result.outcome == Outcome::Incomplete;
    if (result.outcome != Outcome::Completed && !partial) return cli::exitFor(result);
    const int64_t size = sel ? sel->Size : result.bytes;
    // After a short read or a stop, as the window does: the digests of the bytes read before it,
    // said to be no more than that, and the run counts as failed. A sum line would claim them for
    // the whole item, so it gets none.
    if (partial) {
        c.err << "The digests below are of the first " << result.bytes << " bytes of " << size
              << " bytes only.\n";
        if (format == "sum") return 1;
    }
    if (args.has("--json")) {
        std::string fields =
            json::quote("source") + ": " + json::quote(source) + ", " + json::quote("offset") + ": " +
            std::to_string(sel ? sel->Offset - sel->BaseOffset : 0) + ", " + json::quote("size") + ": " +
            std::to_string(size) + ", " + json::quote("bytes") + ": " + std::to_string(result.bytes);
        for (const auto& [key, value] : sums.list())
            fields += ", " + json::quote(key) + ": " + json::quote(lower(value));
        c.out << "{" << json::quote("checksum") << ": {" << fields << "}}\n";
    } else if (format == "sum") {
        for (const auto& [key, value] : sums.list())
            c.out << sumlines::line(value, name);
    } else {
        if (result.md5) c.out << "MD5 " << *result.md5 << "\n";
        if (result.sha1) c.out << "SHA1 " << *result.sha1 << "\n";
        if (!sums.sha256Line.empty()) c.out << sums.sha256Line << "\n";
    }
    // A SHA-256 that could not be computed was named in its line; the others have no place for it.
    if (!sums.sha256Line.empty() && !sums.sha256) {
        if (format == "sum" || args.has("--json")) c.err << sums.sha256Line << "\n";
        return 1;
    }
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
         "digests of SOURCE's range (MD5 and SHA-1 unless options choose), read in one pass; SOURCE - "
         "reads standard input to its end",
         {{.name = "--md5", .help = "only the MD5 digest", .group = "kind"},
          {.name = "--sha1", .help = "only the SHA-1 digest", .group = "kind"},
          {.name = "--both", .help = "both digests (the default)", .group = "kind"},
          {.name = "--sha256", .help = "the SHA-256 digest as well; alone, only it"},
          offsetOption("first byte of the range, counted from the start of SOURCE"),
          sizeOption("number of bytes to read (default: the rest of SOURCE)"),
          buffered,
          {.name = "--format",
           .help = "tab (the default): \"MD5 <HEX>\" lines; sum: \"<hex>  NAME\" lines as md5sum, sha1sum "
                   "and sha256sum write and check them, NAME being SOURCE's file or device node (- for "
                   "standard input); sum does not go with --offset or --size",
           .kind = OptionKind::Text,
           .placeholder = "FORMAT",
           .group = "output"},
          {.name = "--json",
           .help = "print {\"checksum\": {source, offset, size, bytes, md5, sha1, sha256}}: the range's "
                   "numbers as numbers, the digests computed in lower-case hexadecimal",
           .group = "output"},
          {.name = "--check",
           .help = "SOURCE is a list as --format=sum or md5sum, sha1sum and sha256sum write it (- for "
                   "standard input): read each item it names (a file, node, drive, partition or volume) "
                   "and print \"NAME: OK\" or \"NAME: FAILED\"; status 0 only when every line is OK"}},
         checksumCommand},
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
