#pragma once
// Digest lists in the form md5sum, sha1sum and sha256sum write and check ("<hex>  <name>"), so
// that either side can check what the other wrote. Plain C++, no Qt.

#include "jobs/digest.h"

#include <optional>
#include <string>

namespace sumlines {

// The name as the coreutils tools print it in a check's report: as it is, unless a line feed
// would break the report's lines; then escaped as in a list line, behind a backslash.
std::string reportedName(const std::string& name);

// "<hex>  <name>\n" with the hex in lower case. A name holding a backslash or a line break is
// written escaped (\\, \n, \r) behind a leading backslash, as the coreutils tools write it.
std::string line(const std::string& hex, const std::string& name);

struct Entry {
    digest::Context::Kind kind = digest::Context::Kind::Md5; // told by the digest's length
    std::string hex;                                         // lower case
    std::string name;                                        // unescaped
};

// What one line of a list holds. Nothing is to be checked on a blank line or a "#" comment.
struct Parsed {
    enum class Type { Entry, Skip, Malformed } type = Type::Malformed;
    Entry entry;
};
// "<hex>  <name>" or "<hex> *<name>" (binary mode, the same bytes here), with 32, 40 or 64
// hexadecimal digits for MD5, SHA-1 or SHA-256; a trailing carriage return is dropped.
Parsed parse(std::string text);

} // namespace sumlines
