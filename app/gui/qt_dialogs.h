#pragma once
// Questions, file choices and the overwrite gate as Qt dialogs.

#include "app/actionui.h"

#include <QString>

class QWidget;

class QtDialogs : public ActionUi {
public:
    explicit QtDialogs(QWidget* owner) : owner_(owner) {}

    Button ask(const Question& question) override;
    std::optional<std::string> chooseFile(const FileDialog& dialog) override;
    bool confirmOverwrite(const TFileInfo& target) override;
    void progress(const Progress&) override {}
    void pump() override;
    bool stopRequested() override { return false; }

    // "raw data|*.raw|any file|*.*" as Qt's "raw data (*.raw);;any file (*)".
    static QString qtFilter(const std::string& filter);

private:
    QWidget* owner_;
};
