#include "cli/cli.h"

#include "app/selection.h"
#include "app/user_error.h"
#include "cli/terminal_ui.h"
#include "discovery/demo_drive.h"
#include "discovery/drives.h"
#include "discovery/partitions.h"
#include "discovery/volumes.h"
#include "platform/platform.h"
#include "transfer/transfer.h"

#include <algorithm>
#include <cctype>
#include <clocale>
#include <istream>
#include <map>
#include <ostream>

namespace cli {
namespace {

bool allDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// "0" to "99": a drive number.
bool isDriveNumber(const std::string& s) { return allDigits(s) && s.size() <= 2; }

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
    return (s.size() == 2 || (s.size() == 3 && s[2] == '\\')) && std::isalpha(static_cast<unsigned char>(s[0])) &&
           s[1] == ':';
}

const char kUsage[] =
    "usage: tarnwick-cli COMMAND [ARGS] [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  drives              list the physical drives (tab-separated, with a header line)\n"
    "  volumes             list the logical volumes (tab-separated, with a header line)\n"
    "  partitions SOURCE   list the partition table of a drive number, device node or\n"
    "                      image file (--offset N reads the table at that byte)\n"
    "  select SELECTION    show the item a selection stands for\n"
    "  dump SOURCE IMAGE   save SOURCE's bytes into the raw image file IMAGE\n"
    "  restore IMAGE TARGET\n"
    "                      write the raw image file IMAGE onto TARGET (destroys TARGET's data)\n"
    "  copy SOURCE TARGET  copy SOURCE onto TARGET of the same size (destroys TARGET's data)\n"
    "\n"
    "SELECTION is a drive number (0), a partition (0p2: the second row of drive 0's\n"
    "partition list), a volume (C:), a device node or a file path.\n"
    "\n"
    "options:\n"
    "  --offset N          first byte of the range, counted from the start of the device\n"
    "                      or file (decimal, or hexadecimal with a 0x prefix)\n"
    "  --size N            number of bytes in the range\n"
    "  --source-offset N, --source-size N, --target-offset N, --target-size N\n"
    "                      the same for the two sides of copy\n"
    "  --agree             agree to overwrite the target (as typing 'i agree' and Yes), and\n"
    "                      answer restore's warnings so that it goes on\n"
    "  --ignore-size       restore an image whose length differs from the target's size\n"
    "  --truncate          cut a dump that ran past the selection's end back to its size\n"
    "  --replace           replace an existing IMAGE when dumping\n"
    "  --demo              add the demo drive: a generated 64 MiB disk image as drive 0,\n"
    "                      ahead of the machine's own drives (which move up by one)\n"
    "  -h, --help          show this text\n"
    "\n"
    "Questions are asked on the terminal; when standard input is not a terminal each one\n"
    "takes its safe answer. Exit status: 0 done, 1 failed or refused, 2 usage error.\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values; // options that take a value
    std::vector<std::string> flags;            // options without a value
    bool help = false;
    bool has(const std::string& flag) const { return std::find(flags.begin(), flags.end(), flag) != flags.end(); }
};

Args parseArgs(const std::vector<std::string>& args) {
    static const std::vector<std::string> valued{"--offset",        "--size",        "--source-offset",
                                                 "--source-size",   "--target-offset", "--target-size"};
    static const std::vector<std::string> switches{"--agree", "--ignore-size", "--truncate", "--replace",
                                                   "--demo"};
    Args parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            parsed.help = true;
        } else if (std::find(valued.begin(), valued.end(), a) != valued.end()) {
            if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
            parsed.values[a] = args[++i];
        } else if (a.rfind("--", 0) == 0 && a.find('=') != std::string::npos) {
            const std::string key = a.substr(0, a.find('='));
            if (std::find(valued.begin(), valued.end(), key) == valued.end()) throw UsageError("unknown option " + key);
            parsed.values[key] = a.substr(a.find('=') + 1);
        } else if (std::find(switches.begin(), switches.end(), a) != switches.end()) {
            parsed.flags.push_back(a);
        } else if (a.size() > 1 && a[0] == '-') {
            throw UsageError("unknown option " + a);
        } else {
            parsed.positional.push_back(a);
        }
    }
    return parsed;
}

