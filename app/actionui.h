#pragma once
// Everything an engine needs from the person in front of it. The window answers with dialogs,
// the command line with terminal prompts and flags, the tests with a script.

#include "app/fileinfo.h"

#include <cstdint>
#include <optional>
#include <string>
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
    std::string filter;         // "description|pattern|description|pattern..."
    std::string defaultExt;     // ".raw"
    std::string initialName;    // proposed file name
    bool overwritePrompt = false;
    bool mustExist = false;
};

// Where a running action stands. Front ends show what they can: a bar, a status line, or bytes,
// rate and time left on a terminal.
struct Progress {
    int64_t bytes = 0;  // bytes done
    int64_t total = 0;  // bytes the action is meant to move
    int percent = 0;    // 0 to 100, rounded half to even
    std::string status; // an empty status leaves the status line as it is
};

class ActionUi {
public:
    virtual ~ActionUi() = default;
    virtual Button ask(const Question& question) = 0;
    virtual std::optional<std::string> chooseFile(const FileDialog& dialog) = 0;
    // The typed-agreement gate in front of every overwrite.
    virtual bool confirmOverwrite(const TFileInfo& target) = 0;
    virtual void progress(const Progress& progress) = 0;
    // Lets pending events run, so Stop buttons and other commands work during long loops.
    virtual void pump() = 0;
    virtual bool stopRequested() = 0;

    // Busy mode: the window's push buttons are disabled while an action owns the device.
    virtual void busy(bool /*on*/) {}
    // Offers (or withdraws) the Stop button; offering it clears any earlier stop request.
    virtual void stoppable(bool /*on*/) {}
    // The user's decimal separator, for fractions in status texts.
    virtual char decimalSeparator() const { return '.'; }

    // Conveniences over ask().
    void message(const std::string& text) { ask(Question{text, Icon::None, {Button::Ok}, Button::Ok, {}}); }
    void error(const std::string& text) { ask(Question{text, Icon::Error, {Button::Ok}, Button::Ok, {}}); }
};
