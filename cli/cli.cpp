#include "cli/cli.h"

#include "cli/command_line.h"
#include "cli/std_streams.h"
#include "cli/stop_signals.h"
#include "cli/terminal_ui.h"
#include "core/json.h"
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
#include <set>

namespace cli {
namespace {

void printRow(std::ostream& out, const std::vector<std::string>& cells) {
    for (size_t i = 0; i < cells.size(); ++i)
        out << (i ? "\t" : "") << cells[i];
    out << "\n";
}

// A listing: tab-separated under a title line, or with --json as {"<name>": [objects]} with the
// columns in `numeric` as numbers.
void printTable(CommandContext& c, const std::string& name, const std::vector<std::string>& titles,
                const std::vector<std::vector<std::string>>& rows, const std::set<size_t>& numeric) {
    if (c.args.has("--json")) {
        c.out << "{" << json::quote(name) << ": " << json::rows(titles, rows, numeric) << "}\n";
        return;
    }
    printRow(c.out, titles);
    for (const auto& row : rows)
        printRow(c.out, row);
}

int drivesCommand(CommandContext& c) {
    platform::Backend& backend = c.backend;
    // JSON numbers take a point whatever the user's decimal separator.
    const char separator = c.args.has("--json") ? '.' : platform::decimalSeparator();
    std::vector<std::vector<std::string>> rows;
    for (const auto& row : drives::scan(backend)) {
        const auto cells = row.tableCells(separator);
        rows.emplace_back(cells.begin(), cells.end());
    }
    // The index, the geometry and the sizes; the disk's facts are texts.
    printTable(c, "drives", drives::tableTitles(), rows, {0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    return Completed;
}

int volumesCommand(CommandContext& c) {
    auto titles = volumes::columnTitles();
    titles.push_back(volumes::kDriveTypeNumberTitle);
    std::vector<std::vector<std::string>> rows;
    for (const auto& row : volumes::list(c.backend))
        rows.push_back(row.texts());
    // Sizes, available space and the drive type's number.
    printTable(c, "volumes", titles, rows, {4, 5, 8, 9, 10});
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
    std::vector<std::vector<std::string>> rows;
    for (const auto& row : walk.rows) {
        const auto cells = row.cells();
        rows.emplace_back(cells.begin(), cells.end());
    }
    // The slot, and the start and size in sectors, bytes and MiB; the drive may be a file's name.
    printTable(c, "partitions", titles, rows, {0, 6, 7, 8, 9});
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
    const auto facts = drives::selectionFacts(backend, info);
    if (args.has("--json")) {
        // Sizes and offsets as numbers, the two permissions as true or false.
        const std::set<std::string> numbers{"Size", "Offset", "BaseOffset", "BaseSize"};
        std::string object;
        for (const auto& [name, value] : fields)
            object += (object.empty() ? "" : ", ") + json::quote(json::key(name)) + ": " +
                      (numbers.count(name)                      ? json::number(value)
                       : std::string(name).rfind("Can", 0) == 0 ? value
                                                                : json::quote(value));
        for (const auto& [name, value] : facts)
            object += ", " + json::quote(json::key(name)) + ": " + json::quote(value);
        c.out << "{\"select\": {" << object << "}}\n";
        return Completed;
    }
    for (const auto& [name, value] : fields)
        c.out << name << "\t" << value << "\n";
    for (const auto& [name, value] : facts)
        c.out << name << "\t" << value << "\n";
    return Completed;
}

} // namespace

const std::vector<CommandSpec>& commands() {
    static const std::vector<CommandSpec> all = [] {
        const OptionSpec jsonOption{
            .name = "--json",
            .help = "print the list as JSON: one object a row, keys from the column titles "
                    "(\"Size (bytes)\" is size_bytes), numbers as numbers"};
        std::vector<CommandSpec> specs{
            {"drives",
             {},
             "drives takes no arguments",
             "list the physical drives (tab-separated, with a header line)",
             {jsonOption},
             drivesCommand},
            {"volumes",
             {},
             "volumes takes no arguments",
             "list the logical volumes (tab-separated, with a header line)",
             {jsonOption},
             volumesCommand},
            {"partitions",
             {"SOURCE"},
             "partitions needs one SOURCE",
             "list the partition table of a drive number, device node or image file",
             {{.name = "--offset", .help = "read the table at byte N of SOURCE", .kind = OptionKind::Number},
              jsonOption},
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
               .kind = OptionKind::Number},
              {.name = "--json",
               .help = "print the fields as one JSON object, {\"select\": {...}}: keys in lower case with "
                       "words joined by _ (file_name), sizes and offsets as numbers, can_read and can_write "
                       "as true or false"}},
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
    IoStream input(io.in), output(io.out);
    CommandContext context{backend, args, ui, ui, io.out, io.err, &input, &output};
    int status = Failed;
    try {
        status = spec->run(context);
    } catch (...) {
        ui.release();
        throw;
    }
    // A failure that came from a question's safe answer is a refusal, for scripts to tell apart.
    if (status == Failed && ui.declined()) status = Refused;
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
