#pragma once
// Dialogs and a JobControl that answer from a script and record everything they were asked, so
// tests check the exact texts a user would see; time comes from a fake clock.

#include "core/job.h"
#include "jobs/gate.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Time that moves only when the job sleeps or a test says so.
class FakeClock final : public Clock {
public:
    int64_t now = 0;
    std::vector<int64_t> sleeps;
    int64_t nowMs() override { return now; }
    void sleepMs(int64_t ms) override {
        sleeps.push_back(ms);
        now += ms;
    }
};

class ScriptedUi : public Dialogs, public JobControl {
public:
    // Answers, taken in order by ask(); when they run out the question's default is taken.
    std::deque<Button> answers;
    std::deque<std::optional<std::string>> files;
    // The overwrite gate, one entry per time it is shown: true is the typed agreement followed by
    // `gateQuestionAnswer` to the gate's question (which is then neither recorded nor taken from
    // `answers`); false closes it with Cancel.
    std::deque<bool> gate;
    Button gateQuestionAnswer = Button::Yes;
    bool stop = false;
    // Asked after each pump(), for tests that stop an action half-way.
    std::function<void()> onPump;
    FakeClock fakeClock;

    std::vector<Question> asked;
    std::vector<FileDialog> fileDialogs;
    std::vector<TFileInfo> gateTargets;
    std::vector<std::pair<int, std::string>> progressLog;
    std::vector<int64_t> progressBytes;
    std::vector<std::string> modeLog; // "busy", "idle", "stoppable", "unstoppable" in order
    int pumps = 0;

    Button ask(const Question& question) override {
        if (question.id == gate::kQuestionId && gateAgreed_) {
            gateAgreed_ = false;
            return gateQuestionAnswer;
        }
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
    std::optional<std::string> typedAgreement(const TFileInfo& target, const std::string&) override {
        gateTargets.push_back(target);
        gateAgreed_ = !gate.empty() && gate.front();
        if (!gate.empty()) gate.pop_front();
        if (!gateAgreed_) return std::nullopt;
        return std::string("i agree");
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
    Clock& clock() override { return fakeClock; }
    void busy(bool on) override { modeLog.push_back(on ? "busy" : "idle"); }
    void stoppable(bool on) override {
        if (on) stop = false; // offering Stop clears an earlier request, as the window does
        modeLog.push_back(on ? "stoppable" : "unstoppable");
    }

    // The texts of every question asked so far.
    std::vector<std::string> texts() const {
        std::vector<std::string> t;
        for (const auto& q : asked)
            t.push_back(q.text);
        return t;
    }

private:
    bool gateAgreed_ = false;
};
