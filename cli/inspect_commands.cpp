#include "cli/inspect_commands.h"

#include "cli/cli.h"
#include "cli/terminal_ui.h"
#include "core/selection.h"
#include "core/user_error.h"
#include "inspect/bytemap.h"
#include "inspect/hexview.h"
#include "jobs/output_file.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <ostream>
#include <stdexcept>

namespace cli {
namespace {

// The options a command was given, checked against the ones it takes.
class Options {
public:
    Options(const std::string& command, const std::map<std::string, std::string>& given,
            const std::vector<std::string>& valued, const std::vector<std::string>& flags)
        : command_(command) {
        for (const auto& [key, value] : given) {
            const std::string name = key.rfind("--", 0) == 0 ? key : "--" + key;
            const bool takesValue = std::find(valued.begin(), valued.end(), name) != valued.end();
            const bool isFlag = std::find(flags.begin(), flags.end(), name) != flags.end();
            if (!takesValue && !isFlag) throw std::invalid_argument(command + " does not take " + name);
            if (isFlag && !value.empty()) throw std::invalid_argument(name + " takes no value");
            if (takesValue && value.empty()) throw std::invalid_argument(name + " needs a value");
            values_[name] = value;
        }
    }
    bool has(const std::string& name) const { return values_.count(name) != 0; }
    std::string text(const std::string& name) const { return has(name) ? values_.at(name) : std::string(); }
    std::optional<int64_t> number(const std::string& name) const {
        if (!has(name)) return std::nullopt;
        int64_t value = 0;
        try {
            value = selection::parseInteger(values_.at(name), false);
        } catch (const UserError& e) {
            throw std::invalid_argument(name + ": " + e.what());
        }
        // Offsets and sizes count forwards from the item's start.
        if (value < 0) throw std::invalid_argument(name + ": '" + values_.at(name) + "' is negative");
        return value;
    }

private:
    std::string command_;
    std::map<std::string, std::string> values_;
};

void endProgressLine(JobControl& job) {
    if (auto* terminal = dynamic_cast<TerminalUi*>(&job)) terminal->endProgress();
}

// The refresh's labels, kept for printing after the page.
struct LabelDisplay final : hexview::Display {
    std::string infoText = hexview::kInitialInfo;
    std::string readText = hexview::kInitialRead;
    std::string statusText;
    void cleared() override {}
    void blockAdded(int) override {}
    void info(const std::string& text) override { infoText = text; }
    void readCount(const std::string& text) override { readText = text; }
    void address(const std::string&) override {}
    void status(const std::string& text) override { statusText = text; }
};

struct NoCanvas final : bytemap::Canvas {
    void resized() override {}
    void drawn(int, int) override {}
    void drawingChanged() override {}
};

hexview::Filter filterNamed(const std::string& name) {
    if (name.empty() || name == "none") return hexview::Filter::None;
    if (name == "blank") return hexview::Filter::SkipBlank;
    if (name == "ascii") return hexview::Filter::Ascii;
    if (name == "more") return hexview::Filter::MoreAscii;
    throw std::invalid_argument("--filter takes none, blank, ascii or more, not " + name);
}

} // namespace

const std::vector<InspectCommand>& inspectCommands() {
    static const std::vector<InspectCommand> all{
        {"hexdump",
         {"SOURCE"},
         "print the page of SOURCE's bytes that the hex viewer shows from the range's start",
         {{"--filter KIND", "leave out blocks: none, blank (all 0 or all 255), ascii, more (more ascii)"},
          {"--ascii TEXT", "show only 512-byte blocks that hold TEXT"},
          {"--case-sensitive", "with --ascii: match upper and lower case exactly"},
          {"--hex DIGITS", "show only 512-byte blocks whose bytes, as hexadecimal digits, hold DIGITS"},
          {"--width N", "bytes a row: 16 (64 KiB a page) or 32 (128 KiB a page)"},
          {"--offset N", "first byte shown, counted from the start of SOURCE"},
          {"--size N", "bytes of the range: the blocks looked at (default: the rest of SOURCE)"}},
         {"--case-sensitive"}},
        {"map",
         {"SOURCE", "OUT.png"},
         "draw SOURCE's bytes as the graphical byte map (red text, green binary, blue empty) into OUT.png",
         {{"--sectors-per-pixel S", "512-byte sectors a pixel stands for, 1 to 65536 (1: a row is 512 KiB)"},
          {"--offset N", "first byte of the map, counted from the start of SOURCE"},
          {"--size N", "bytes to map (default: the rest of SOURCE; whole rows of 1024 pixels, at most 4096)"},
          {"--replace", "replace OUT.png when it exists"}},
         {"--replace"}},
    };
    return all;
}

namespace {

Options optionsFor(const std::string& command, const std::map<std::string, std::string>& given) {
    for (const auto& c : inspectCommands()) {
        if (c.name != command) continue;
        std::vector<std::string> valued;
        for (const auto& option : c.options) {
            const std::string name = option.first.substr(0, option.first.find(' '));
            if (std::find(c.flags.begin(), c.flags.end(), name) == c.flags.end()) valued.push_back(name);
        }
        return Options(command, given, valued, c.flags);
    }
    throw std::invalid_argument("unknown command " + command);
}

} // namespace

int hexdumpCommand(platform::Backend& backend, const std::vector<std::string>& operands,
                   const std::map<std::string, std::string>& options, Dialogs& dialogs, JobControl& job,
                   std::ostream& out, std::ostream& err) {
    const Options o = optionsFor("hexdump", options);
    if (operands.size() != 1) throw std::invalid_argument("hexdump needs one SOURCE");
    const hexview::Filter filter = filterNamed(o.text("--filter"));
    if (o.has("--ascii") && o.has("--hex"))
        throw std::invalid_argument("--ascii and --hex cannot be given together");
    if (o.has("--case-sensitive") && !o.has("--ascii"))
        throw std::invalid_argument("--case-sensitive goes with --ascii");
    const std::string hex = o.text("--hex");
    if (!std::all_of(hex.begin(), hex.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }))
        throw std::invalid_argument("--hex takes hexadecimal digits, not " + hex);
    int width = 16;
    if (o.has("--width")) {
        const std::string w = o.text("--width");
        if (w != "16" && w != "32") throw std::invalid_argument("--width takes 16 or 32, not " + w);
        width = std::stoi(w);
    }
    const auto offset = o.number("--offset");
    const auto size = o.number("--size");

