#pragma once
// The tools' commands, in the order of the tool list: what tarnwick-cli parses, runs and
// describes in its help besides its own listing commands.

#include "core/command.h"

#include <string>
#include <vector>

namespace registry {

const std::vector<cli::CommandSpec>& commands();

// What the compressed images are made and read with, for --version.
std::string compressionLibrary();

} // namespace registry
