#include "cli/cli.h"

#include "cli/command_line.h"
#include "cli/containers_commands.h"
#include "cli/disasm_commands.h"
#include "cli/inspect_commands.h"
#include "cli/maintenance_commands.h"
#include "cli/stop_signals.h"
#include "cli/terminal_ui.h"
#include "core/selection.h"
#include "core/user_error.h"
#include "discovery/demo_drive.h"
#include "discovery/drives.h"
#include "discovery/partitions.h"
#include "discovery/selections.h"
#include "discovery/volumes.h"
#include "jobs/digest_set.h"
#include "jobs/output_file.h"
#include "platform/platform.h"
#include "transfer/transfer.h"

#include <algorithm>
#include <cctype>
#include <istream>
#include <ostream>

namespace cli {
namespace {

bool allDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// "0" to "99": a drive number.
bool isDriveNumber(const std::string& s) {
    return allDigits(s) && s.size() <= 2;
}

// "<drive>p<row>", for example "0p2".
bool isPartitionSpec(const std::string& s, std::string& drive, std::string& row) {
    const auto p = s.find_first_of("pP");
    if (p == std::string::npos) return false;
    drive = s.substr(0, p);
    row = s.substr(p + 1);
    return isDriveNumber(drive) && allDigits(row) && row.size() <= 9;
}

// "C:" or "C:\".
bool isVolumeSpec(const std::string& s) {
    return (s.size() == 2 || (s.size() == 3 && s[2] == '\\')) &&
           std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':';
}

void printRow(std::ostream& out, const std::vector<std::string>& cells) {
    for (size_t i = 0; i < cells.size(); ++i)
        out << (i ? "\t" : "") << cells[i];
    out << "\n";
}

int drivesCommand(platform::Backend& backend, Io& io) {
    auto titles = drives::columnTitles();
    titles.push_back(drives::kGeometryTitle);
    printRow(io.out, titles);
    const char separator = platform::decimalSeparator();
    for (const auto& row : drives::scan(backend))
        printRow(io.out, row.texts(separator));
    return Completed;
}

int volumesCommand(platform::Backend& backend, Io& io) {
    auto titles = volumes::columnTitles();
    titles.push_back(volumes::kDriveTypeNumberTitle);
    printRow(io.out, titles);
    for (const auto& row : volumes::list(backend))
        printRow(io.out, row.texts());
    return Completed;
}

// A drive number stands for "\\.\PHYSICALDRIVE<n>" with the number as drive text; anything else
// is opened as it is named.
std::pair<std::string, std::string> deviceOf(const std::string& source) {
    if (isDriveNumber(source)) return {platform::physicalDriveName(std::stoi(source)), source};
    return {source, source};
}

int partitionsCommand(platform::Backend& backend, const CommandLine& args, Io& io) {
    const auto [device, driveText] = deviceOf(args.operands[0]);
    const PartitionWalkResult walk =
        ReadPartitionTable(backend, device, driveText, args.number("--offset").value_or(0));
    std::vector<std::string> titles(kPartitionColumnTitles.begin(), kPartitionColumnTitles.end());
    printRow(io.out, titles);
    for (const auto& row : walk.rows) {
        const auto cells = row.cells();
        printRow(io.out, std::vector<std::string>(cells.begin(), cells.end()));
    }
    for (const auto& message : walk.messages)
        io.err << message << "\n";
    for (const auto& note : walk.notes)
        io.err << note << "\n";
    return walk.messages.empty() ? Completed : Failed;
}

int selectCommand(platform::Backend& backend, const CommandLine& args, Io& io) {
    const TFileInfo info =
        resolveSelection(backend, args.operands[0], args.number("--offset"), args.number("--size"));
    const std::vector<std::pair<const char*, std::string>> fields{
        {"FileName", info.FileName},
        {"Description", info.Description},
        {"DefaultName", info.DefaultName},
        {"DefaultExt", info.DefaultExt},
        {"Size", std::to_string(info.Size)},
        {"Offset", std::to_string(info.Offset)},
        {"DisplayText", info.DisplayText},
        {"BaseOffset", std::to_string(info.BaseOffset)},
        {"BaseSize", std::to_string(info.BaseSize)},
        {"CanRead", info.CanRead ? "true" : "false"},
        {"CanWrite", info.CanWrite ? "true" : "false"},
        {"DriveText", info.DriveText},
    };
    for (const auto& [name, value] : fields)
        io.out << name << "\t" << value << "\n";
    if (auto drive = platform::parsePhysicalDriveName(info.FileName)) {
        const std::string node = backend.physicalDriveNode(*drive);
        if (!node.empty()) io.out << "Device\t" << node << "\n";
    }
    return Completed;
}

// Questions go to the terminal; the flags answer the ones they name.
TerminalUi terminalFor(Io& io, const CommandLine& args) {
    TerminalUi ui(io.in, io.interactive, io.err, io.progressLine);
    ui.setDecimalSeparator(platform::decimalSeparator());
    if (args.has("--agree")) {
        ui.setAgreed(true);
        ui.answer(transfer::kRestoreSureId, Button::Yes);
        ui.answer(transfer::kRestoreStopNowId, Button::Ignore);
    }
    if (args.has("--ignore-size")) ui.answer(transfer::kSizeMismatchId, Button::Ignore);
    // The truncation question recommends Yes, and the image then holds exactly the range, as a
    // restore onto that range wants it.
    if (args.has("--truncate"))
        ui.answer(transfer::kTruncateId, Button::Yes);
    else if (args.has("--keep-tail"))
        ui.answer(transfer::kTruncateId, Button::No);
    else if (!io.interactive)
        ui.answer(transfer::kTruncateId, Button::Yes,
                  "standard input is not a terminal; --keep-tail keeps the bytes past the range");
    if (args.has("--replace")) ui.answer(TerminalUi::kReplaceId, Button::Yes);
    return ui;
}

int dumpCommand(platform::Backend& backend, const CommandLine& args, Io& io) {
    auto digests = digestsFor(args);
    const TFileInfo source =
        resolveSelection(backend, args.operands[0], args.number("--offset"), args.number("--size"));
    if (const auto why = jobs::outputRefusal(backend, args.operands[1], jobs::Existing::Replace)) {
        io.err << "Cannot write the image into " << args.operands[1] << ": " << *why
               << ". Nothing was read.\n";
        return Failed;
    }
    TerminalUi ui = terminalFor(io, args);
    ui.setFile(args.operands[1]);
    transfer::Options options{!args.has("--buffered")};
    options.digests = digests ? &*digests : nullptr;
    const auto result = transfer::dumpToFile(backend, ui, ui, source, options);
    ui.endProgress();
    // The digest lines, as checksum prints them, for a dump that holds every selected byte.
    if (digests && result.outcome == transfer::Outcome::Completed) io.out << digests->summary() << "\n";
    return exitFor(result);
}

int restoreCommand(platform::Backend& backend, const CommandLine& args, Io& io) {
    const TFileInfo target =
        resolveSelection(backend, args.operands[1], args.number("--offset"), args.number("--size"));
    TerminalUi ui = terminalFor(io, args);
    ui.setFile(args.operands[0]);
    const auto result =
        transfer::restoreFromFile(backend, ui, ui, target, {!args.has("--buffered"), args.has("--verify")});
    ui.endProgress();
    return exitFor(result);
}

int copyCommand(platform::Backend& backend, const CommandLine& args, Io& io) {
    const TFileInfo source = resolveSelection(backend, args.operands[0], args.number("--source-offset"),
                                              args.number("--source-size"));
    const TFileInfo target = resolveSelection(backend, args.operands[1], args.number("--target-offset"),
                                              args.number("--target-size"));
    TerminalUi ui = terminalFor(io, args);
    const auto result = transfer::directCopy(backend, ui, ui, source, target,
                                             {!args.has("--buffered"), args.has("--verify")});
    ui.endProgress();
    return exitFor(result);
}

// --offset and --size count inside the item (offset 0 is its first byte; --offset alone takes
// the rest of it); the record holds the absolute values, as the window's edits would. A range
// that leaves the item is refused here, before the action opens anything.
void narrow(TFileInfo& info, const std::string& spec, std::optional<int64_t> offset,
            std::optional<int64_t> size) {
    const int64_t first = offset.value_or(0);
    const auto item = platform::ByteRange::make(0, info.Size);
    const std::string itemText = spec + " has " + std::to_string(info.Size) + " bytes: ";
    const char* const rule = " (offsets and sizes count from its start). Nothing was read or written.";
    if (!item || first < 0 || first > item->end())
        throw UserError(itemText + "byte " + std::to_string(first) + " lies outside it" + rule);
    const int64_t length = size.value_or(item->end() - first);
    const auto wanted = platform::ByteRange::make(first, length);
    if (!wanted || !item->contains(*wanted))
        throw UserError(itemText + "the range from byte " + std::to_string(first) + " for " +
                        std::to_string(length) + " bytes leaves it" + rule);
    info.Offset += first;
    info.Size = length;
    // The window's edits rebuild the description the same way, from the absolute values.
    info.Description = selection::rangeDescription(info);
}

} // namespace

TFileInfo resolveSelection(platform::Backend& backend, const std::string& spec, std::optional<int64_t> offset,
                           std::optional<int64_t> size) {
    TFileInfo info;
    std::string drive, rowText;
    if (isDriveNumber(spec)) {
        const int n = std::stoi(spec);
        const auto rows = drives::scan(backend);
        if (n >= int(rows.size())) throw UserError("There is no physical drive " + std::to_string(n) + ".");
        info = selections::fromDrive(rows[size_t(n)]);
    } else if (isPartitionSpec(spec, drive, rowText)) {
        const PartitionWalkResult walk =
            ReadPartitionTable(backend, platform::physicalDriveName(std::stoi(drive)), drive, 0);
        const size_t row = size_t(std::stoul(rowText));
        if (row == 0 || row > walk.rows.size()) {
            std::string text;
            for (const auto& message : walk.messages)
                text += message + "\n";
            throw UserError(text + "The partition list of drive " + drive + " has no row " + rowText + ".");
        }
        info = selections::fromPartition(walk.rows[row - 1], walk.identity);
    } else if (isVolumeSpec(spec)) {
        const char letter = char(std::toupper(static_cast<unsigned char>(spec[0])));
        // The volume list never holds A:, so neither does a selection.
        const auto row = letter == 'A' ? std::nullopt : volumes::query(backend, letter);
        if (!row) throw UserError(std::string("There is no volume ") + letter + ":.");
        info = selections::fromVolume(*row);
    } else {
        info = selection::fromFile(backend, TFileInfo{}, spec);
    }
    narrow(info, spec, offset, size);
    return info;
}

std::optional<digest::Set> digestsFor(const CommandLine& args) {
    if (!args.has("--hash")) return std::nullopt;
    try {
        return std::optional<digest::Set>(std::in_place, digest::Set::parse(args.text("--hash")));
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what(), args.command);
    }
}

