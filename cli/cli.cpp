#include "cli/cli.h"

#include "cli/command_line.h"
#include "cli/stop_signals.h"
#include "cli/terminal_ui.h"
#include "core/selection.h"
#include "core/user_error.h"
#include "discovery/demo_drive.h"
#include "discovery/drives.h"
#include "discovery/partitions.h"
#include "discovery/selections.h"
#include "discovery/volumes.h"
#include "platform/platform.h"
#include "registry/commands.h"

#include <algorithm>
#include <cctype>
#include <istream>
#include <ostream>

namespace cli {
namespace {

void printRow(std::ostream& out, const std::vector<std::string>& cells) {
    for (size_t i = 0; i < cells.size(); ++i)
        out << (i ? "\t" : "") << cells[i];
    out << "\n";
}

int drivesCommand(CommandContext& c) {
    platform::Backend& backend = c.backend;
    auto titles = drives::columnTitles();
    titles.push_back(drives::kGeometryTitle);
    printRow(c.out, titles);
    const char separator = platform::decimalSeparator();
    for (const auto& row : drives::scan(backend))
        printRow(c.out, row.texts(separator));
    return Completed;
}

int volumesCommand(CommandContext& c) {
    platform::Backend& backend = c.backend;
    auto titles = volumes::columnTitles();
    titles.push_back(volumes::kDriveTypeNumberTitle);
    printRow(c.out, titles);
    for (const auto& row : volumes::list(backend))
        printRow(c.out, row.texts());
    return Completed;
}

// A drive number stands for "\\.\PHYSICALDRIVE<n>" with the number as drive text; anything else
// is opened as it is named.
std::pair<std::string, std::string> deviceOf(const std::string& source) {
    if (selections::isDriveNumber(source)) return {platform::physicalDriveName(std::stoi(source)), source};
    return {source, source};
}

int partitionsCommand(CommandContext& c) {
    platform::Backend& backend = c.backend;
    const CommandLine& args = c.args;
    const auto [device, driveText] = deviceOf(args.operands[0]);
    const PartitionWalkResult walk =
        ReadPartitionTable(backend, device, driveText, args.number("--offset").value_or(0));
    std::vector<std::string> titles(kPartitionColumnTitles.begin(), kPartitionColumnTitles.end());
    printRow(c.out, titles);
    for (const auto& row : walk.rows) {
        const auto cells = row.cells();
        printRow(c.out, std::vector<std::string>(cells.begin(), cells.end()));
    }
    for (const auto& message : walk.messages)
        c.err << message << "\n";
    for (const auto& note : walk.notes)
        c.err << note << "\n";
    return walk.messages.empty() ? Completed : Failed;
}

int selectCommand(CommandContext& c) {
    platform::Backend& backend = c.backend;
    const CommandLine& args = c.args;
    const TFileInfo info =
        selections::resolve(backend, args.operands[0], args.number("--offset"), args.number("--size"));
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
        c.out << name << "\t" << value << "\n";
    if (auto drive = platform::parsePhysicalDriveName(info.FileName)) {
        const std::string node = backend.physicalDriveNode(*drive);
        if (!node.empty()) c.out << "Device\t" << node << "\n";
    }
    return Completed;
}

} // namespace

const std::vector<CommandSpec>& commands() {
    static const std::vector<CommandSpec> all = [] {
        std::vector<CommandSpec> specs{
            {"drives",
             {},
             "drives takes no arguments",
             "list the physical drives (tab-separated, with a header line)",
             {},
             drivesCommand},
            {"volumes",
             {},
             "volumes takes no arguments",
             "list the logical volumes (tab-separated, with a header line)",
             {},
             volumesCommand},
            {"partitions",
             {"SOURCE"},
             "partitions needs one SOURCE",
             "list the partition table of a drive number, device node or image file",
             {{.name = "--offset", .help = "read the table at byte N of SOURCE", .kind = OptionKind::Number}},
             partitionsCommand},
            {"select",
             {"SELECTION"},
             "select needs one SELECTION",
             "show the item a selection stands for",
             {{.name = "--offset",
               .help = "first byte of the range, counted from the start of SELECTION",
               .kind = OptionKind::Number},
              {.name = "--size",
               .help = "number of bytes in the range (default: the rest of SELECTION)",
               .kind = OptionKind::Number}},
             selectCommand},
        };
        for (const auto& spec : registry::commands())
            specs.push_back(spec);
        return specs;
    }();
    return all;
}

const CommandSpec* findCommand(const std::string& name) {
    for (const auto& c : commands())
        if (c.name == name) return &c;
    return nullptr;
}

namespace {

// Questions go to the terminal; the flags answer the ones they name.
TerminalUi terminalFor(Io& io, const CommandSpec& spec, const CommandLine& args) {
    TerminalUi ui(io.in, io.interactive, io.err, io.progressLine);
    ui.setDecimalSeparator(platform::decimalSeparator());
    ui.setQuiet(args.quiet);
    if (args.progress) ui.setProgressLog(true);
    if (!io.interactive)
        for (const auto& [answer, note] : spec.unattended)
            ui.answer(answer.question, answer.button, note);
    for (const auto& option : spec.options)
        if (args.has(option.name))
            for (const auto& answer : option.answers)
                ui.answer(answer.question, answer.button);
    // The overwrite gate's agreement, for every command that writes a selection.
    if (args.has("--agree")) ui.setAgreed(true);
    if (spec.fileOperand >= 0) ui.setFile(args.operands[size_t(spec.fileOperand)]);
    return ui;
}

int runCommand(const CommandLine& args, platform::Backend& backend, Io& io) {
    // A signal that came while the demo drive was being written stops the command before it starts.
    if (stopSignal()) return Failed;
    const CommandSpec* spec = findCommand(args.command);
    if (!spec) throw UsageError("unknown command " + args.command);
    TerminalUi ui = terminalFor(io, *spec, args);
    CommandContext context{backend, args, ui, ui, io.out, io.err};
    int status = Failed;
    try {
        status = spec->run(context);
    } catch (...) {
        ui.release();
        throw;
    }
    // --quiet says nothing while things go well; a failure is explained.
    if (status != Completed || stopSignal()) ui.release();
    ui.endProgress();
    return status;
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
