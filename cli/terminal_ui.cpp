#include "cli/terminal_ui.h"

#include "cli/stop_signals.h"
#include "jobs/gate.h"
#include "platform/utf8_path.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <istream>
#include <ostream>

namespace {

const char* buttonName(Button b) {
    switch (b) {
    case Button::Ok:
        return "OK";
    case Button::Cancel:
        return "Cancel";
    case Button::Yes:
        return "Yes";
    case Button::No:
        return "No";
    case Button::Ignore:
        return "Ignore";
    case Button::Abort:
        return "Abort";
    case Button::Retry:
        return "Retry";
    case Button::None:
        break;
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

// One decimal, with the user's separator.
std::string fixed1(double value, char separator) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.1f", value);
    std::string text = buf;
    if (const auto dot = text.find('.'); dot != std::string::npos) text[dot] = separator;
    return text;
}

// "512 B", "1.5 KiB", "512.0 MiB", "1.0 GiB".
std::string humanBytes(int64_t bytes, char separator) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = double(bytes);
    size_t unit = 0;
    // 1023.95 would print as 1024.0 of the smaller unit.
    while (value >= 1023.95 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    return fixed1(value, separator) + " " + units[unit];
}

// "0:07", "12:34", "1:02:03".
std::string duration(int64_t seconds) {
    char buf[64];
    if (seconds >= 3600)
        std::snprintf(buf, sizeof buf, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                      int(seconds / 60 % 60), int(seconds % 60));
    else
        std::snprintf(buf, sizeof buf, "%d:%02d", int(seconds / 60), int(seconds % 60));
    return buf;
}

} // namespace

TerminalUi::TerminalUi(std::istream& in, bool interactive, std::ostream& err, bool progressLine, Now now)
    : in_(in), interactive_(interactive), err_(err), progressLine_(progressLine), now_(std::move(now)) {}

void TerminalUi::setAgreed(bool agreed) {
    agreed_ = agreed;
    if (agreed)
        answers_[gate::kQuestionId] = {Button::Yes, {}};
    else
        answers_.erase(gate::kQuestionId);
}

bool TerminalUi::stopRequested() {
    return cli::stopSignal() != 0;
}

void TerminalUi::setProgressLog(bool on) {
    progressLog_ = on;
    if (on) progressLine_ = true;
}

void TerminalUi::release() {
    endProgress();
    if (!quiet_) return;
    quiet_ = false;
    err_ << held_.str() << std::flush;
    held_.str({});
}

void TerminalUi::endProgress() {
    if (pending_) draw(*pending_, pendingAt_);
    pending_.reset();
    if (lineShown_) err_ << "\n" << std::flush;
    lineShown_ = false;
    lineWidth_ = 0;
}

Button TerminalUi::ask(const Question& question) {
    const Button answer = answerOf(question);
    if (question.buttons.size() > 1 && answer == question.defaultButton) declined_ = true;
    return answer;
}

Button TerminalUi::answerOf(const Question& question) {
    // Once the reader of standard output has gone (| head), the program ends as quietly as
    // other tools do: what the action would say about it is not shown.
    if (cli::outputClosed()) return question.buttons.empty() ? Button::Ok : question.defaultButton;
    endProgress();
    say() << question.text << "\n";
    if (question.buttons.size() <= 1) return question.buttons.empty() ? Button::Ok : question.buttons.front();
    if (auto it = answers_.find(question.id); it != answers_.end()) {
        say() << "-> " << buttonName(it->second.button)
              << (it->second.note.empty() ? "" : " (" + it->second.note + ")") << "\n";
        return it->second.button;
    }
    if (!interactive_) {
        say() << "-> " << buttonName(question.defaultButton) << " (standard input is not a terminal)\n";
        return question.defaultButton;
    }
    return prompt(question);
}

Button TerminalUi::prompt(const Question& question) {
    // A person answers only what they can read: what --quiet held back comes first.
    release();
    for (;;) {
        // After a stop signal nobody is waited for: the safe answer ends the action sooner.
        if (stopRequested()) return question.defaultButton;
        say() << "[";
        for (size_t i = 0; i < question.buttons.size(); ++i)
            say() << (i ? "/" : "") << buttonName(question.buttons[i]);
        say() << "] (default " << buttonName(question.defaultButton) << "): " << std::flush;
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
    if (dialog.overwritePrompt &&
        std::filesystem::exists(std::filesystem::symlink_status(platform::pathFromUtf8(*file_), ec))) {
        const Question replace{*file_ + " already exists.\nDo you want to replace it?",
                               Icon::Warning,
                               {Button::Yes, Button::No},
                               Button::No,
                               kReplaceId};
        if (ask(replace) != Button::Yes) return std::nullopt;
    }
    return file_;
}

std::optional<std::string> TerminalUi::typedAgreement(const TFileInfo& target, const std::string& disk) {
    endProgress();
    if (agreed_) return std::string("i agree");
    declined_ = true; // until the typed text passes

    say() << "About to overwrite " << target.Description << " (" << target.FileName << ", offset "
          << target.Offset << ", " << target.Size << " bytes).\n";
    if (!disk.empty()) say() << disk << "\n";
    if (!interactive_) {
        say()
            << "Refused: pass --agree to overwrite without being asked (standard input is not a terminal)\n";
        return std::nullopt;
    }
    if (stopRequested()) return std::nullopt;
    release();
    // The notice the window's gate shows on its English tab.
    for (const auto& text : gate::notices().front().lines)
        say() << text.substr(0, text.find_last_not_of(' ') + 1) << "\n";
    say() << "Type 'i agree' to go on: " << std::flush;
    std::string typed;
    if (!std::getline(in_, typed)) typed.clear();
    if (!gate::agreementAccepted(typed))
        say() << "\nNot agreed: nothing was written.\n";
    else
        declined_ = false;
    return typed;
}

void TerminalUi::stoppable(bool on) {
    if (!on) return;
    start_ = now_();
    startBytes_ = 0;
}

void TerminalUi::progress(const Progress& p) {
    if (!progressLine_ || quiet_) return;
    const TimePoint now = now_();
    if (!start_) {
        start_ = now;
        startBytes_ = p.bytes;
    }
    // Redrawing for every block would cost more than the copying itself; the update held back
    // is drawn before the next message.
    if ((lineShown_ || logged_) && now - lastDraw_ < (progressLog_ ? kLogInterval : kRedrawInterval)) {
        pending_ = p;
        pendingAt_ = now;
        return;
    }
    pending_.reset();
    draw(p, now);
    lastDraw_ = now;
}

void TerminalUi::draw(const Progress& p, TimePoint at) {
    char percent[16];
    std::snprintf(percent, sizeof percent, "%3d%%", p.percent);
    std::string line = std::string(percent) + "  " + humanBytes(p.bytes, separator_) + " of " +
                       humanBytes(p.total, separator_);
    const double seconds = start_ ? std::chrono::duration<double>(at - *start_).count() : 0.0;
    if (seconds > 0 && p.bytes > startBytes_) {
        const double rate = double(p.bytes - startBytes_) / seconds; // bytes per second
        // Capped so that a crawl at the start cannot overflow the conversion to whole seconds.
        const double left =
            p.bytes >= p.total ? 0.0 : std::min(std::ceil(double(p.total - p.bytes) / rate), 1e9);
        line += "  " + fixed1(rate / 1e6, separator_) + " MB/s  " + duration(int64_t(left)) + " left";
    }
    // What an action tells beyond the numbers (a rescue's bad areas); the "12.34% done" of the
    // others only restates the percentage.
    if (const std::string& s = p.status; !s.empty() && !s.ends_with("% done")) line += "  " + s;
    if (progressLog_) {
        err_ << line << "\n" << std::flush;
        logged_ = true;
        return;
    }
    const size_t width = line.size();
    if (width < lineWidth_) line.append(lineWidth_ - width, ' '); // wipe what the longer line left
    err_ << "\r" << line << std::flush;
    lineWidth_ = width;
    lineShown_ = true;
}
