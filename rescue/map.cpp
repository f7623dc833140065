// The rescue map and its file format.

#include "rescue/rescue.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <sstream>
#include <string_view>

namespace rescue {

Map::Map(int64_t size) : size_(std::max<int64_t>(size, 0)) {
    if (size_ > 0) areas_.push_back({0, size_, State::NotTried});
}

void Map::mark(int64_t offset, int64_t size, State state) {
    const int64_t begin = std::max<int64_t>(offset, 0);
    int64_t end = 0;
    if (__builtin_add_overflow(offset, size, &end) || end > size_) end = size_;
    if (size <= 0 || begin >= end) return;
    const auto endOf = [](const Area& a) { return a.end(); };
    // [first, last): the areas that share a byte with [begin, end).
    auto first = std::upper_bound(areas_.begin(), areas_.end(), begin,
                                  [&](int64_t v, const Area& a) { return v < endOf(a); });
    auto last =
        std::lower_bound(first, areas_.end(), end, [](const Area& a, int64_t v) { return a.offset < v; });
    Area pieces[3];
    int count = 0;
    if (first->offset < begin) pieces[count++] = {first->offset, begin - first->offset, first->state};
    pieces[count++] = {begin, end - begin, state};
    if (const Area& tail = *(last - 1); tail.end() > end)
        pieces[count++] = {end, tail.end() - end, tail.state};
    const auto at = first - areas_.begin();
    areas_.erase(first, last);
    areas_.insert(areas_.begin() + at, pieces, pieces + count);
    // Neighbours of one state become one area, from the one before the change to the one after.
    auto i = std::max<ptrdiff_t>(at - 1, 0);
    const auto stop = std::min<ptrdiff_t>(at + count, ptrdiff_t(areas_.size()) - 1);
    for (auto k = stop; k > i; --k) {
        Area& left = areas_[size_t(k - 1)];
        const Area& right = areas_[size_t(k)];
        if (left.state != right.state) continue;
        left.size += right.size;
        areas_.erase(areas_.begin() + k);
    }
}

int64_t Map::bytesIn(State state) const {
    int64_t total = 0;
    for (const Area& a : areas_)
        if (a.state == state) total += a.size;
    return total;
}

int64_t Map::countOf(State state) const {
    return std::count_if(areas_.begin(), areas_.end(), [&](const Area& a) { return a.state == state; });
}

std::optional<Area> Map::next(int64_t from, State state) const {
    auto it = std::upper_bound(areas_.begin(), areas_.end(), from,
                               [](int64_t v, const Area& a) { return v < a.end(); });
    for (; it != areas_.end(); ++it) {
        if (it->state != state) continue;
        const int64_t begin = std::max(it->offset, from);
        return Area{begin, it->end() - begin, state};
    }
    return std::nullopt;
}

std::optional<Area> Map::previous(int64_t before, State state) const {
    auto it = std::lower_bound(areas_.begin(), areas_.end(), before,
                               [](const Area& a, int64_t v) { return a.offset < v; });
    while (it != areas_.begin()) {
        --it;
        if (it->state != state) continue;
        const int64_t end = std::min(it->end(), before);
        return Area{it->offset, end - it->offset, state};
    }
    return std::nullopt;
}

std::optional<State> Map::stateAt(int64_t at) const {
    const auto it = std::upper_bound(areas_.begin(), areas_.end(), at,
                                     [](int64_t v, const Area& a) { return v < a.end(); });
    if (at < 0 || it == areas_.end()) return std::nullopt;
    return it->state;
}

namespace {

// The comment lines that say where a map comes from.
constexpr std::string_view kSourceName = "# Source: ";
constexpr std::string_view kSourceOffset = "# Source offset: ";
constexpr std::string_view kSourceSerial = "# Source serial: ";

std::string hex(int64_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%08" PRIX64, uint64_t(v));
    return text;
}

// A number of the map file: 0x and hexadecimal digits, or decimal digits; nothing for anything
// else, or one past 64 bits.
std::optional<int64_t> number(const std::string& word) {
    const bool isHex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
    const int base = isHex ? 16 : 10;
    const size_t start = isHex ? 2 : 0;
    if (word.size() <= start) return std::nullopt;
    uint64_t value = 0;
    for (size_t i = start; i < word.size(); ++i) {
        const int c = std::tolower(static_cast<unsigned char>(word[i]));
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (isHex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (digit < 0) return std::nullopt;
        if (value > (uint64_t(INT64_MAX) - uint64_t(digit)) / uint64_t(base)) return std::nullopt;
        value = value * uint64_t(base) + uint64_t(digit);
    }
    return int64_t(value);
}

std::optional<State> stateOf(const std::string& word) {
    if (word.size() != 1) return std::nullopt;
    switch (word[0]) {
    case '?':
        return State::NotTried;
    case '*':
        return State::Failed;
    case '/':
        return State::NotSplit;
    case '-':
        return State::Bad;
    case '+':
        return State::Finished;
    }
    return std::nullopt;
}

// Phases of other programs that have no counterpart here are the nearest one of ours.
std::optional<Phase> phaseOf(const std::string& word) {
    if (word.size() != 1) return std::nullopt;
    switch (std::toupper(static_cast<unsigned char>(word[0]))) {
    case '?':
        return Phase::Copying;
    case '*':
        return Phase::Trimming;
    case '/':
        return Phase::Scraping;
    case '-':
        return Phase::Retrying;
    case '+':
    case 'F':
    case 'G':
        return Phase::Done;
    }
    return std::nullopt;
}

} // namespace

std::string formatMap(const Map& map) {
    std::string text = "# Rescue map written by Tarnwick\n";
    if (!map.sourceName.empty()) text += std::string(kSourceName) + map.sourceName + "\n";
    if (map.sourceOffset >= 0) text += std::string(kSourceOffset) + std::to_string(map.sourceOffset) + "\n";
    if (!map.sourceSerial.empty()) text += std::string(kSourceSerial) + map.sourceSerial + "\n";
    text += "# current_pos  current_status  current_pass\n";
    text +=
        hex(map.position) + "     " + char(map.phase) + "               " + std::to_string(map.pass) + "\n";
    text += "#      pos        size  status\n";
    for (const Area& a : map.areas())
        text += hex(a.offset) + "  " + hex(a.size) + "  " + char(a.state) + "\n";
    return text;
}

std::optional<Map> parseMap(const std::string& text, int64_t size, std::string* error) {
    int lineNumber = 0;
    const auto fail = [&](const std::string& why) -> std::optional<Map> {
        if (error) *error = lineNumber > 0 ? "line " + std::to_string(lineNumber) + ": " + why : why;
        return std::nullopt;
    };
    Map map(size);
    bool statusSeen = false;
    int64_t covered = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto said = [&](std::string_view key) {
            return line.starts_with(key) && line.size() > key.size();
        };
        if (said(kSourceName)) map.sourceName = line.substr(kSourceName.size());
        if (said(kSourceSerial)) map.sourceSerial = line.substr(kSourceSerial.size());
        if (said(kSourceOffset)) map.sourceOffset = number(line.substr(kSourceOffset.size())).value_or(-1);
        line = line.substr(0, line.find('#'));
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string w; fields >> w;)
            words.push_back(w);
        if (words.empty()) continue;
        if (!statusSeen) {
            // "position phase [pass]": older maps have no pass.
            const auto position = number(words[0]);
            const auto phase = words.size() > 1 ? phaseOf(words[1]) : std::nullopt;
            const auto pass = words.size() > 2 ? number(words[2]) : std::optional<int64_t>(1);
            if (words.size() > 3 || !position || !phase || !pass)
                return fail("not a map's status line (position, phase, pass)");
            if (*position > size)
                return fail("the position " + hex(*position) + " lies beyond the selection's end");
            if (*pass < 1 || *pass > 1000000) return fail("the pass " + words[2] + " is out of range");
            map.position = *position;
            map.phase = *phase;
            map.pass = int(*pass);
            statusSeen = true;
            continue;
        }
        const auto offset = number(words[0]);
        const auto length = words.size() > 1 ? number(words[1]) : std::nullopt;
        const auto state = words.size() > 2 ? stateOf(words[2]) : std::nullopt;
        if (words.size() != 3 || !offset || !length || !state)
            return fail("not an area (position, size, one of ? * / - +)");
        if (*length == 0) return fail("the area at " + hex(*offset) + " is empty");
        if (*offset < covered)
            return fail("the area at " + hex(*offset) + " overlaps the one before it, which ends at " +
                        hex(covered));
        if (*offset > covered)
            return fail("a gap from " + hex(covered) + " to " + hex(*offset) + " belongs to no area");
        if (*length > size - covered)
            return fail("the area at " + hex(*offset) + " ends beyond the selection's " +
                        std::to_string(size) + " bytes");
        map.mark(*offset, *length, *state);
        covered += *length;
    }
    lineNumber = 0;
    if (!statusSeen) return fail("no status line: this is not a map file");
    if (covered != size)
        return fail("the map covers " + std::to_string(covered) + " bytes, the selection has " +
                    std::to_string(size));
    return map;
}

std::optional<std::vector<uint8_t>> parseFill(const std::string& text) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.erase(0, 2);
    if (digits.empty() || digits.size() % 2 != 0 || digits.size() > 2 * kMaxFill) return std::nullopt;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < digits.size(); i += 2) {
        const auto byte = number("0x" + digits.substr(i, 2));
        if (!byte) return std::nullopt;
        bytes.push_back(uint8_t(*byte));
    }
    return bytes;
}

} // namespace rescue
