#pragma once
// Administrator rights. Started by an ordinary user, the program sees only the drives it may
// open; it offers once, at start, to run again with administrator rights through pkexec, and
// otherwise says once why drives are missing. Plain C++: the window asks and shows.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace info {

struct ElevationFacts {
    bool runningAsRoot = false;
    std::string pkexec;     // the system's pkexec (absolute path); empty: none
    bool declined = false;  // the user said no, or pkexec did not start the program
    bool cannotAsk = false; // no one to answer a question (offscreen or minimal platform)
};

enum class ElevationChoice {
    None,  // root already: every drive the system has can be opened
    Offer, // ask whether to restart through pkexec
    Hint,  // say once why drives that cannot be opened are missing
};

ElevationChoice decideElevation(const ElevationFacts& facts);

inline constexpr std::string_view kElevationTitle = "Administrator rights";
inline constexpr std::string_view kElevationQuestion =
    "Tarnwick is running without administrator rights, so it cannot open most drives: the "
    "physical drive list ends at the first drive it may not open.\n\n"
    "Restart Tarnwick with administrator rights? You will be asked for a password.";

// The hint line, with the way to get the rights that this machine offers.
std::string driveAccessHint(const ElevationFacts& facts);

// Hands out the hint the first time it is asked for, and nothing after.
class DriveAccessHint {
public:
    explicit DriveAccessHint(const ElevationFacts& facts);
    std::optional<std::string> take();

private:
    std::optional<std::string> text_;
};

// What is true of this process now. `declined` is passed through. pkexec is looked for in the
// system's own program folders only, never along the user's PATH.
ElevationFacts currentElevationFacts(bool declined);

// The first executable `name` in the colon-separated `searchPath` (empty entries count as the
// current folder, as the shell has it), or empty.
std::string findOnPath(std::string_view name, std::string_view searchPath);

// The command that runs `program` with `arguments` as root. pkexec keeps the display only for
// the program its policy names (`policyProgram`, the installed one); any other program gets
// DISPLAY and XAUTHORITY through env, taken from `environment` ("NAME=value" entries).
std::vector<std::string> elevatedCommand(const std::string& pkexec, const std::string& program,
                                         const std::vector<std::string>& arguments,
                                         const std::string& policyProgram,
                                         const std::vector<std::string>& environment);

// The installed program that the shipped polkit policy names.
std::string policyProgram();

// Runs the command and waits for it. Its exit status, or nothing when it could not be started
// or the program was asked to end meanwhile (platform::requestInterrupt, from SIGTERM and the
// like): the command is then asked to end too, and not waited for.
std::optional<int> runAndWait(const std::vector<std::string>& command);

// pkexec's own failures: 126 when the password dialog was dismissed or the user may not, 127
// when it could not ask at all (no authentication agent). The program then goes on unprivileged.
bool elevationRefused(std::optional<int> exitStatus);

} // namespace info