std::optional<int64_t> number(const Args& args, const std::string& key) {
    auto it = args.values.find(key);
    if (it == args.values.end()) return std::nullopt;
    try {
        return selection::parseInteger(it->second, false);
    } catch (const UserError& e) {
        throw UsageError(key + ": " + e.what());
    }
}

void printRow(std::ostream& out, const std::vector<std::string>& cells) {
    for (size_t i = 0; i < cells.size(); ++i) out << (i ? "\t" : "") << cells[i];
    out << "\n";
}

char decimalSeparator() {
    std::setlocale(LC_NUMERIC, "");
    const char* point = std::localeconv()->decimal_point;
    const char c = (point && *point) ? *point : '.';
    std::setlocale(LC_NUMERIC, "C");
    return c;
}

int drivesCommand(platform::Backend& backend, Io& io) {
    auto titles = drives::columnTitles();
    titles.push_back(drives::kGeometryTitle);
    printRow(io.out, titles);
    const char separator = decimalSeparator();
    for (const auto& row : drives::scan(backend)) printRow(io.out, row.texts(separator));
    return Completed;
}

int volumesCommand(platform::Backend& backend, Io& io) {
    auto titles = volumes::columnTitles();
    titles.push_back(volumes::kDriveTypeNumberTitle);
    printRow(io.out, titles);
    for (const auto& row : volumes::list(backend)) printRow(io.out, row.texts());
    return Completed;
}

// A drive number stands for "\\.\PHYSICALDRIVE<n>" with the number as drive text; anything else
// is opened as it is named.
std::pair<std::string, std::string> deviceOf(const std::string& source) {
    if (isDriveNumber(source)) return {platform::physicalDriveName(std::stoi(source)), source};
    return {source, source};
}

int partitionsCommand(platform::Backend& backend, const Args& args, Io& io) {
    if (args.positional.size() != 2) throw UsageError("partitions needs one SOURCE");
    const auto [device, driveText] = deviceOf(args.positional[1]);
    const PartitionWalkResult walk =
        ReadPartitionTable(backend, device, driveText, number(args, "--offset").value_or(0));
    std::vector<std::string> titles(kPartitionColumnTitles.begin(), kPartitionColumnTitles.end());
    printRow(io.out, titles);
    for (const auto& row : walk.rows) {
        const auto cells = row.cells();
        printRow(io.out, std::vector<std::string>(cells.begin(), cells.end()));
    }
    for (const auto& message : walk.messages) io.err << message << "\n";
    return walk.messages.empty() ? Completed : Failed;
}

int selectCommand(platform::Backend& backend, const Args& args, Io& io) {
    if (args.positional.size() != 2) throw UsageError("select needs one SELECTION");
    const TFileInfo info =
        resolveSelection(backend, args.positional[1], number(args, "--offset"), number(args, "--size"));
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
    for (const auto& [name, value] : fields) io.out << name << "\t" << value << "\n";
    if (auto drive = platform::parsePhysicalDriveName(info.FileName)) {
        const std::string node = backend.physicalDriveNode(*drive);
        if (!node.empty()) io.out << "Device\t" << node << "\n";
    }
    return Completed;
}

// Questions go to the terminal; the flags answer the ones they name.
TerminalUi terminalFor(Io& io, const Args& args) {
    TerminalUi ui(io.in, io.interactive, io.err, io.progressLine);
    if (args.has("--agree")) {
        ui.setAgreed(true);
        ui.answer(transfer::kRestoreSureId, Button::Yes);
        ui.answer(transfer::kRestoreStopNowId, Button::Ignore);
    }
    if (args.has("--ignore-size")) ui.answer(transfer::kSizeMismatchId, Button::Ignore);
    if (args.has("--truncate")) ui.answer(transfer::kTruncateId, Button::Yes);
    if (args.has("--replace")) ui.answer(TerminalUi::kReplaceId, Button::Yes);
    return ui;
}

int exitFor(const transfer::Result& r) { return r.outcome == transfer::Outcome::Completed ? Completed : Failed; }

int dumpCommand(platform::Backend& backend, const Args& args, Io& io) {
    if (args.positional.size() != 3) throw UsageError("dump needs SOURCE and IMAGE");
    const TFileInfo source =
        resolveSelection(backend, args.positional[1], number(args, "--offset"), number(args, "--size"));
    TerminalUi ui = terminalFor(io, args);
    ui.setFile(args.positional[2]);
    const auto result = transfer::dumpToFile(backend, ui, source);
    ui.endProgress();
    return exitFor(result);
}

