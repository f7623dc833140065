#pragma once
// An ActionUi that answers from a script and records everything it was asked, so tests check
// the exact texts a user would see.

#include "app/actionui.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class ScriptedUi : public ActionUi {
public:
    // Answers, taken in order by ask(); when they run out the question's default is taken.
    std::deque<Button> answers;
    std::deque<std::optional<std::string>> files;
    std::deque<bool> gate;
    bool stop = false;
    // Asked after each pump(), for tests that stop an action half-way.
    std::function<void()> onPump;

    std::vector<Question> asked;
    std::vector<FileDialog> fileDialogs;
    std::vector<TFileInfo> gateTargets;
    std::vector<std::pair<int, std::string>> progressLog;
    std::vector<int64_t> progressBytes;
    std::vector<std::string> modeLog; // "busy", "idle", "stoppable", "unstoppable" in order
    int pumps = 0;

    Button ask(const Question& question) override {
        asked.push_back(question);
        if (answers.empty()) return question.defaultButton;
        const Button b = answers.front();
        answers.pop_front();
        return b;
    }
    std::optional<std::string> chooseFile(const FileDialog& dialog) override {
        fileDialogs.push_back(dialog);
        if (files.empty()) return std::nullopt;
        auto f = files.front();
        files.pop_front();
        return f;
    }
    bool confirmOverwrite(const TFileInfo& target) override {
        gateTargets.push_back(target);
        if (gate.empty()) return false;
        const bool g = gate.front();
        gate.pop_front();
        return g;
    }
    void progress(const Progress& p) override {
        progressLog.emplace_back(p.percent, p.status);
        progressBytes.push_back(p.bytes);
    }
    void pump() override {
        ++pumps;
        if (onPump) onPump();
    }
    bool stopRequested() override { return stop; }
    void busy(bool on) override { modeLog.push_back(on ? "busy" : "idle"); }
    void stoppable(bool on) override {
        if (on) stop = false; // offering Stop clears an earlier request, as the window does
        modeLog.push_back(on ? "stoppable" : "unstoppable");
    }

    // The texts of every question asked so far.
    std::vector<std::string> texts() const {
        std::vector<std::string> t;
        for (const auto& q : asked) t.push_back(q.text);
        return t;
    }
};
