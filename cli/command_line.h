#pragma once
// tarnwick-cli's arguments: each command names its operands and the options it uses, and
// anything else is a usage error found before a device or file is opened.

#include "core/command.h"

#include <string>
#include <vector>

namespace cli {

// Every command tarnwick-cli knows: its own listing commands, then the tools' from the registry.
const std::vector<CommandSpec>& commands();
// The command with that name, or nullptr.
const CommandSpec* findCommand(const std::string& name);

// Throws UsageError.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// The full help, or one command's help when `command` names one.
std::string helpText(const std::string& command = {});
// The short reminder printed under a usage error.
std::string usageText(const std::string& command = {});
// The program's version and the versions of the libraries it was built with.
std::string versionText();

} // namespace cli
