#pragma once
// A command of tarnwick-cli as its tool declares it: the operands, the options with their kinds
// and help, the questions an option answers, and the function that runs it. The command line is
// parsed once against these, into typed values, before anything is opened. Plain C++, no Qt.

#include "core/job.h"
#include "core/report.h"

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace platform {
class Backend;
class RawStream;
} // namespace platform

namespace cli {

// A mistake in the arguments. `command` picks the usage shown with it (empty: the general one).
// Code that runs a command directly can catch it as any invalid argument.
struct UsageError : std::invalid_argument {
    UsageError(const std::string& message, std::string command = {})
        : std::invalid_argument(message), command(std::move(command)) {}
    std::string command;
};

// What the parser guarantees: the command's operands are all there, every option is one the
// command takes and given once, no two exclude each other, numbers are not negative, a text is not
// empty unless the command takes it so, and a required option is given. What a value means beyond
// that (a --pattern byte, a --width of 16 or 32) the command checks.
struct CommandLine {
    std::string command;                      // empty only with --help or --version
    std::vector<std::string> operands;        // the command's own arguments, in order
    std::map<std::string, int64_t> numbers;   // "--offset" -> 4096
    std::map<std::string, std::string> texts; // options whose value is a word or text: "--filter" -> "blank"
    std::set<std::string> flags;              // "--agree"
    bool demo = false;
    bool quiet = false;    // --quiet: nothing on standard error unless the command fails
    bool progress = false; // --progress: a progress line a second even when standard error is no terminal
    bool help = false;
    bool version = false;

    std::optional<int64_t> number(const std::string& option) const {
        const auto it = numbers.find(option);
        return it == numbers.end() ? std::nullopt : std::optional<int64_t>(it->second);
    }
    // The option's text, or an empty one when it was not given.
    std::string text(const std::string& option) const {
        const auto it = texts.find(option);
        return it == texts.end() ? std::string() : it->second;
    }
    // The option was given, whatever its kind.
    bool has(const std::string& option) const {
        return flags.count(option) != 0 || texts.count(option) != 0 || numbers.count(option) != 0;
    }
};

// An option takes a number, a text or nothing, the same in every command that has it: the
// arguments are split before the command is known, so options may come before it.
enum class OptionKind { Flag, Number, Text };

// A question an option answers for the person at the terminal (Question::id, and the answer).
struct Answer {
    std::string question;
    Button button = Button::None;
};

struct OptionSpec {
    std::string name;
    std::string help;
    OptionKind kind = OptionKind::Flag;
    // What a text's value is called in the help ("TEXT", "FILE"); numbers are "N".
    std::string placeholder = {};
    // Options of one command with the same group exclude each other: "[--md5|--sha1|--both]".
    std::string group = {};
    // The message when the option is missing, for one the command cannot do without (shown
    // without brackets in the synopsis).
    std::string missing = {};
    // An empty text is the command's to refuse, in its own words, rather than "needs a value".
    bool emptyText = false;
    // The questions the option answers when given.
    std::vector<Answer> answers = {};
};

// What a running command works with: the backend, its parsed line, the terminal's dialogs and job
// control (with the flags' answers already in them), and its two output streams.
struct CommandContext {
    platform::Backend& backend;
    const CommandLine& args;
    Dialogs& dialogs;
    JobControl& job;
    std::ostream& out;
    std::ostream& err;
    // Standard input and output as raw streams, for an operand "-" (an image read from a pipe or
    // written into one); null where the command line has none to give.
    platform::RawStream* input = nullptr;
    platform::RawStream* output = nullptr;
};

// The exit status of a command: 0 done, 1 failed or refused. A UsageError it throws is a 2.
using CommandRun = int (*)(CommandContext&);

struct CommandSpec {
    std::string name;
    std::vector<std::string> operands; // "SOURCE", "IMAGE"
    std::string missing;               // the message when an operand is missing
    std::string summary;
    std::vector<OptionSpec> options; // the only options the command accepts, besides the global ones
    CommandRun run = nullptr;
    // The operand that stands for the file the action's file dialog would ask for, or -1.
    int fileOperand = -1;
    // Answers taken when standard input is not a terminal, with the note that says so, in place
    // of the safe answer (a flag's answer comes first).
    std::vector<std::pair<Answer, std::string>> unattended = {};
};

// The exit status of a command that refused to go on without the flag that allows it (an existing
// file kept without --replace), as a question's safe answer does.
inline constexpr int kExitRefused = 3;

// The exit status of a long action: 0 when every byte of the selection arrived, else 1.
inline int exitFor(const Report& report) {
    return report.outcome == Outcome::Completed ? 0 : 1;
}

// A tool's command as a plain function; runWith<F> is what its spec's `run` calls.
using CommandFunction = int (*)(platform::Backend&, const CommandLine&, Dialogs&, JobControl&, std::ostream&,
                                std::ostream&);
template <CommandFunction F> int runWith(CommandContext& c) {
    return F(c.backend, c.args, c.dialogs, c.job, c.out, c.err);
}

// An operand "-": standard input or output instead of a file, as the command decides.
inline bool isStandardStream(const std::string& operand) {
    return operand == "-";
}

// The question asked before an existing output file is replaced; --replace answers it.
inline constexpr const char* kReplaceQuestionId = "replace";

} // namespace cli
