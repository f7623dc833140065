#include "core/json.h"

#include <cctype>
#include <cstdio>

namespace json {
namespace {

// The length of the well-formed UTF-8 sequence at `at`, or 0.
size_t utf8Length(const std::string& s, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(at);
    const size_t length = lead < 0x80           ? 1
                          : (lead >> 5) == 0x6  ? 2
                          : (lead >> 4) == 0xE  ? 3
                          : (lead >> 3) == 0x1E ? 4
                                                : 0;
    if (length == 0 || at + length > s.size()) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8 either.
    const unsigned char next = length > 1 ? byte(at + 1) : 0;
    if ((length == 2 && lead < 0xC2) || (length == 3 && lead == 0xE0 && next < 0xA0) ||
        (length == 3 && lead == 0xED && next >= 0xA0) || (length == 4 && lead == 0xF0 && next < 0x90) ||
        (length == 4 && (lead > 0xF4 || (lead == 0xF4 && next >= 0x90))))
        return 0;
    return length;
}

} // namespace

std::string quote(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            ++i;
        } else if (const size_t length = utf8Length(text, i); length != 0) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\\ufffd";
            ++i;
        }
    }
    return out + "\"";
}

std::string key(const std::string& title) {
    std::string out;
    bool gap = false;
    for (size_t i = 0; i < title.size(); ++i) {
        const auto at = [&](size_t k) { return k < title.size() ? static_cast<unsigned char>(title[k]) : 0; };
        const unsigned char c = at(i);
        // A word of a name written together starts at a capital followed by small letters:
        // "FileName" -> file_name, while "MiB" stays one word.
        if (i > 0 && std::isupper(c) && std::islower(at(i - 1)) && std::islower(at(i + 1))) gap = true;
        if (std::isalnum(c)) {
            if (gap && !out.empty()) out += '_';
            out += char(std::tolower(c));
            gap = false;
        } else {
            gap = true;
        }
    }
    return out;
}

std::string number(const std::string& cell) {
    std::string text = cell;
    for (char& c : text)
        if (c == ',') c = '.';
    // JSON's own grammar: an optional minus, digits without a leading zero, an optional fraction.
    size_t i = text.size() > 1 && text[0] == '-' ? 1 : 0;
    const size_t first = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
        ++i;
    const size_t digits = i - first;
    if (digits == 0 || (digits > 1 && text[first] == '0')) return "null";
    if (i < text.size() && text[i] == '.') {
        const size_t point = ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
            ++i;
        if (i == point) return "null";
    }
    return i == text.size() ? text : "null";
}

std::string rows(const std::vector<std::string>& titles, const std::vector<std::vector<std::string>>& rows,
                 const std::set<size_t>& numeric) {
    std::string out = "[";
    for (size_t r = 0; r < rows.size(); ++r) {
        out += r ? ",\n  {" : "\n  {";
        for (size_t c = 0; c < titles.size() && c < rows[r].size(); ++c) {
            out += (c ? ", " : "") + quote(key(titles[c])) + ": ";
            out += numeric.count(c) ? number(rows[r][c]) : quote(rows[r][c]);
        }
        out += "}";
    }
    return out + (rows.empty() ? "]" : "\n]");
}

} // namespace json