    TFileInfo selection;
    try {
        selection = resolveSelection(backend, operands[0], offset, size);
    } catch (const UserError& e) {
        err << e.what() << "\n";
        return 1;
    }
    hexview::Viewer viewer(backend, selection);
    viewer.setRowWidth(width);
    viewer.setFilter(filter);
    viewer.setSearch({o.text("--ascii"), o.has("--case-sensitive"), hex});
    const bool searching = o.has("--ascii") || o.has("--hex");
    LabelDisplay labels;
    const auto result = viewer.refresh(
        dialogs, job, labels, searching ? hexview::Viewer::Kind::Search : hexview::Viewer::Kind::Normal);
    endProgressLine(job);
    if (result == hexview::RefreshResult::Failed) return 1;
    for (const auto& line : viewer.page().lines())
        out << line << "\n";
    out << labels.infoText << "\n" << labels.readText << "\n";
    if (!labels.statusText.empty()) err << labels.statusText << "\n";
    return result == hexview::RefreshResult::Done && labels.statusText.empty() ? 0 : 1;
}

int mapCommand(platform::Backend& backend, const std::vector<std::string>& operands,
               const std::map<std::string, std::string>& options, Dialogs& dialogs, JobControl& job,
               std::ostream& out, std::ostream& err) {
    const Options o = optionsFor("map", options);
    if (operands.size() != 2) throw std::invalid_argument("map needs SOURCE and OUT.png");
    int sectorsPerPixel = 1;
    if (const auto s = o.number("--sectors-per-pixel")) {
        if (*s < bytemap::kMinSectorsPerPixel || *s > bytemap::kMaxSectorsPerPixel)
            throw std::invalid_argument("--sectors-per-pixel takes 1 to 65536, not " +
                                        o.text("--sectors-per-pixel"));
        sectorsPerPixel = int(*s);
    }
    const auto offset = o.number("--offset");
    const auto size = o.number("--size");
    const std::string& file = operands[1];

    TFileInfo selection;
    try {
        selection = resolveSelection(backend, operands[0], offset, size);
    } catch (const UserError& e) {
        err << e.what() << "\n";
        return 1;
    }
    // A map never goes onto a device, a folder or a pipe: refused before anything is read.
    if (const auto why = jobs::outputRefusal(backend, file, jobs::Existing::Replace)) {
        err << "Cannot write the map into " << file << ": " << *why << ". Nothing was written.\n";
        return 1;
    }
    if (!o.has("--replace") && jobs::outputNameTaken(backend, file)) {
        const Question replace{file + " already exists.\nDo you want to replace it?",
                               Icon::Warning,
                               {Button::Yes, Button::No},
                               Button::No,
                               TerminalUi::kReplaceId};
        if (dialogs.ask(replace) != Button::Yes) {
            err << "Nothing was written.\n";
            return 1;
        }
    }

    bytemap::Map map(backend, selection);
    NoCanvas canvas;
    const auto report = map.draw(dialogs, job, canvas, sectorsPerPixel);
    endProgressLine(job);
    if (!report.started) return 1;
    if (report.stopped) {
        err << "Stopped after " << report.pixels << " pixels; " << file << " was not written.\n";
        return 1;
    }
    if (const auto failure = bytemap::savePng(backend, map.image(), file)) {
        err << *failure << "\n";
        return 1;
    }
    out << file << ": 1024 x " << report.rows << " pixels, sectors per pixel " << sectorsPerPixel
        << ", from byte " << selection.Offset << "\n";
    if (report.dataEnded)
        err << "The data ended after " << report.pixels << " pixels; the rest of the map is white.\n";
    return 0;
}

} // namespace cli
