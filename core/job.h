#pragma once
// What an engine needs from the person in front of it, in two parts: Dialogs asks (questions,
// file choices, the overwrite gate's typed text), JobControl drives a running job (progress, the
// event pump, Stop, time). The windows answer with Qt, the command line with the terminal and
// flags, the tests with a script and a fake clock. Plain C++, no Qt.

#include "core/fileinfo.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

enum class Button { None, Ok, Cancel, Yes, No, Ignore, Abort, Retry };
enum class Icon { None, Information, Warning, Error, Question };

struct Question {
    std::string text;
    Icon icon = Icon::None;
    std::vector<Button> buttons{Button::Ok};
    // The safe answer: taken by Enter, and by the command line when nobody can answer.
    Button defaultButton = Button::Ok;
    // A short key that lets the command line answer this question from a flag ("truncate").
    std::string id;
};

struct FileDialog {
    enum class Kind { Open, Save };
    Kind kind = Kind::Open;
    std::string filter;      // "description|pattern|description|pattern..."
    std::string defaultExt;  // ".raw"
    std::string initialName; // proposed file name
    bool overwritePrompt = false;
    bool mustExist = false;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual Button ask(const Question& question) = 0;
    virtual std::optional<std::string> chooseFile(const FileDialog& dialog) = 0;
    // The overwrite gate's window: what was typed into its edit box when it was closed with OK,
    // nothing when it was cancelled. `disk` names the physical disk the range lies on, as one line
    // to show below the gate's texts; empty for a file. The rule, that line and the question after
    // it are the engine's (ConfirmOverwrite).
    virtual std::optional<std::string> typedAgreement(const TFileInfo& target, const std::string& disk) = 0;

    // Conveniences over ask().
    void message(const std::string& text) { ask(Question{text, Icon::None, {Button::Ok}, Button::Ok, {}}); }
    void error(const std::string& text) { ask(Question{text, Icon::Error, {Button::Ok}, Button::Ok, {}}); }
};

// Where a running job stands. Front ends show what they can: a bar and a status line, or bytes,
// rate and time left on a terminal. Tools with more to show (grid rows, chart points) extend it.
struct Progress {
    virtual ~Progress() = default;
    Progress() = default;
    Progress(int64_t bytes, int64_t total, int percent, std::string status)
        : bytes(bytes), total(total), percent(percent), status(std::move(status)) {}
    Progress(const Progress&) = default;
    Progress& operator=(const Progress&) = default;

    int64_t bytes = 0;  // bytes done
    int64_t total = 0;  // bytes the job is meant to move
    int percent = 0;    // 0 to 100, rounded half to even
    std::string status; // an empty status leaves the status line as it is
};

// Milliseconds and waits, so that tests can run a paced job without waiting.
class Clock {
public:
    virtual ~Clock() = default;
    virtual int64_t nowMs() = 0;
    virtual void sleepMs(int64_t ms) = 0;
};

class SystemClock final : public Clock {
public:
    int64_t nowMs() override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    void sleepMs(int64_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

class JobControl {
public:
    virtual ~JobControl() = default;
    virtual void progress(const Progress& progress) = 0;
    // Lets pending events run, so Stop buttons and other commands work during long loops. Called
    // often (after every small block): a front end may let events run less often than that.
    virtual void pump() = 0;
    virtual bool stopRequested() = 0;
    virtual Clock& clock() = 0;

    // Busy mode: the front end's push buttons are locked while a job owns the device.
    virtual void busy(bool /*on*/) {}
    // Offers (or withdraws) Stop; offering it clears any earlier stop request.
    virtual void stoppable(bool /*on*/) {}
    // The job's progress is over: a terminal ends its progress line so that what is printed next
    // starts on a line of its own.
    virtual void endProgress() {}
};
