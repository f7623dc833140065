#include "markdown.h"

#include <cctype>
#include <map>
#include <vector>

namespace docs {
namespace {

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

size_t indentOf(std::string_view s) {
    size_t n = 0;
    while (n < s.size() && s[n] == ' ')
        ++n;
    return n;
}

class Inline {
public:
    explicit Inline(const MarkdownOptions& options) : options_(options) {}

    std::string render(std::string_view s) const {
        std::string out;
        size_t i = 0;
        while (i < s.size()) {
            const char c = s[i];
            if (c == '\\' && i + 1 < s.size() && std::ispunct(static_cast<unsigned char>(s[i + 1]))) {
                out += escapeHtml(s.substr(i + 1, 1));
                i += 2;
            } else if (c == '`') {
                const size_t end = s.find('`', i + 1);
                if (end == std::string_view::npos) {
                    out += "`";
                    ++i;
                } else {
                    out += "<code>" + escapeHtml(s.substr(i + 1, end - i - 1)) + "</code>";
                    i = end + 1;
                }
            } else if (c == '!' && i + 1 < s.size() && s[i + 1] == '[') {
                std::string_view text, target;
                if (const size_t end = link(s, i + 1, text, target)) {
                    std::string src(target);
                    if (options_.pictureSource) src = options_.pictureSource(src);
                    if (!src.empty())
                        out += "<img src=\"" + escapeHtml(src) + "\" alt=\"" + escapeHtml(text) + "\">";
                    i = end;
                } else {
                    out += "!";
                    ++i;
                }
            } else if (c == '[') {
                std::string_view text, target;
                if (const size_t end = link(s, i, text, target)) {
                    out += "<a href=\"" + escapeHtml(target) + "\">" + render(text) + "</a>";
                    i = end;
                } else {
                    out += "[";
                    ++i;
                }
            } else if (c == '*' && i + 1 < s.size() && s[i + 1] == '*') {
                const size_t end = s.find("**", i + 2);
                if (end == std::string_view::npos || end == i + 2) {
                    out += "**";
                    i += 2;
                } else {
                    out += "<strong>" + render(s.substr(i + 2, end - i - 2)) + "</strong>";
                    i = end + 2;
                }
            } else if (c == '*' && i + 1 < s.size() && s[i + 1] != ' ') {
                size_t end = i + 1;
                while ((end = s.find('*', end)) != std::string_view::npos && s[end - 1] == ' ')
                    ++end;
                if (end == std::string_view::npos) {
                    out += "*";
                    ++i;
                } else {
                    out += "<em>" + render(s.substr(i + 1, end - i - 1)) + "</em>";
                    i = end + 1;
                }
            } else {
                out += escapeHtml(s.substr(i, 1));
                ++i;
            }
        }
        return out;
    }

private:
    // "[text](target)" at s[open]; the position after it, or 0.
    static size_t link(std::string_view s, size_t open, std::string_view& text, std::string_view& target) {
        const size_t close = s.find("](", open);
        if (close == std::string_view::npos) return 0;
        const size_t end = s.find(')', close + 2);
        if (end == std::string_view::npos) return 0;
        // Addresses may hold one level of parentheses: "Volume_(computing)".
        size_t real = end;
        const size_t inner = s.find('(', close + 2);
        if (inner != std::string_view::npos && inner < end) {
            real = s.find(')', end + 1);
            if (real == std::string_view::npos) return 0;
        }
        text = s.substr(open + 1, close - open - 1);
        target = s.substr(close + 2, real - close - 2);
        return real + 1;
    }

