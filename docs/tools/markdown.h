#pragma once
// The small Markdown dialect the manual is written in, turned into one HTML page.
//
// Blocks: "#" headings (each gets an id from its text), paragraphs, "-"/"*" and "1." lists (a
// deeper indent nests), "```" code blocks, "|" tables with a "|---|" line under the header,
// "> " notes, "---" rules, and a line "[TOC]" that becomes the list of "##" and "###" headings.
// Inline: `code`, **strong**, *emphasis*, [text](address), ![text](picture). Everything else
// is text: "<", ">" and "&" are escaped.

#include <functional>
#include <string>
#include <string_view>

namespace docs {

struct MarkdownOptions {
    std::string title;      // the page's <title>
    std::string stylesheet; // put into <style> in the head
    // Turns a picture's address into what <img src> gets (for example a data: address); an
    // empty result leaves the picture out. Without it the address is used as it is.
    std::function<std::string(const std::string&)> pictureSource;
};

std::string markdownToHtml(std::string_view markdown, const MarkdownOptions& options);

// "Dump to a raw image" -> "dump-to-a-raw-image".
std::string headingId(std::string_view text);

std::string escapeHtml(std::string_view text);

} // namespace docs
