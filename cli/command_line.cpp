#include "cli/command_line.h"

#include "core/selection.h"
#include "core/user_error.h"
#include "registry/commands.h"

#include <algorithm>

namespace cli {
namespace {

// Every option takes a value or never does, whatever the command: the arguments can be split
// before the command is known, so options may come before it. The first command that has an
// option says what it takes (the tests check that every other one agrees).
const OptionSpec* anyOption(const std::string& option) {
    for (const auto& c : commands())
        for (const auto& o : c.options)
            if (o.name == option) return &o;
    return nullptr;
}

bool isCommandOption(const std::string& option) {
    return anyOption(option) != nullptr;
}

// Options whose value is text rather than a number.
bool takesText(const std::string& option) {
    const OptionSpec* o = anyOption(option);
    return o && o->kind == OptionKind::Text;
}

bool takesValue(const std::string& option) {
    const OptionSpec* o = anyOption(option);
    return o && o->kind != OptionKind::Flag;
}

// What an option's value is called in the help.
std::string placeholder(const std::string& option) {
    const OptionSpec* o = anyOption(option);
    if (!o || o->kind == OptionKind::Flag) return "";
    if (o->kind == OptionKind::Number) return " N";
    return " " + (o->placeholder.empty() ? std::string("TEXT") : o->placeholder);
}

bool accepts(const CommandSpec& command, const std::string& option) {
    return std::any_of(command.options.begin(), command.options.end(),
                       [&](const OptionSpec& o) { return o.name == option; });
}

// One the command accepts.
const OptionSpec& optionOf(const CommandSpec& command, const std::string& option) {
    return *std::find_if(command.options.begin(), command.options.end(),
                         [&](const OptionSpec& o) { return o.name == option; });
}

std::string optionList(const CommandSpec& command) {
    std::string list;
    for (const auto& o : command.options)
        list += (list.empty() ? "" : ", ") + o.name;
    return list;
}

std::string operandList(const CommandSpec& command) {
    std::string list;
    for (size_t i = 0; i < command.operands.size(); ++i)
        list += (i == 0 ? "" : i + 1 == command.operands.size() ? " and " : ", ") + command.operands[i];
    return list;
}

// The options that exclude `option` (same group), itself left out.
std::vector<std::string> excluded(const CommandSpec& command, const OptionSpec& option) {
    std::vector<std::string> names;
    if (option.group.empty()) return names;
    for (const auto& o : command.options)
        if (o.group == option.group && o.name != option.name) names.push_back(o.name);
    return names;
}

std::string synopsis(const CommandSpec& command) {
    std::string line = command.name;
    for (const auto& o : command.operands)
        line += " " + o;
    std::set<std::string> shownGroups;
    for (const auto& o : command.options) {
        if (!o.missing.empty()) {
            line += " " + o.name + placeholder(o.name);
            continue;
        }
        if (o.group.empty()) {
            line += " [" + o.name + placeholder(o.name) + "]";
            continue;
        }
        // Alternatives are shown once, together, where the first of them stands.
        if (!shownGroups.insert(o.group).second) continue;
        std::string alternatives;
        for (const auto& other : command.options)
            if (other.group == o.group)
                alternatives += (alternatives.empty() ? "" : "|") + other.name + placeholder(other.name);
        line += " [" + alternatives + "]";
    }
    return line;
}

constexpr size_t kTextColumn = 23;
constexpr size_t kWidth = 88;

// "  left        text", the text wrapped at kWidth and continued under its first line.
void item(std::string& out, const std::string& left, const std::string& text) {
    std::string line = left;
    if (line.size() + 1 > kTextColumn) {
        out += line + "\n";
        line.clear();
    }
    line.resize(kTextColumn, ' ');
    size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        size_t end = text.size();
        if (kTextColumn + (end - pos) > kWidth) {
            end = text.rfind(' ', pos + (kWidth - kTextColumn));
            if (end == std::string::npos || end <= pos) end = text.find(' ', pos + 1);
            if (end == std::string::npos) end = text.size();
        }
        if (!first) line.assign(kTextColumn, ' ');
        out += line + text.substr(pos, end - pos) + "\n";
        pos = end < text.size() ? end + 1 : end;
        first = false;
    }
}

void globalOptions(std::string& out) {
    item(out, "  --demo",
         "add the demo drive: a generated 64 MiB disk image as drive 0, ahead of the machine's "
         "own drives (which move up by one)");
    item(out, "  --quiet",
         "say nothing on standard error while the command goes well; when it fails, what it "
         "said is shown then (results on standard output are printed as always)");
    item(out, "  --progress",
         "show progress as one line a second (bytes, rate, time left) even when standard error "
         "is not a terminal, for logs");
    item(out, "  -h, --help", "show this help; after a command, that command's help");
    item(out, "  --version",
         "show the program's version and the versions of the libraries it was built with");
}

const char kNotes[] =
    "SOURCE, TARGET and SELECTION are a drive number (0), a partition (0p2: the second row of\n"
    "drive 0's partition list), a volume (C:), a device node or a file path. A file whose name\n"
    "reads as one of the first three, such as 0, 0p1 or C:, must be written with its folder,\n"
    "for example ./0, to be read as a file. A name that starts with a dash goes after --.\n"
    "IMAGE - is standard output for dump and cdi-save (exactly the range's bytes; messages stay\n"
    "on standard error) and standard input for restore and cdi-load, read as it comes.\n"
    "N is decimal, or hexadecimal with a 0x prefix; --offset=N works as well as --offset N.\n"
    "Decimal N may end in K, M, G, T (or KiB, MiB, GiB, TiB: powers of 1024), kB, MB, GB, TB\n"
    "(powers of 1000) or s (512-byte sectors): --size 4K, --offset 1MiB, --size 8s.\n"
    "Each option may be given once, and only to a command that uses it.\n"
    "\n"
    "--offset and --size (copy's --source-... and --target-... too) count inside the item\n"
    "that SOURCE or TARGET names: from the first byte of the drive, of the partition (0p2),\n"
    "of the volume's device or of the file. --offset alone takes the rest of the item. A\n"
    "range that leaves the item is refused before anything is read or written.\n"
    "\n"
    "Questions are asked on the terminal. When standard input is not a terminal each one\n"
    "takes its safe answer (No, Cancel, the overwrite refused), except dump's truncation\n"
    "question, which takes the Yes it recommends, so that the image holds exactly the range.\n"
    "A flag answers a question whether or not a terminal could:\n"
    "  --agree            the overwrite gate of restore, copy, erase, cdi-load and a rescue\n"
    "                     onto a drive (as typing 'i agree', then Yes), and restore's \"Are\n"
    "                     you sure you want to copy ...?\" (Yes) and \"Stop now?\" (Ignore)\n"
    "  --ignore-size      restore's \"File size does not match target device size\" (Ignore)\n"
    "  --truncate         dump's \"Do you want to truncate the output file?\" (Yes)\n"
    "  --keep-tail        the same question (No): the image keeps its last block whole\n"
    "  --replace          an existing output file of dump, cdi-save, map, zip, speed, seek or\n"
    "                     rescue (an image without its map)\n"
    "                     (\"... already exists ...\"): replace it\n"
    "  --append           zip: add the entry to an existing archive (without it or --replace,\n"
    "                     zip leaves an existing archive alone and fails)\n"
    "\n"
    "Ctrl+C, SIGTERM or SIGHUP stops a running action at its next block: it says how many\n"
    "bytes it wrote and closes what it opened. A second signal ends the program at once.\n"
    "An output pipe that closes early (| head) ends the program quietly in the same way.\n"
    "\n"
    "exit status:\n"
    "  0                  done\n"
    "  1                  failed, or the data ended before the range did\n"
    "  2                  usage error: nothing was opened or written\n"
    "  3                  refused: a question took its safe answer, or the overwrite gate was\n"
    "                     not passed (--agree), or an existing file was kept (--replace)\n"
    "  130, 143, 129      stopped by Ctrl+C (SIGINT), SIGTERM or SIGHUP\n"
    "  141                the output pipe closed (SIGPIPE)\n";

// A size suffix as dd reads them: K (or k), M, G, T, P, E alone or with iB are powers of 1024,
// with B (kB, MB, ...) powers of 1000; s counts 512-byte sectors. 0 for anything else.
int64_t suffixFactor(const std::string& suffix) {
    if (suffix == "s") return 512;
    if (suffix.empty() || suffix.size() > 3) return 0;
    static const std::string letters = "KMGTPE";
    const char letter = suffix[0] == 'k' ? 'K' : suffix[0];
    const auto power = letters.find(letter);
    if (power == std::string::npos) return 0;
    const std::string rest = suffix.substr(1);
    const int64_t base = rest == "" || rest == "iB" ? 1024 : rest == "B" ? 1000 : 0;
    int64_t factor = 1;
    for (size_t i = 0; i <= power && base != 0; ++i)
        factor *= base;
    return base == 0 ? 0 : factor;
}

// No numeric option takes a negative value: offsets and sizes count forwards from an item's start.
int64_t parseNumber(const std::string& option, const std::string& text, const std::string& command) {
    // Decimal digits may carry a size suffix; a hexadecimal number stands alone.
    const bool hex = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0;
    const size_t sign = text.size() > 1 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    const size_t digits = hex ? text.size() : text.find_first_not_of("0123456789", sign);
    const std::string number = text.substr(0, digits),
                      suffix = digits == std::string::npos ? "" : text.substr(digits);
    const int64_t factor = suffix.empty() ? 1 : suffixFactor(suffix);
    if (factor == 0 || number.size() == sign)
        throw UsageError(
            option + ": '" + text +
                "' is not a valid integer value (decimal, 0x hexadecimal, or decimal with K, M, G, T, "
                "kB, MB, GB, TB, KiB, MiB, ... or s)",
            command);
    int64_t value = 0;
    try {
        value = selection::parseInteger(number, false);
    } catch (const UserError& e) {
        throw UsageError(option + ": " + e.what(), command);
    }
    if (value < 0) throw UsageError(option + ": '" + text + "' is negative", command);
    if (__builtin_mul_overflow(value, factor, &value))
        throw UsageError(option + ": '" + text + "' is too large", command);
    return value;
}

} // namespace

