#include "cli/command_line.h"

#include "containers/zlib_stream.h"
#include "core/selection.h"
#include "core/user_error.h"

#include <algorithm>

namespace cli {
namespace {

struct OptionHelp {
    std::string name;
    std::string help;
    // Options of one command with the same group exclude each other: "[--md5|--sha1|--both]".
    std::string group = {};
    // The message when the option is missing, for one the command cannot do without (shown
    // without brackets in the synopsis).
    std::string missing = {};
    // An empty text is the command's to refuse, in its own words, rather than "needs a value".
    bool emptyText = false;
};

struct Command {
    std::string name;
    std::vector<std::string> operands; // "SOURCE", "IMAGE"
    std::string missing;               // the message when an operand is missing
    std::string summary;
    std::vector<OptionHelp> options; // the only options the command accepts, besides the global ones
};

const std::vector<Command>& commands() {
    static const std::vector<Command> all{
        {"drives",
         {},
         "drives takes no arguments",
         "list the physical drives (tab-separated, with a header line)",
         {}},
        {"volumes",
         {},
         "volumes takes no arguments",
         "list the logical volumes (tab-separated, with a header line)",
         {}},
        {"partitions",
         {"SOURCE"},
         "partitions needs one SOURCE",
         "list the partition table of a drive number, device node or image file",
         {{"--offset", "read the table at byte N of SOURCE"}}},
        {"select",
         {"SELECTION"},
         "select needs one SELECTION",
         "show the item a selection stands for",
         {{"--offset", "first byte of the range, counted from the start of SELECTION"},
          {"--size", "number of bytes in the range (default: the rest of SELECTION)"}}},
        {"dump",
         {"SOURCE", "IMAGE"},
         "dump needs SOURCE and IMAGE",
         "save SOURCE's bytes into the raw image file IMAGE",
         {{"--offset", "first byte of the range, counted from the start of SOURCE"},
          {"--size", "number of bytes to save (default: the rest of SOURCE)"},
          {"--truncate",
           "answer the truncation question Yes: cut a dump that ran past the range's end back to its size "
           "(the answer taken when no terminal asks)",
           "tail"},
          {"--keep-tail",
           "answer it No: keep the bytes the dump's last whole block read past the range's end", "tail"},
          {"--replace", "replace IMAGE when it exists"},
          {"--buffered", "read a block device through the system's cache instead of past it"},
          {"--hash", "digests of the selection's bytes to compute while saving (md5,sha1,sha256)", "", "",
           true}}},
        {"restore",
         {"IMAGE", "TARGET"},
         "restore needs IMAGE and TARGET",
         "write the raw image file IMAGE onto TARGET (destroys TARGET's data)",
         {{"--offset", "first byte of the range, counted from the start of TARGET"},
          {"--size", "number of bytes of TARGET to overwrite (default: the rest of TARGET)"},
          {"--agree", "agree to overwrite TARGET, and let restore go on past its warnings"},
          {"--ignore-size", "write an image whose length differs from the range's size"},
          {"--buffered", "write a block device through the system's cache instead of past it"},
          {"--verify", "read TARGET back afterwards and compare it with IMAGE"}}},
        {"copy",
         {"SOURCE", "TARGET"},
         "copy needs SOURCE and TARGET",
         "copy SOURCE onto TARGET of the same size (destroys TARGET's data)",
         {{"--source-offset", "first byte of SOURCE's range, counted from the start of SOURCE"},
          {"--source-size", "number of bytes of SOURCE to copy (default: the rest of SOURCE)"},
          {"--target-offset", "first byte of TARGET's range, counted from the start of TARGET"},
          {"--target-size", "number of bytes of TARGET to overwrite, SOURCE's size (default: the rest of "
                            "TARGET)"},
          {"--agree", "agree to overwrite TARGET"},
          {"--buffered", "read and write block devices through the system's cache instead of past it"},
          {"--verify", "read TARGET back afterwards and compare it with SOURCE"}}},
        {"hexdump",
         {"SOURCE"},
         "hexdump needs one SOURCE",
         "print the page of SOURCE's bytes that the hex viewer shows from the range's start",
         {{"--filter", "leave out blocks: none, blank (all 0 or all 255), ascii, more (more ascii)"},
          {"--ascii", "show only 512-byte blocks that hold TEXT", "search"},
          {"--case-sensitive", "with --ascii: match upper and lower case exactly"},
          {"--hex", "show only 512-byte blocks whose bytes, as hexadecimal digits, hold DIGITS", "search"},
          {"--width", "bytes a row: 16 (64 KiB a page) or 32 (128 KiB a page)"},
          {"--offset", "first byte shown, counted from the start of SOURCE"},
          {"--size", "bytes of the range: the blocks looked at (default: the rest of SOURCE)"}}},
        {"map",
         {"SOURCE", "OUT.png"},
         "map needs SOURCE and OUT.png",
         "draw SOURCE's bytes as the graphical byte map (red text, green binary, blue empty) into OUT.png",
         {{"--sectors-per-pixel", "512-byte sectors a pixel stands for, 1 to 65536 (1: a row is 512 KiB)"},
          {"--offset", "first byte of the map, counted from the start of SOURCE"},
          {"--size", "bytes to map (default: the rest of SOURCE; the map covers whole rows of 1024 pixels, "
                     "at most 4096 rows)"},
          {"--replace", "replace OUT.png when it exists"}}},
        {"disasm",
         {"SOURCE"},
         "disasm needs one SOURCE",
         "list SOURCE's bytes as x86 instructions: address, bytes and instruction, tab-separated",
         {{"--offset", "first byte to list, counted from the start of SOURCE"},
          {"--max", "number of bytes to list, all inside SOURCE (default 512, or the rest of SOURCE when "
                    "shorter; at most 67108864)"},
          {"--bits", "16 (real mode, as boot code runs; the default), 32 or 64"}}},
        {"checksum",
         {"SOURCE"},
         "checksum needs one SOURCE",
         "digests of SOURCE's range (MD5 and SHA-1 unless options choose), read in one pass",
         {{"--md5", "only the MD5 digest", "kind"},
          {"--sha1", "only the SHA-1 digest", "kind"},
          {"--both", "both digests (the default)", "kind"},
          {"--sha256", "the SHA-256 digest as well; alone, only it"},
          {"--offset", "first byte of the range, counted from the start of SOURCE"},
          {"--size", "number of bytes to read (default: the rest of SOURCE)"},
          {"--buffered", "read a block device through the system's cache instead of past it"}}},
        {"erase",
         {"TARGET"},
         "erase needs one TARGET",
         "overwrite every byte of TARGET's range with one byte value or random data (destroys its data)",
         {{"--pattern", "the fill: a hexadecimal byte (00, FF, AA, 55, ...) or random", "",
           "erase needs --pattern 00|FF|AA|55|<hex byte>|random"},
          {"--agree", "agree to overwrite TARGET"},
          {"--offset", "first byte of the range, counted from the start of TARGET"},
          {"--size", "number of bytes to erase (default: the rest of TARGET)"},
          {"--buffered", "write a block device through the system's cache instead of past it"}}},
        {"speed",
         {"SOURCE"},
         "speed needs one SOURCE",
         "read speed along SOURCE's range: one row per sample (position in MiB, kB/s), then the results",
         {{"--png", "also draw the chart into the PNG file FILE"},
          {"--replace", "with --png: replace FILE when it exists"},
          {"--offset", "first byte of the range, counted from the start of SOURCE"},
          {"--size", "number of bytes to measure over, more than 64 MiB (default: the rest of SOURCE)"}}},
        {"seek",
         {"SOURCE"},
         "seek needs one SOURCE",
         "512 reads of 4096 bytes at random places of SOURCE's range: one row per read (position in MiB, "
         "ms), then the results",
         {{"--png", "also draw the chart into the PNG file FILE"},
          {"--replace", "with --png: replace FILE when it exists"},
          {"--offset", "first byte of the range, counted from the start of SOURCE"},
          {"--size", "number of bytes to spread the reads over (default: the rest of SOURCE)"}}},
        {"cdi-save",
         {"SOURCE", "IMAGE"},
         "cdi-save needs SOURCE and IMAGE",
         "save SOURCE's range into the compressed disk image IMAGE",
         {{"--offset", "first byte of the range, counted from the start of SOURCE"},
          {"--size", "number of bytes to save (default: the rest of SOURCE)"},
          {"--replace", "replace IMAGE when it exists"},
          {"--hash", "digests of the selection's bytes to compute while saving (md5,sha1,sha256)"}}},
        {"cdi-load",
         {"IMAGE", "TARGET"},
         "cdi-load needs IMAGE and TARGET",
         "write the compressed disk image IMAGE onto TARGET's range (destroys TARGET's data)",
         {{"--offset", "first byte of the range, counted from the start of TARGET"},
          {"--size", "number of bytes of TARGET's range (default: the rest of TARGET)"},
          {"--agree", "agree to overwrite TARGET"}}},
        {"zip",
         {"SOURCE", "ARCHIVE"},
         "zip needs SOURCE and ARCHIVE",
         "save SOURCE's range as one entry of the zip archive ARCHIVE (entries of at most 2 GiB)",
         {{"--offset", "first byte of the range, counted from the start of SOURCE"},
          {"--size", "number of bytes to save (default: the rest of SOURCE)"},
          {"--append", "add the entry to ARCHIVE when it exists", "existing"},
          {"--replace", "replace ARCHIVE when it exists", "existing"},
          {"--hash", "digests of the selection's bytes to compute while saving (md5,sha1,sha256)"}}},
    };
    return all;
}

const Command* findCommand(const std::string& name) {
    for (const auto& c : commands())
        if (c.name == name) return &c;
    return nullptr;
}

// Every option takes a value or never does, whatever the command: the arguments can be split
// before the command is known, so options may come before it.
// Options whose value is text rather than a number.
bool takesText(const std::string& option) {
    static const std::set<std::string> texts{"--filter", "--ascii", "--hex", "--pattern", "--png", "--hash"};
    return texts.count(option) != 0;
}

bool takesValue(const std::string& option) {
    static const std::set<std::string> valued{
        "--offset",      "--size",  "--source-offset",     "--source-size", "--target-offset",
        "--target-size", "--width", "--sectors-per-pixel", "--max",         "--bits"};
    return valued.count(option) != 0 || takesText(option);
}

// What an option's value is called in the help.
std::string placeholder(const std::string& option) {
    if (takesText(option)) {
        if (option == "--hex") return " DIGITS";
        if (option == "--filter") return " KIND";
        if (option == "--pattern") return " BYTE";
        if (option == "--png") return " FILE";
        if (option == "--hash") return " LIST";
        return " TEXT";
    }
    return takesValue(option) ? " N" : "";
}

bool isCommandOption(const std::string& option) {
    static const std::set<std::string> known = [] {
        std::set<std::string> names;
        for (const auto& c : commands())
            for (const auto& o : c.options)
                names.insert(o.name);
        return names;
    }();
    return known.count(option) != 0;
}

bool accepts(const Command& command, const std::string& option) {
    return std::any_of(command.options.begin(), command.options.end(),
                       [&](const OptionHelp& o) { return o.name == option; });
}

// One the command accepts.
const OptionHelp& optionOf(const Command& command, const std::string& option) {
    return *std::find_if(command.options.begin(), command.options.end(),
                         [&](const OptionHelp& o) { return o.name == option; });
}

std::string optionList(const Command& command) {
    std::string list;
    for (const auto& o : command.options)
        list += (list.empty() ? "" : ", ") + o.name;
    return list;
}

std::string operandList(const Command& command) {
    std::string list;
    for (size_t i = 0; i < command.operands.size(); ++i)
        list += (i == 0 ? "" : i + 1 == command.operands.size() ? " and " : ", ") + command.operands[i];
    return list;
}

// The options that exclude `option` (same group), itself left out.
std::vector<std::string> excluded(const Command& command, const OptionHelp& option) {
    std::vector<std::string> names;
    if (option.group.empty()) return names;
    for (const auto& o : command.options)
        if (o.group == option.group && o.name != option.name) names.push_back(o.name);
    return names;
}

std::string synopsis(const Command& command) {
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
    item(out, "  -h, --help", "show this help; after a command, that command's help");
    item(out, "  --version",
         "show the program's version and the versions of the libraries it was built with");
}

const char kNotes[] =
    "SOURCE, TARGET and SELECTION are a drive number (0), a partition (0p2: the second row of\n"
    "drive 0's partition list), a volume (C:), a device node or a file path. A file whose name\n"
    "reads as one of the first three, such as 0, 0p1 or C:, must be written with its folder,\n"
    "for example ./0, to be read as a file. A name that starts with a dash goes after --.\n"
    "N is decimal, or hexadecimal with a 0x prefix; --offset=N works as well as --offset N.\n"
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
    "  --agree            the overwrite gate of restore, copy, erase and cdi-load (as typing\n"
    "                     'i agree', then Yes), and restore's \"Are you sure you want to copy\n"
    "                     ...?\" (Yes) and \"Stop now?\" (Ignore)\n"
    "  --ignore-size      restore's \"File size does not match target device size\" (Ignore)\n"
    "  --truncate         dump's \"Do you want to truncate the output file?\" (Yes)\n"
    "  --keep-tail        the same question (No): the image keeps its last block whole\n"
    "  --replace          an existing output file of dump, cdi-save, map, zip, speed or seek\n"
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
    "  1                  failed or refused, or the data ended before the range did\n"
    "  2                  usage error: nothing was opened or written\n"
    "  130, 143, 129      stopped by Ctrl+C (SIGINT), SIGTERM or SIGHUP\n"
    "  141                the output pipe closed (SIGPIPE)\n";

// No numeric option takes a negative value: offsets and sizes count forwards from an item's start.
int64_t parseNumber(const std::string& option, const std::string& text, const std::string& command) {
    int64_t value = 0;
    try {
        value = selection::parseInteger(text, false);
    } catch (const UserError& e) {
        throw UsageError(option + ": " + e.what(), command);
    }
    if (value < 0) throw UsageError(option + ": '" + text + "' is negative", command);
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
        if (name == "--demo" || name == "--version" || name == "--help" ||
            (isCommandOption(name) && !takesValue(name))) {
            if (eq != std::string::npos) throw UsageError(name + " takes no value");
            bool* const global = name == "--demo"      ? &line.demo
                                 : name == "--version" ? &line.version
                                 : name == "--help"    ? &line.help
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
    const Command* command = findCommand(positional[0]);
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
    if (const Command* command = findCommand(name)) {
        out += "usage: tarnwick-cli [--demo] " + synopsis(*command) + "\n\n" + command->summary + "\n\n";
        out += "options:\n";
        for (const auto& o : command->options)
            item(out, "  " + o.name + placeholder(o.name), o.help);
        globalOptions(out);
        return out + "\n" + kNotes;
    }
    out += "usage: tarnwick-cli [--demo] COMMAND [ARGUMENTS] [OPTIONS]\n"
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
    if (const Command* command = findCommand(name))
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
           "\ncompressed images: " + containers::compressionLibrary() + "\n";
}

} // namespace cli
