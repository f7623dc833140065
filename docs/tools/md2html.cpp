// tw_md2html INPUT.md OUTPUT.html [--title TEXT] [--style FILE] [--embed-pictures]
// Builds the manual's HTML page; pictures are named relative to INPUT's folder. With
// --embed-pictures every picture is put into the page as a data: address, so that the page is
// one file wherever it is installed.

#include "markdown.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string base64(const std::string& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = unsigned(uint8_t(bytes[i])) << 16 | unsigned(uint8_t(bytes[i + 1])) << 8 |
                           unsigned(uint8_t(bytes[i + 2]));
        out += {digits[v >> 18], digits[v >> 12 & 63], digits[v >> 6 & 63], digits[v & 63]};
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = unsigned(uint8_t(bytes[i])) << 16;
        out += {digits[v >> 18], digits[v >> 12 & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        const unsigned v = unsigned(uint8_t(bytes[i])) << 16 | unsigned(uint8_t(bytes[i + 1])) << 8;
        out += {digits[v >> 18], digits[v >> 12 & 63], digits[v >> 6 & 63], '='};
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (argc < 3)
            throw std::runtime_error("usage: tw_md2html INPUT.md OUTPUT.html [--title TEXT] "
                                     "[--style FILE] [--embed-pictures]");
        const std::filesystem::path input = argv[1], output = argv[2];
        docs::MarkdownOptions options;
        bool embed = false;
        for (int i = 3; i < argc; ++i) {
            const std::string a = argv[i];
            if (a == "--title" && i + 1 < argc)
                options.title = argv[++i];
            else if (a == "--style" && i + 1 < argc)
                options.stylesheet = readFile(argv[++i]);
            else if (a == "--embed-pictures")
                embed = true;
            else
                throw std::runtime_error("unknown argument " + a);
        }
        // A picture that has not been taken yet is left out of the page.
        const auto folder = input.parent_path();
        options.pictureSource = [folder, embed](const std::string& address) -> std::string {
            std::error_code ec;
            if (!std::filesystem::is_regular_file(folder / address, ec)) {
                std::fprintf(stderr, "tw_md2html: no picture %s, left out\n", address.c_str());
                return {};
            }
            return embed ? "data:image/png;base64," + base64(readFile(folder / address)) : address;
        };
        const std::string html = docs::markdownToHtml(readFile(input), options);
        std::ofstream out(output, std::ios::binary | std::ios::trunc);
        out << html;
        out.close();
        if (!out) throw std::runtime_error("cannot write " + output.string());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tw_md2html: %s\n", e.what());
        return 1;
    }
}
