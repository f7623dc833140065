#pragma once
// The command line's answers to an action's questions: flags first, then the terminal, and the
// safe answer when nobody can be asked.

#include "core/command.h"
#include "core/job.h"

#include <chrono>
#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <sstream>
#include <string>

class TerminalUi : public Dialogs, public JobControl {
public:
    using Now = std::function<std::chrono::steady_clock::time_point()>;

    // in/interactive: where answers come from, and whether a person is typing them.
    // err/progressLine: where messages go, and whether a progress line can be redrawn there.
    // clock: the time the progress line's rate and time left are measured with.
    TerminalUi(std::istream& in, bool interactive, std::ostream& err, bool progressLine,
               Now now = &std::chrono::steady_clock::now);

    // Asked before a dump replaces an existing image file.
    static constexpr const char* kReplaceId = cli::kReplaceQuestionId;
    // The progress line is redrawn at most this often.
    static constexpr std::chrono::milliseconds kRedrawInterval{200};
    // With --progress: one line a second.
    static constexpr std::chrono::milliseconds kLogInterval{1000};

    // A flag's answer to the question with this id ("truncate" -> Yes); the note says where it
    // came from when no flag gave it.
    void answer(const std::string& questionId, Button button, std::string note = {}) {
        answers_[questionId] = {button, std::move(note)};
    }
    // --agree: the overwrite gate passes without asking.
    void setAgreed(bool agreed);
    // The file the action's file dialog would have asked for.
    void setFile(const std::string& path) { file_ = path; }
    void setDecimalSeparator(char separator) { separator_ = separator; }
    // --quiet: what would go to standard error is held back, and shown only by release() (the
    // command failed) or before a person must answer a question.
    void setQuiet(bool quiet) { quiet_ = quiet; }
    // --progress: the progress line is written as a plain line once a second, for logs, even when
    // standard error is no terminal.
    void setProgressLog(bool on);
    // Shows what --quiet held back.
    void release();
    // The action was refused here: a question took its safe answer (typed, given by a flag or
    // taken because nobody could be asked), or the overwrite gate was not passed.
    bool declined() const { return declined_; }

    Button ask(const Question& question) override;
    std::optional<std::string> chooseFile(const FileDialog& dialog) override;
    // The gate's typed text: asked on the terminal, given by --agree, refused without a person.
    std::optional<std::string> typedAgreement(const TFileInfo& target, const std::string& disk) override;
    // Draws "percent  done of total  rate  time left" on one line when stderr is a terminal.
    void progress(const Progress& progress) override;
    void pump() override {}
    // A stop signal arrived (Ctrl+C, SIGTERM, SIGHUP).
    bool stopRequested() override;
    // The engines offer Stop when bytes start to move: the rate is measured from then.
    void stoppable(bool on) override;
    ::Clock& clock() override { return clock_; }

    // Draws the last progress update if it was held back, and ends the line so the next
    // message starts on a line of its own.
    void endProgress() override;

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    Button prompt(const Question& question);
    Button answerOf(const Question& question);
    // Where messages go: standard error, or the held text under --quiet.
    std::ostream& say() { return quiet_ ? static_cast<std::ostream&>(held_) : err_; }
    void draw(const Progress& progress, TimePoint at);

    std::istream& in_;
    bool interactive_;
    std::ostream& err_;
    bool progressLine_;
    Now now_;
    SystemClock clock_;
    char separator_ = '.';
    bool agreed_ = false;
    bool quiet_ = false;
    bool declined_ = false;
    std::ostringstream held_;
    bool progressLog_ = false;
    bool logged_ = false; // a progress line was logged: the next waits its interval
    std::optional<std::string> file_;
    struct Answer {
        Button button = Button::None;
        std::string note;
    };
    std::map<std::string, Answer> answers_;

    // The progress line.
    std::optional<TimePoint> start_; // when the action began moving bytes
    int64_t startBytes_ = 0;         // bytes already done then
    bool lineShown_ = false;
    size_t lineWidth_ = 0;
    TimePoint lastDraw_{};
    std::optional<Progress> pending_; // held back by the redraw interval
    TimePoint pendingAt_{};
};