namespace {

using ToolCommand = int (*)(platform::Backend&, const CommandLine&, Dialogs&, JobControl&, std::ostream&,
                            std::ostream&);

int toolCommand(ToolCommand run, platform::Backend& backend, const CommandLine& args, Io& io) {
    TerminalUi ui = terminalFor(io, args);
    const int status = run(backend, args, ui, ui, io.out, io.err);
    ui.endProgress();
    return status;
}

int runCommand(const CommandLine& args, platform::Backend& backend, Io& io) {
    // A signal that came while the demo drive was being written stops the command before it starts.
    if (stopSignal()) return Failed;
    const std::string& command = args.command;
    if (command == "drives") return drivesCommand(backend, io);
    if (command == "volumes") return volumesCommand(backend, io);
    if (command == "select") return selectCommand(backend, args, io);
    if (command == "partitions") return partitionsCommand(backend, args, io);
    if (command == "dump") return dumpCommand(backend, args, io);
    if (command == "restore") return restoreCommand(backend, args, io);
    if (command == "copy") return copyCommand(backend, args, io);
    if (command == "hexdump") return toolCommand(hexdumpCommand, backend, args, io);
    if (command == "map") return toolCommand(mapCommand, backend, args, io);
    if (command == "disasm") return toolCommand(disasmCommand, backend, args, io);
    if (command == "checksum") return toolCommand(checksumCommand, backend, args, io);
    if (command == "erase") return toolCommand(eraseCommand, backend, args, io);
    if (command == "speed") return toolCommand(speedCommand, backend, args, io);
    if (command == "seek") return toolCommand(seekCommand, backend, args, io);
    if (command == "cdi-save") return toolCommand(cdiSaveCommand, backend, args, io);
    if (command == "cdi-load") return toolCommand(cdiLoadCommand, backend, args, io);
    if (command == "zip") return toolCommand(zipCommand, backend, args, io);
    throw UsageError("unknown command " + command);
}

} // namespace

int run(const std::vector<std::string>& argv, platform::Backend& backend, Io io) {
    int status = Completed;
    try {
        const CommandLine args = parseCommandLine(argv);
        if (args.help) {
            io.out << helpText(args.command);
            return Completed;
        }
        if (args.version) {
            io.out << versionText();
            return Completed;
        }
        if (args.demo) {
            demo::DemoDrive drive(backend); // removed again when the command ends, stopped or not
            status = runCommand(args, drive.backend(), io);
        } else {
            status = runCommand(args, backend, io);
        }
    } catch (const UsageError& e) {
        io.err << "tarnwick-cli: " << e.what() << "\n" << usageText(e.command);
        return Usage;
    } catch (const std::exception& e) {
        io.err << e.what() << "\n";
        status = Failed;
    }
    if (const int signal = stopSignal()) {
        // A closed output pipe ends the program as quietly as it ends other tools.
        if (!outputClosed()) io.err << "tarnwick-cli: stopped by " << stopSignalName(signal) << ".\n";
        return kStoppedBySignal + signal;
    }
    return status;
}

} // namespace cli