    const MarkdownOptions& options_;
};

struct Heading {
    int level;
    std::string id;
    std::string html;
};

std::vector<std::string> cells(std::string_view row) {
    row = trim(row);
    if (startsWith(row, "|")) row.remove_prefix(1);
    if (!row.empty() && row.back() == '|') row.remove_suffix(1);
    std::vector<std::string> out;
    std::string cell;
    bool inCode = false;
    for (size_t i = 0; i < row.size(); ++i) {
        const char c = row[i];
        if (c == '\\' && i + 1 < row.size() && row[i + 1] == '|') {
            cell += "\\|";
            ++i;
        } else if (c == '`') {
            inCode = !inCode;
            cell += c;
        } else if (c == '|' && !inCode) {
            out.emplace_back(trim(cell));
            cell.clear();
        } else {
            cell += c;
        }
    }
    out.emplace_back(trim(cell));
    return out;
}

bool isTableRule(std::string_view line) {
    line = trim(line);
    if (!startsWith(line, "|")) return false;
    for (char c : line)
        if (c != '|' && c != '-' && c != ':' && c != ' ') return false;
    return line.find('-') != std::string_view::npos;
}

// "- text", "* text" or "12. text": the marker's kind and the text; false for other lines.
bool listItem(std::string_view line, bool& ordered, std::string_view& text) {
    const std::string_view s = line.substr(indentOf(line));
    if (startsWith(s, "- ") || startsWith(s, "* ")) {
        ordered = false;
        text = s.substr(2);
        return true;
    }
    size_t digits = 0;
    while (digits < s.size() && std::isdigit(static_cast<unsigned char>(s[digits])))
        ++digits;
    if (digits > 0 && startsWith(s.substr(digits), ". ")) {
        ordered = true;
        text = s.substr(digits + 2);
        return true;
    }
    return false;
}

class Converter {
public:
    Converter(std::string_view markdown, const MarkdownOptions& options) : inline_(options) {
        size_t start = 0;
        while (start <= markdown.size()) {
            size_t end = markdown.find('\n', start);
            if (end == std::string_view::npos) end = markdown.size();
            std::string_view line = markdown.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            lines_.emplace_back(line);
            start = end + 1;
        }
    }

    std::string body() {
        std::string out;
        size_t i = 0;
        while (i < lines_.size()) {
            const std::string_view line = lines_[i];
            const std::string_view t = trim(line);
            bool ordered = false;
            std::string_view itemText;
            if (t.empty()) {
                ++i;
            } else if (startsWith(t, "```")) {
                std::string code;
                for (++i; i < lines_.size() && !startsWith(trim(lines_[i]), "```"); ++i)
                    code += lines_[i] + "\n";
                ++i;
                out += "<pre><code>" + escapeHtml(code) + "</code></pre>\n";
            } else if (startsWith(t, "#")) {
                size_t level = 0;
                while (level < t.size() && t[level] == '#')
                    ++level;
                const std::string_view text = trim(t.substr(level));
                Heading h{int(level), uniqueId(headingId(text)), inline_.render(text)};
                out += "<h" + std::to_string(h.level) + " id=\"" + h.id + "\">" + h.html + "</h" +
                       std::to_string(h.level) + ">\n";
                headings_.push_back(std::move(h));
                ++i;
            } else if (t == "[TOC]") {
                out += kTocMark;
                ++i;
            } else if (t == "---") {
                out += "<hr>\n";
                ++i;
            } else if (startsWith(t, ">")) {
                std::string text;
                for (; i < lines_.size() && startsWith(trim(lines_[i]), ">"); ++i)
                    text += std::string(trim(trim(lines_[i]).substr(1))) + " ";
                out += "<blockquote><p>" + inline_.render(trim(text)) + "</p></blockquote>\n";
            } else if (startsWith(t, "|") && i + 1 < lines_.size() && isTableRule(lines_[i + 1])) {
                out += table(i);
            } else if (listItem(line, ordered, itemText)) {
                out += list(i, indentOf(line));
            } else {
                std::string text;
                for (; i < lines_.size() && startsBlock(i) == false; ++i)
                    text += std::string(trim(lines_[i])) + " ";
                out += "<p>" + inline_.render(trim(text)) + "</p>\n";
            }
        }
        return out;
    }

    std::string toc() const {
        std::string out = "<nav class=\"toc\"><ul>\n";
        bool item = false, sub = false;
        for (const auto& h : headings_) {
            if (h.level == 2) {
                if (sub) out += "</ul>";
                if (item) out += "</li>\n";
                out += "<li><a href=\"#" + h.id + "\">" + h.html + "</a>";
                item = true;
                sub = false;
            } else if (h.level == 3) {
                if (!sub) out += "<ul>\n";
                sub = true;
                out += "<li><a href=\"#" + h.id + "\">" + h.html + "</a></li>\n";
            }
        }
        if (sub) out += "</ul>";
        if (item) out += "</li>\n";
        return out + "</ul></nav>\n";
    }

