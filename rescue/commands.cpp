#include "rescue/commands.h"

#include "discovery/partitions.h"
#include "discovery/selections.h"
#include "platform/platform.h"
#include "rescue/rescue.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace rescue {

using cli::CommandLine;
using cli::UsageError;

namespace {

// What the user knows the source by: a drive's node rather than its number's internal name.
std::string deviceName(platform::Backend& backend, const TFileInfo& sel) {
    if (const auto drive = platform::parsePhysicalDriveName(sel.FileName))
        if (std::string node = backend.physicalDriveNode(*drive); !node.empty()) return node;
    return sel.FileName;
}

// The partitions of the drive the selection lies on, by the names a selection takes ("1p2"),
// with where their bytes lie on the drive: what a bad range means to the user's file systems.
std::vector<std::pair<std::string, platform::ByteRange>> partitionsOf(platform::Backend& backend,
                                                                      const TFileInfo& sel) {
    std::vector<std::pair<std::string, platform::ByteRange>> found;
    if (!platform::parsePhysicalDriveName(sel.FileName)) return found;
    const PartitionWalkResult walk = ReadPartitionTable(backend, sel.FileName, sel.DriveText, 0);
    for (size_t i = 0; i < walk.rows.size(); ++i)
        if (const auto range = platform::ByteRange::make(walk.rows[i].byteOffset, walk.rows[i].byteSize))
            found.emplace_back(sel.DriveText + "p" + std::to_string(i + 1), *range);
    return found;
}

// A drive number, a partition ("1p2"), a volume ("C:") or a device node: what a rescue writes onto
// behind the overwrite gate instead of into an image file.
bool namesSelection(platform::Backend& backend, const std::string& name) {
    const auto p = name.find('p');
    const bool partition = p != std::string::npos && selections::isDriveNumber(name.substr(0, p)) &&
                           !name.substr(p + 1).empty() &&
                           name.find_first_not_of("0123456789", p + 1) == std::string::npos;
    const bool volume =
        name.size() == 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]));
    if (selections::isDriveNumber(name) || partition || volume) return true;
    const auto info = backend.nameInfo(name);
    return info && info->kind == platform::NameKind::Device;
}

// The areas in one of `states`, one line each.
void printRanges(std::ostream& out, const char* title, const Map& map, std::initializer_list<State> states,
                 const TFileInfo& sel, const std::string& device,
                 const std::vector<std::pair<std::string, platform::ByteRange>>& partitions) {
    for (const Area& a : map.areas()) {
        if (std::find(states.begin(), states.end(), a.state) == states.end()) continue;
        out << title << " " << a.offset << " " << a.size << " (byte " << sel.Offset + a.offset << " of "
            << device;
        std::string in;
        if (const auto onDrive = platform::ByteRange::make(sel.Offset + a.offset, a.size))
            for (const auto& [name, range] : partitions)
                if (range.overlaps(*onDrive)) in += (in.empty() ? "; in " : ", ") + name;
        out << in << ")\n";
    }
}

} // namespace

