#pragma once
// JSON for scripts (--json): the listings as arrays of objects with stable keys, numbers as
// numbers. Plain C++, no Qt.

#include <set>
#include <string>
#include <vector>

namespace json {

// A JSON string: quotes, backslashes and control characters escaped, other UTF-8 as it is;
// bytes that are not UTF-8 become U+FFFD, so the output always parses.
std::string quote(const std::string& text);

// The key a column title or field name stands for: "Size (bytes)" -> "size_bytes", "CHS start" ->
// "chs_start", "FileName" -> "file_name".
std::string key(const std::string& title);

// A number cell as a JSON number (a comma taken as the decimal point), or null when the cell
// holds no number.
std::string number(const std::string& cell);

// One object per row, its keys from the titles; the columns in `numeric` as numbers.
std::string rows(const std::vector<std::string>& titles, const std::vector<std::vector<std::string>>& rows,
                 const std::set<size_t>& numeric);

} // namespace json
