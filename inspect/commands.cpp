#include "inspect/commands.h"

#include "discovery/selections.h"
#include "inspect/bytemap.h"
#include "inspect/hexview.h"
#include "jobs/output_file.h"

#include <algorithm>
#include <cctype>
#include <ostream>

namespace inspect {

using cli::CommandLine;
using cli::UsageError;
namespace {

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

hexview::Filter filterNamed(const std::string& name, const std::string& command) {
    if (name.empty() || name == "none") return hexview::Filter::None;
    if (name == "blank") return hexview::Filter::SkipBlank;
    if (name == "ascii") return hexview::Filter::Ascii;
    if (name == "more") return hexview::Filter::MoreAscii;
    throw UsageError("--filter takes none, blank, ascii or more, not " + name, command);
}

} // namespace

int hexdumpCommand(platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
                   std::ostream& out, std::ostream& err) {
    const hexview::Filter filter = filterNamed(args.text("--filter"), args.command);
    if (args.has("--case-sensitive") && !args.has("--ascii"))
        throw UsageError("--case-sensitive goes with --ascii", args.command);
    const std::string hex = args.text("--hex");
    if (!std::all_of(hex.begin(), hex.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }))
        throw UsageError("--hex takes hexadecimal digits, not " + hex, args.command);
    const int64_t width = args.number("--width").value_or(16);
    if (width != 16 && width != 32)
        throw UsageError("--width takes 16 or 32, not " + std::to_string(width), args.command);

    const auto found = selections::resolveOrSay(backend, args.operands[0], args.number("--offset"),
                                                args.number("--size"), err);
    if (!found) return 1;
    const TFileInfo& selection = *found;
    hexview::Viewer viewer(backend, selection);
    viewer.setRowWidth(int(width));
    viewer.setFilter(filter);
    viewer.setSearch({args.text("--ascii"), args.has("--case-sensitive"), hex});
    const bool searching = args.has("--ascii") || args.has("--hex");
    LabelDisplay labels;
    const auto result = viewer.refresh(
        dialogs, job, labels, searching ? hexview::Viewer::Kind::Search : hexview::Viewer::Kind::Normal);
    job.endProgress();
    if (result == hexview::RefreshResult::Failed) return 1;
    for (const auto& line : viewer.page().lines())
        out << line << "\n";
    out << labels.infoText << "\n" << labels.readText << "\n";
    if (!labels.statusText.empty()) err << labels.statusText << "\n";
    return result == hexview::RefreshResult::Done && labels.statusText.empty() ? 0 : 1;
}

int mapCommand(platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
               std::ostream& out, std::ostream& err) {
    const int64_t sectorsPerPixel = args.number("--sectors-per-pixel").value_or(1);
    if (sectorsPerPixel < bytemap::kMinSectorsPerPixel || sectorsPerPixel > bytemap::kMaxSectorsPerPixel)
        throw UsageError("--sectors-per-pixel takes 1 to 65536, not " + std::to_string(sectorsPerPixel),
                         args.command);
    const std::string& file = args.operands[1];

    const auto found = selections::resolveOrSay(backend, args.operands[0], args.number("--offset"),
                                                args.number("--size"), err);
    if (!found) return 1;
    const TFileInfo& selection = *found;
    // A map never goes onto a device, a folder or a pipe: refused before anything is read.
    if (const auto why = jobs::outputRefusal(backend, file, jobs::Existing::Replace)) {
        err << "Cannot write the map into " << file << ": " << *why << ". Nothing was written.\n";
        return 1;
    }
    if (!args.has("--replace") && jobs::outputNameTaken(backend, file)) {
        const Question replace{file + " already exists.\nDo you want to replace it?",
                               Icon::Warning,
                               {Button::Yes, Button::No},
                               Button::No,
                               cli::kReplaceQuestionId};
        if (dialogs.ask(replace) != Button::Yes) {
            err << "Nothing was written.\n";
            return 1;
        }
    }

    bytemap::Map map(backend, selection);
    NoCanvas canvas;
    const auto report = map.draw(dialogs, job, canvas, int(sectorsPerPixel));
    job.endProgress();
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

std::vector<cli::CommandSpec> commands() {
    using cli::OptionKind;
    const auto number = [](const char* name, const char* help) {
        return cli::OptionSpec{.name = name, .help = help, .kind = OptionKind::Number};
    };
    return {
        {"hexdump",
         {"SOURCE"},
         "hexdump needs one SOURCE",
         "print the page of SOURCE's bytes that the hex viewer shows from the range's start",
         {{.name = "--filter",
           .help = "leave out blocks: none, blank (all 0 or all 255), ascii, more (more ascii)",
           .kind = OptionKind::Text,
           .placeholder = "KIND"},
          {.name = "--ascii",
           .help = "show only 512-byte blocks that hold TEXT",
           .kind = OptionKind::Text,
           .placeholder = "TEXT",
           .group = "search"},
          {.name = "--case-sensitive", .help = "with --ascii: match upper and lower case exactly"},
          {.name = "--hex",
           .help = "show only 512-byte blocks whose bytes, as hexadecimal digits, hold DIGITS",
           .kind = OptionKind::Text,
           .placeholder = "DIGITS",
           .group = "search"},
          number("--width", "bytes a row: 16 (64 KiB a page) or 32 (128 KiB a page)"),
          number("--offset", "first byte shown, counted from the start of SOURCE"),
          number("--size", "bytes of the range: the blocks looked at (default: the rest of SOURCE)")},
         cli::runWith<hexdumpCommand>},
        {"map",
         {"SOURCE", "OUT.png"},
         "map needs SOURCE and OUT.png",
         "draw SOURCE's bytes as the graphical byte map (red text, green binary, blue empty) into OUT.png",
         {number("--sectors-per-pixel",
                 "512-byte sectors a pixel stands for, 1 to 65536 (1: a row is 512 KiB)"),
          number("--offset", "first byte of the map, counted from the start of SOURCE"),
          number("--size",
                 "bytes to map (default: the rest of SOURCE; the map covers whole rows of 1024 pixels, "
                 "at most 4096 rows)"),
          {.name = "--replace",
           .help = "replace OUT.png when it exists",
           .answers = {{cli::kReplaceQuestionId, Button::Yes}}}},
         cli::runWith<mapCommand>},
        {"disasm",
         {"SOURCE"},
         "disasm needs one SOURCE",
         "list SOURCE's bytes as x86 instructions: address, bytes and instruction, tab-separated",
         {number("--offset", "first byte to list, counted from the start of SOURCE"),
          number("--max",
                 "number of bytes to list, all inside SOURCE (default 512, or the rest of SOURCE when "
                 "shorter; at most 67108864)"),
          number("--bits", "16 (real mode, as boot code runs; the default), 32 or 64")},
         cli::runWith<disasmCommand>},
    };
}

} // namespace inspect
