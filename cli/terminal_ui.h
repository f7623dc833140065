#pragma once
// The command line's answers to an action's questions: flags first, then the terminal, and the
// safe answer when nobody can be asked.

#include "app/actionui.h"

#include <atomic>
#include <chrono>
#include <iosfwd>
#include <map>
#include <string>

class TerminalUi : public ActionUi {
public:
    // in/interactive: where answers come from, and whether a person is typing them.
    // err/progressLine: where messages go, and whether a progress line can be redrawn there.
    TerminalUi(std::istream& in, bool interactive, std::ostream& err, bool progressLine);

    // Asked before a dump replaces an existing image file.
    static constexpr const char* kReplaceId = "replace";
    // A flag's answer to the question with this id ("truncate" -> Yes).
    void answer(const std::string& questionId, Button button) { answers_[questionId] = button; }
    // --agree: the overwrite gate passes without asking.
    void setAgreed(bool agreed) { agreed_ = agreed; }
    // The file the action's file dialog would have asked for.
    void setFile(const std::string& path) { file_ = path; }
    // Set from the interrupt signal: the running action stops at its next check.
    static std::atomic<bool>& interrupted();

    Button ask(const Question& question) override;
    std::optional<std::string> chooseFile(const FileDialog& dialog) override;
    bool confirmOverwrite(const TFileInfo& target) override;
    void progress(const Progress& progress) override;
    void pump() override {}
    bool stopRequested() override { return interrupted().load(); }

    // Ends a progress line so the next message starts on a line of its own.
    void endProgress();

private:
    Button prompt(const Question& question);

    std::istream& in_;
    bool interactive_;
    std::ostream& err_;
    bool progressLine_;
    bool progressShown_ = false;
    std::chrono::steady_clock::time_point lastProgress_{};
    bool agreed_ = false;
    std::optional<std::string> file_;
    std::map<std::string, Button> answers_;
};