namespace {

CommandLine parse(const std::vector<std::string>& args) {
    CommandLine line;
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> given; // option, value (empty for a flag)
    bool optionsEnd = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnd || a.size() < 2 || a[0] != '-') {
            positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnd = true;
            continue;
        }
        if (a == "-h") {
            if (line.help) throw UsageError("-h is given twice; give it once");
            line.help = true;
            continue;
        }
        const auto eq = a.rfind("--", 0) == 0 ? a.find('=') : std::string::npos;
        const std::string name = a.substr(0, eq);
        if (name == "--demo" || name == "--quiet" || name == "--progress" || name == "--version" ||
            name == "--help" || (isCommandOption(name) && !takesValue(name))) {
            if (eq != std::string::npos) throw UsageError(name + " takes no value");
            bool* const global = name == "--demo"       ? &line.demo
                                 : name == "--quiet"    ? &line.quiet
                                 : name == "--progress" ? &line.progress
                                 : name == "--version"  ? &line.version
                                 : name == "--help"     ? &line.help
                                                        : nullptr;
            if (global && *global) throw UsageError(name + " is given twice; give it once");
            if (global)
                *global = true;
            else if (std::any_of(given.begin(), given.end(), [&](const auto& g) { return g.first == name; }))
                throw UsageError(name + " is given twice; give it once");
            else
                given.emplace_back(name, std::string());
            continue;
        }
        if (!isCommandOption(name)) throw UsageError("unknown option " + name);
        std::string value;
        if (eq != std::string::npos) {
            value = a.substr(eq + 1);
        } else if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
            value = args[++i];
        } else {
            throw UsageError(name + " needs a value");
        }
        for (const auto& [other, otherValue] : given)
            if (other == name)
                throw UsageError(name + " is given twice (" + otherValue + " and " + value +
                                 "); give it once");
        given.emplace_back(name, value);
    }

    if (line.quiet && line.progress)
        throw UsageError("--quiet and --progress exclude each other; give one of them");
    // "help" and "help COMMAND" stand for --help and COMMAND --help.
    if (!positional.empty() && positional[0] == "help") {
        if (positional.size() > 2) throw UsageError("help takes at most one COMMAND");
        positional.erase(positional.begin());
        line.help = true;
    }
    if (line.help || line.version) {
        // Help on one command when one is named; an unknown name is still a mistake.
        if (!positional.empty() && line.help) {
            if (!findCommand(positional[0])) throw UsageError("unknown command " + positional[0]);
            line.command = positional[0];
        }
        return line;
    }
    if (positional.empty()) throw UsageError("no command given");
    const CommandSpec* command = findCommand(positional[0]);
    if (!command) throw UsageError("unknown command " + positional[0]);
    line.command = command->name;
    line.operands.assign(positional.begin() + 1, positional.end());

    for (const auto& [option, value] : given) {
        if (!accepts(*command, option)) {
            const std::string takes = command->options.empty()
                                          ? command->name + " takes no options"
                                          : command->name + " takes " + optionList(*command);
            throw UsageError(option + " is not an option of " + command->name + " (" + takes + ")",
                             command->name);
        }
        for (const auto& other : excluded(*command, optionOf(*command, option)))
            if (std::any_of(given.begin(), given.end(), [&](const auto& g) { return g.first == other; }))
                throw UsageError(option + " and " + other + " exclude each other; give one of them",
                                 command->name);
        if (takesText(option))
            line.texts[option] = value;
        else if (takesValue(option))
            line.numbers[option] = parseNumber(option, value, command->name);
        else
            line.flags.insert(option);
    }
    if (line.operands.size() < command->operands.size()) throw UsageError(command->missing, command->name);
    if (line.operands.size() > command->operands.size()) {
        const std::string extra = line.operands[command->operands.size()];
        if (command->operands.empty()) throw UsageError(command->missing, command->name);
        throw UsageError("too many arguments for " + command->name + ": '" + extra + "' (" + command->name +
                             " takes " + operandList(*command) + ")",
                         command->name);
    }
    // Once the operands are right; the first empty text in name order is the one reported.
    for (const auto& [option, value] : line.texts)
        if (value.empty() && !optionOf(*command, option).emptyText)
            throw UsageError(option + " needs a value", command->name);
    for (const auto& o : command->options)
        if (!o.missing.empty() && !line.has(o.name)) throw UsageError(o.missing, command->name);
    return line;
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    try {
        return parse(args);
    } catch (UsageError& e) {
        // A mistake found before the command was known still shows that command's usage.
        if (e.command.empty())
            for (const auto& a : args)
                if (findCommand(a)) {
                    e.command = a;
                    break;
                }
        throw;
    }
}