int restoreCommand(platform::Backend& backend, const Args& args, Io& io) {
    if (args.positional.size() != 3) throw UsageError("restore needs IMAGE and TARGET");
    const TFileInfo target =
        resolveSelection(backend, args.positional[2], number(args, "--offset"), number(args, "--size"));
    TerminalUi ui = terminalFor(io, args);
    ui.setFile(args.positional[1]);
    const auto result = transfer::restoreFromFile(backend, ui, target);
    ui.endProgress();
    return exitFor(result);
}

int copyCommand(platform::Backend& backend, const Args& args, Io& io) {
    if (args.positional.size() != 3) throw UsageError("copy needs SOURCE and TARGET");
    const TFileInfo source = resolveSelection(backend, args.positional[1], number(args, "--source-offset"),
                                              number(args, "--source-size"));
    const TFileInfo target = resolveSelection(backend, args.positional[2], number(args, "--target-offset"),
                                              number(args, "--target-size"));
    TerminalUi ui = terminalFor(io, args);
    const auto result = transfer::directCopy(backend, ui, source, target);
    ui.endProgress();
    return exitFor(result);
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
        info = selection::fromDriveRow(rows[size_t(n)].texts());
    } else if (isPartitionSpec(spec, drive, rowText)) {
        const PartitionWalkResult walk =
            ReadPartitionTable(backend, platform::physicalDriveName(std::stoi(drive)), drive, 0);
        const size_t row = size_t(std::stoul(rowText));
        if (row == 0 || row > walk.rows.size()) {
            std::string text;
            for (const auto& message : walk.messages) text += message + "\n";
            throw UserError(text + "The partition list of drive " + drive + " has no row " + rowText + ".");
        }
        const auto cells = walk.rows[row - 1].cells();
        info = selection::fromPartitionRow(std::vector<std::string>(cells.begin(), cells.end()));
    } else if (isVolumeSpec(spec)) {
        const char letter = char(std::toupper(static_cast<unsigned char>(spec[0])));
        // The volume list never holds A:, so neither does a selection.
        const auto row = letter == 'A' ? std::nullopt : volumes::query(backend, letter);
        if (!row) throw UserError(std::string("There is no volume ") + letter + ":.");
        info = selection::fromVolumeRow(row->texts());
    } else {
        info = selection::fromFile(backend, TFileInfo{}, spec);
    }
    // The window's edits show the values and rebuild the description the same way.
    if (offset) info.Offset = *offset;
    if (size) info.Size = *size;
    info.Description = selection::rangeDescription(info);
    return info;
}

int run(const std::vector<std::string>& argv, platform::Backend& backend, Io io) {
    try {
        const Args args = parseArgs(argv);
        if (args.help) {
            io.out << kUsage;
            return Completed;
        }
        if (args.has("--demo")) {
            demo::DemoDrive drive(backend); // removed again when the command ends
            std::vector<std::string> rest;
            for (const auto& a : argv)
                if (a != "--demo") rest.push_back(a);
            return run(rest, drive.backend(), io);
        }
        if (args.positional.empty()) throw UsageError("no command given");
        const std::string& command = args.positional[0];
        if (command == "drives") {
            if (args.positional.size() != 1) throw UsageError("drives takes no arguments");
            return drivesCommand(backend, io);
        }
        if (command == "volumes") {
            if (args.positional.size() != 1) throw UsageError("volumes takes no arguments");
            return volumesCommand(backend, io);
        }
        if (command == "select") return selectCommand(backend, args, io);
        if (command == "partitions") return partitionsCommand(backend, args, io);
        if (command == "dump") return dumpCommand(backend, args, io);
        if (command == "restore") return restoreCommand(backend, args, io);
        if (command == "copy") return copyCommand(backend, args, io);
        throw UsageError("unknown command " + command);
    } catch (const UsageError& e) {
        io.err << "tarnwick-cli: " << e.what() << "\n\n" << kUsage;
        return Usage;
    } catch (const std::exception& e) {
        io.err << e.what() << "\n";
        return Failed;
    }
}

} // namespace cli
