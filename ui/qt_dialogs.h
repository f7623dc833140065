#pragma once
// Questions, file choices and the overwrite gate as Qt dialogs.

#include "core/job.h"

#include <QString>

#include <memory>

class QMessageBox;
class QWidget;

class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QWidget* owner) : owner_(owner) {}

    Button ask(const Question& question) override;
    std::optional<std::string> chooseFile(const FileDialog& dialog) override;
    // The gate's window; the engine checks what was typed and asks its question.
    std::optional<std::string> typedAgreement(const TFileInfo& target, const std::string& disk) override;

    // "raw data|*.raw|any file|*.*" as Qt's "raw data (*.raw);;any file (*)".
    static QString qtFilter(const std::string& filter);
    // The box ask() shows: the question's text as plain text, its buttons in its order; each
    // button's "answer" property holds the Button it stands for.
    static std::unique_ptr<QMessageBox> questionBox(const Question& question, QWidget* owner);

private:
    QWidget* owner_;
};