std::string helpText(const std::string& name) {
    std::string out;
    if (const CommandSpec* command = findCommand(name)) {
        out += "usage: tarnwick-cli [--demo] " + synopsis(*command) + "\n\n" + command->summary + "\n\n";
        out += "options:\n";
        for (const auto& o : command->options)
            item(out, "  " + o.name + placeholder(o.name), o.help);
        globalOptions(out);
        return out + "\n" + kNotes;
    }
    out += "usage: tarnwick-cli [--demo] [--quiet|--progress] COMMAND [ARGUMENTS] [OPTIONS]\n"
           "       tarnwick-cli COMMAND --help\n"
           "       tarnwick-cli --version\n"
           "\n"
           "commands, each with the options it takes:\n";
    for (const auto& c : commands()) {
        std::string left = "  " + c.name;
        for (const auto& o : c.operands)
            left += " " + o;
        item(out, left, c.summary);
        for (const auto& o : c.options)
            item(out, "    " + o.name + placeholder(o.name), o.help);
    }
    out += "\nglobal options, before or after the command:\n";
    globalOptions(out);
    return out + "\n" + kNotes;
}

std::string usageText(const std::string& name) {
    if (const CommandSpec* command = findCommand(name))
        return "usage: tarnwick-cli [--demo] " + synopsis(*command) + "\nRun 'tarnwick-cli " + command->name +
               " --help' for more.\n";
    return "usage: tarnwick-cli [--demo] COMMAND [ARGUMENTS] [OPTIONS]\n"
           "Run 'tarnwick-cli --help' for the commands and their options.\n";
}

std::string versionText() {
    std::string built;
#ifdef TARNWICK_BLKID_VERSION
    built += "libblkid " TARNWICK_BLKID_VERSION ", ";
#endif
#ifdef TARNWICK_UDEV_VERSION
    built += "libudev " TARNWICK_UDEV_VERSION ", ";
#endif
    built += "compiler " TARNWICK_COMPILER ", C++" + std::to_string(__cplusplus / 100 % 100);
    return "tarnwick-cli " TARNWICK_VERSION "\nbuilt with " + built +
           "\ncompressed images: " + registry::compressionLibrary() + "\n";
}

} // namespace cli
