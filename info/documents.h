#pragma once
// Where the Help menu finds "tarnwick.htm" and "tarnwick.pdf": beside the program in a build,
// in the documentation folder of an installed one (/usr/bin/tarnwick and
// /usr/share/doc/tarnwick/).

#include <string>
#include <vector>

namespace info {

// The places to look, in order.
std::vector<std::string> documentCandidates(const std::string& programFolder, const std::string& fileName);

// The first candidate that exists, else the first candidate (opening it then fails quietly,
// as a missing document should).
std::string documentPath(const std::string& programFolder, const std::string& fileName);

} // namespace info