    static constexpr std::string_view kTocMark = "<!--toc-->\n";

private:
    bool startsBlock(size_t i) const {
        const std::string_view t = trim(lines_[i]);
        bool ordered = false;
        std::string_view text;
        return t.empty() || startsWith(t, "```") || startsWith(t, "#") || startsWith(t, ">") || t == "---" ||
               t == "[TOC]" || (startsWith(t, "|") && i + 1 < lines_.size() && isTableRule(lines_[i + 1])) ||
               listItem(lines_[i], ordered, text);
    }

    std::string table(size_t& i) {
        const auto header = cells(lines_[i]);
        const auto rule = cells(lines_[i + 1]);
        std::vector<std::string> align;
        for (const auto& r : rule) {
            const bool left = startsWith(r, ":"), right = !r.empty() && r.back() == ':';
            align.emplace_back(left && right ? " style=\"text-align:center\""
                               : right       ? " style=\"text-align:right\""
                                             : "");
        }
        const auto alignOf = [&](size_t c) { return c < align.size() ? align[c] : std::string(); };
        std::string out = "<table>\n<thead><tr>";
        for (size_t c = 0; c < header.size(); ++c)
            out += "<th" + alignOf(c) + ">" + inline_.render(header[c]) + "</th>";
        out += "</tr></thead>\n<tbody>\n";
        for (i += 2; i < lines_.size() && startsWith(trim(lines_[i]), "|"); ++i) {
            out += "<tr>";
            const auto row = cells(lines_[i]);
            for (size_t c = 0; c < row.size(); ++c)
                out += "<td" + alignOf(c) + ">" + inline_.render(row[c]) + "</td>";
            out += "</tr>\n";
        }
        return out + "</tbody></table>\n";
    }

    // Items at `indent` and deeper; a deeper item opens a nested list inside the item before it.
    std::string list(size_t& i, size_t indent) {
        bool ordered = false;
        std::string_view text;
        listItem(lines_[i], ordered, text);
        const std::string tag = ordered ? "ol" : "ul";
        std::string out = "<" + tag + ">\n";
        bool open = false;
        while (i < lines_.size()) {
            const std::string_view line = lines_[i];
            if (trim(line).empty()) break;
            const size_t in = indentOf(line);
            if (listItem(line, ordered, text)) {
                if (in < indent) break;
                if (in > indent) {
                    out += list(i, in);
                    continue;
                }
                if (open) out += "</li>\n";
                std::string item(text);
                // Lines indented under the item continue its text.
                for (++i; i < lines_.size() && !trim(lines_[i]).empty() && indentOf(lines_[i]) > indent &&
                          !listItem(lines_[i], ordered, text);
                     ++i)
                    item += " " + std::string(trim(lines_[i]));
                out += "<li>" + inline_.render(item);
                open = true;
                continue;
            }
            if (in <= indent || startsBlock(i)) break;
            // Text under a nested list still belongs to the open item.
            out += " " + inline_.render(trim(line));
            ++i;
        }
        if (open) out += "</li>\n";
        return out + "</" + tag + ">\n";
    }

    std::string uniqueId(const std::string& id) {
        const int n = ++ids_[id];
        return n == 1 ? id : id + "-" + std::to_string(n);
    }

    Inline inline_;
    std::vector<std::string> lines_;
    std::vector<Heading> headings_;
    std::map<std::string, int> ids_;
};

} // namespace

std::string escapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string headingId(std::string_view text) {
    std::string id;
    bool dash = false;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u)) {
            if (dash && !id.empty()) id += '-';
            id += char(std::tolower(u));
            dash = false;
        } else {
            dash = true;
        }
    }
    return id.empty() ? "section" : id;
}

std::string markdownToHtml(std::string_view markdown, const MarkdownOptions& options) {
    Converter converter(markdown, options);
    std::string body = converter.body();
    if (const size_t at = body.find(Converter::kTocMark); at != std::string::npos)
        body.replace(at, Converter::kTocMark.size(), converter.toc());
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
           escapeHtml(options.title) + "</title>\n<style>\n" + options.stylesheet +
           "</style>\n</head>\n<body>\n" + body + "</body>\n</html>\n";
}

} // namespace docs
