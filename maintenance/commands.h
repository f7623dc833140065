#pragma once
// The maintenance tool's commands: checksum and erase. Each takes the command line as the parser
// left it, asks through Dialogs, is driven through JobControl, prints its results on `out` and
// returns 0 when done, 1 when it failed or was refused. A value the command cannot use (a
// --pattern that is no byte) throws UsageError before anything is opened.

#include "core/command.h"
#include "core/job.h"

#include <iosfwd>
#include <vector>

namespace platform {
class Backend;
}

namespace maintenance {

// checksum and erase, for the registry.
std::vector<cli::CommandSpec> commands();

// checksum SOURCE [--md5|--sha1|--both] [--sha256] [--offset N] [--size N] [--buffered]
//          [--format tab|sum|--json] [--check]
// Prints "MD5 <hex>" and/or "SHA1 <hex>" (both without a choice); after a short read or a stop,
// the digests of the bytes read before it, with a note on `err`, and returns 1. SOURCE "-" is
// standard input (c.input) to its end; a stop there prints no digest. --format=sum prints lines
// md5sum -c and the like accept, --json one object; --check reads SOURCE as such a list.
int checksumCommand(cli::CommandContext& c);
// erase TARGET --pattern 00|FF|AA|55|<hex byte>|random [--agree] [--offset N] [--size N] [--buffered]
int eraseCommand(platform::Backend& backend, const cli::CommandLine& args, Dialogs& dialogs, JobControl& job,
                 std::ostream& out, std::ostream& err);

} // namespace maintenance
