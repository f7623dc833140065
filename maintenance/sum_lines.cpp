#include "maintenance/sum_lines.h"

#include <algorithm>
#include <cctype>

namespace sumlines {

namespace {

// A backslash, line feed or carriage return escaped (\\, \n, \r).
std::string escape(const std::string& name) {
    std::string escaped;
    for (const char c : name) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else
            escaped += c;
    }
    return escaped;
}

std::optional<std::string> unescape(const std::string& name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '\\') {
            out += name[i];
            continue;
        }
        if (++i == name.size()) return std::nullopt;
        switch (name[i]) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

} // namespace

std::string reportedName(const std::string& name) {
    return name.find('\n') == std::string::npos ? name : "\\" + escape(name);
}

std::string line(const std::string& hex, const std::string& name) {
    std::string lower = hex;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    // The backslash that marks an escaped name goes before the digest.
    const std::string escaped = escape(name);
    return (escaped == name ? "" : "\\") + lower + "  " + escaped + "\n";
}

Parsed parse(std::string text) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    Parsed result;
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos || text[first] == '#') {
        result.type = Parsed::Type::Skip;
        return result;
    }
    const bool escaped = text[first] == '\\';
    const size_t start = first + (escaped ? 1 : 0);
    size_t end = start;
    while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end])))
        ++end;
    const size_t digits = end - start;
    // Two characters after the digits: a blank, then a blank (text mode) or '*' (binary mode).
    if ((digits != 32 && digits != 40 && digits != 64) || text.size() <= end + 2 || text[end] != ' ' ||
        (text[end + 1] != ' ' && text[end + 1] != '*'))
        return result;
    std::optional<std::string> name = text.substr(end + 2);
    if (escaped) name = unescape(*name);
    if (!name || name->empty()) return result;
    result.type = Parsed::Type::Entry;
    result.entry.kind = digits == 32   ? digest::Context::Kind::Md5
                        : digits == 40 ? digest::Context::Kind::Sha1
                                       : digest::Context::Kind::Sha256;
    result.entry.hex = text.substr(start, digits);
    std::transform(result.entry.hex.begin(), result.entry.hex.end(), result.entry.hex.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    result.entry.name = std::move(*name);
    return result;
}

} // namespace sumlines
