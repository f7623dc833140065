#include "cli/terminal_ui.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <istream>
#include <ostream>

namespace {

const char* buttonName(Button b) {
    switch (b) {
    case Button::Ok: return "OK";
    case Button::Cancel: return "Cancel";
    case Button::Yes: return "Yes";
    case Button::No: return "No";
    case Button::Ignore: return "Ignore";
    case Button::Abort: return "Abort";
    case Button::Retry: return "Retry";
    case Button::None: break;
    }
    return "";
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

} // namespace

TerminalUi::TerminalUi(std::istream& in, bool interactive, std::ostream& err, bool progressLine)
    : in_(in), interactive_(interactive), err_(err), progressLine_(progressLine) {}

std::atomic<bool>& TerminalUi::interrupted() {
    static std::atomic<bool> flag{false};
    return flag;
}

void TerminalUi::endProgress() {
    if (progressShown_) err_ << "\n";
    progressShown_ = false;
}

Button TerminalUi::ask(const Question& question) {
    endProgress();
    err_ << question.text << "\n";
    if (question.buttons.size() <= 1) return question.buttons.empty() ? Button::Ok : question.buttons.front();
    if (auto it = answers_.find(question.id); it != answers_.end()) {
        err_ << "-> " << buttonName(it->second) << "\n";
        return it->second;
    }
    if (!interactive_) {
        err_ << "-> " << buttonName(question.defaultButton) << " (standard input is not a terminal)\n";
        return question.defaultButton;
    }
    return prompt(question);
}

Button TerminalUi::prompt(const Question& question) {
    for (;;) {
        err_ << "[";
        for (size_t i = 0; i < question.buttons.size(); ++i)
            err_ << (i ? "/" : "") << buttonName(question.buttons[i]);
        err_ << "] (default " << buttonName(question.defaultButton) << "): " << std::flush;
        std::string line;
        if (!std::getline(in_, line)) return question.defaultButton;
        line = lower(trim(line));
        if (line.empty()) return question.defaultButton;
        for (Button b : question.buttons) {
            const std::string name = lower(buttonName(b));
            if (line == name || (line.size() == 1 && line[0] == name[0])) return b;
        }
    }
}

std::optional<std::string> TerminalUi::chooseFile(const FileDialog& dialog) {
    if (!file_) return std::nullopt;
    std::error_code ec;
    if (dialog.overwritePrompt && std::filesystem::exists(*file_, ec)) {
        const Question replace{*file_ + " already exists.\nDo you want to replace it?", Icon::Warning,
                               {Button::Yes, Button::No}, Button::No, kReplaceId};
        if (ask(replace) != Button::Yes) return std::nullopt;
    }
    return file_;
}

bool TerminalUi::confirmOverwrite(const TFileInfo& target) {
    endProgress();
    if (agreed_) return true;
    err_ << "About to overwrite " << target.Description << " (" << target.FileName << ", offset " << target.Offset
         << ", " << target.Size << " bytes).\n";
    if (!interactive_) {
        err_ << "Refused: pass --agree to overwrite without being asked (standard input is not a terminal)\n";
        return false;
    }
    err_ << "Type 'i agree' to go on: " << std::flush;
    std::string line;
    if (!std::getline(in_, line) || lower(trim(line)) != "i agree") return false;
    return ask(Question{"Are you sure?", Icon::Warning, {Button::Yes, Button::No}, Button::No, "gate"}) ==
           Button::Yes;
}

void TerminalUi::progress(const Progress& p) {
    const int percent = p.percent;
    const std::string& status = p.status;
    if (!progressLine_) return;
    // Redrawing the line for every block would cost more than the copying itself.
    const auto now = std::chrono::steady_clock::now();
    if (progressShown_ && percent != 100 && now - lastProgress_ < std::chrono::milliseconds(200)) return;
    lastProgress_ = now;
    std::string line = "[" + std::to_string(percent) + "%] " + status;
    if (line.size() < 60) line.resize(60, ' ');
    err_ << "\r" << line << std::flush;
    progressShown_ = true;
}