int rescueCommand(platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
                  std::ostream& out, std::ostream& err) {
    Options options;
    if (args.has("--fill")) {
        const auto fill = parseFill(args.text("--fill"));
        if (!fill)
            throw UsageError("--fill takes hexadecimal bytes, 1 to " + std::to_string(kMaxFill) +
                                 " of them (00, FF, DEADBEEF): '" + args.text("--fill") + "'",
                             args.command);
        options.fill = *fill;
    }
    if (const auto retries = args.number("--retries")) {
        if (*retries > kMaxRetries)
            throw UsageError("--retries takes 0 to " + std::to_string(kMaxRetries), args.command);
        options.retries = int(*retries);
    }
    if (const auto bytes = args.number("--sector-size")) {
        if (*bytes < 512 || *bytes > kMaxSectorSize || *bytes % 512 != 0)
            throw UsageError("--sector-size takes a multiple of 512 up to " + std::to_string(kMaxSectorSize),
                             args.command);
        options.sectorSize = *bytes;
    }
    for (size_t i = 1; i < 3; ++i)
        if (cli::isStandardStream(args.operands[i]))
            throw UsageError(
                "IMAGE and MAPFILE must be files: a rescue writes them in place and reads the map "
                "back to continue",
                args.command);
    const bool ontoSelection = namesSelection(backend, args.operands[1]);
    for (const char* option : {"--target-offset", "--agree"})
        if (!ontoSelection && args.has(option))
            throw UsageError(std::string(option) + " goes with a TARGET drive, partition or volume, and " +
                                 args.operands[1] + " names a file",
                             args.command);
    if (ontoSelection && args.has("--replace"))
        throw UsageError("--replace goes with an IMAGE file, and " + args.operands[1] +
                             " names a drive, partition or volume",
                         args.command);
    options.reverse = args.has("--reverse");
    options.split = !args.has("--no-split");
    options.scrape = !args.has("--no-scrape");
    options.direct = !args.has("--buffered");
    const auto sel = selections::resolveOrSay(backend, args.operands[0], args.number("--offset"),
                                              args.number("--size"), err);
    if (!sel) return 1;
    std::optional<TFileInfo> target;
    if (ontoSelection) {
        // As many bytes as the source's range, from the target's own byte --target-offset on.
        target = selections::resolveOrSay(backend, args.operands[1], args.number("--target-offset"),
                                          sel->Size, err);
        if (!target) return 1;
    }
    const Result r = target
                         ? rescueToSelection(backend, dialogs, job, *sel, *target, args.operands[2], options)
                         : rescueToFile(backend, dialogs, job, *sel, args.operands[1], args.operands[2],
                                        args.has("--replace"), options);
    job.endProgress();
    // The map stands for what happened whenever reading began, also after a stop or a failure.
    if (r.outcome != Outcome::NotStarted && r.map.size() == sel->Size && r.reads > 0) {
        const std::string device = deviceName(backend, *sel);
        const auto partitions = r.map.bytesIn(State::Finished) < sel->Size
                                    ? partitionsOf(backend, *sel)
                                    : std::vector<std::pair<std::string, platform::ByteRange>>{};
        printRanges(out, "Bad:", r.map, {State::Bad}, *sel, device, partitions);
        // Not known bad yet: left by --no-split or --no-scrape, or by a stop.
        printRanges(out, "Failed:", r.map, {State::Failed, State::NotSplit}, *sel, device, partitions);
        out << summary(r, sel->Size) << "\n";
        if (r.stopped) out << "Stopped: the same command goes on from " << args.operands[2] << ".\n";
    } else if (r.outcome == Outcome::Completed) {
        out << summary(r, sel->Size) << "\n";
    }
    return cli::exitFor(r);
}

std::vector<cli::CommandSpec> commands() {
    using cli::OptionKind;
    using cli::OptionSpec;
    return {
        {"rescue",
         {"SOURCE", "IMAGE", "MAPFILE"},
         "rescue needs SOURCE, IMAGE and MAPFILE",
         "copy what can be read of SOURCE's range into the image file IMAGE, large blocks first and the bad "
         "areas sector by sector last; MAPFILE records which bytes were rescued, and the same command again "
         "goes on from it. An IMAGE that names a drive, partition or volume (1, 1p2, C:, /dev/sdc) is "
         "written "
         "onto behind the overwrite gate instead",
         {{.name = "--offset",
           .help = "first byte of the range, counted from the start of SOURCE",
           .kind = OptionKind::Number},
          {.name = "--size",
           .help = "number of bytes to rescue (default: the rest of SOURCE)",
           .kind = OptionKind::Number},
          {.name = "--fill",
           .help =
               "hexadecimal bytes written, repeated, where sectors stayed unreadable (default 00; at most "
               "512 bytes, for example DEADBEEF)",
           .kind = OptionKind::Text,
           .placeholder = "HEX"},
          {.name = "--retries",
           .help = "read the bad sectors again N more times (0 to 255, default 0)",
           .kind = OptionKind::Number},
          {.name = "--reverse", .help = "read what the first pass skipped from its end backwards"},
          {.name = "--no-split",
           .help = "leave the blocks that failed whole instead of reading them sector by sector",
           .group = "split"},
          {.name = "--no-scrape",
           .help = "read failed blocks only inwards from their edges up to the first bad sector, and leave "
                   "what lies between for a later run",
           .group = "split"},
          {.name = "--sector-size",
           .help = "bytes read at once when the failed blocks are split (default: the device's physical "
                   "sector, which a read error takes whole)",
           .kind = OptionKind::Number},
          {.name = "--target-offset",
           .help = "first byte written when IMAGE is a drive, partition or volume, counted from its start "
                   "(default 0)",
           .kind = OptionKind::Number},
          {.name = "--agree", .help = "agree to overwrite IMAGE when it is a drive, partition or volume"},
          {.name = "--replace",
           .help = "replace IMAGE when it exists without MAPFILE (an existing MAPFILE is always continued)",
           .answers = {{cli::kReplaceQuestionId, Button::Yes}}},
          {.name = "--buffered",
           .help = "read a block device through the system's cache instead of past it"}},
         cli::runWith<rescueCommand>},
    };
}

} // namespace rescue
