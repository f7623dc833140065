#include "app/gui/qt_dialogs.h"

#include "transfer/gui/confirmation_dialog.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace {

QMessageBox::StandardButton toQt(Button b) {
    switch (b) {
    case Button::Ok: return QMessageBox::Ok;
    case Button::Cancel: return QMessageBox::Cancel;
    case Button::Yes: return QMessageBox::Yes;
    case Button::No: return QMessageBox::No;
    case Button::Ignore: return QMessageBox::Ignore;
    case Button::Abort: return QMessageBox::Abort;
    case Button::Retry: return QMessageBox::Retry;
    case Button::None: break;
    }
    return QMessageBox::NoButton;
}

Button fromQt(int b) {
    switch (b) {
    case QMessageBox::Ok: return Button::Ok;
    case QMessageBox::Cancel: return Button::Cancel;
    case QMessageBox::Yes: return Button::Yes;
    case QMessageBox::No: return Button::No;
    case QMessageBox::Ignore: return Button::Ignore;
    case QMessageBox::Abort: return Button::Abort;
    case QMessageBox::Retry: return Button::Retry;
    default: return Button::None;
    }
}

} // namespace

Button QtDialogs::ask(const Question& q) {
    QMessageBox box(owner_);
    switch (q.icon) {
    case Icon::Information: box.setIcon(QMessageBox::Information); box.setWindowTitle("Information"); break;
    case Icon::Warning: box.setIcon(QMessageBox::Warning); box.setWindowTitle("Warning"); break;
    case Icon::Error: box.setIcon(QMessageBox::Critical); box.setWindowTitle("Error"); break;
    case Icon::Question: box.setIcon(QMessageBox::Question); box.setWindowTitle("Confirm"); break;
    case Icon::None: box.setWindowTitle(QCoreApplication::applicationName()); break;
    }
    box.setText(QString::fromStdString(q.text));
    QMessageBox::StandardButtons buttons;
    for (Button b : q.buttons) buttons |= toQt(b);
    box.setStandardButtons(buttons);
    box.setDefaultButton(toQt(q.defaultButton));
    const int result = box.exec();
    const Button answer = fromQt(result);
    // Closing the box without a button is the safe answer.
    return answer == Button::None ? q.defaultButton : answer;
}

QString QtDialogs::qtFilter(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        pattern.replace("*.*", "*"); // names without a dot are files too
        out << parts[i] + " (" + pattern.replace(';', ' ') + ")";
    }
    return out.join(";;");
}

std::optional<std::string> QtDialogs::chooseFile(const FileDialog& d) {
    QFileDialog dialog(owner_);
    dialog.setAcceptMode(d.kind == FileDialog::Kind::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(d.kind == FileDialog::Kind::Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!d.filter.empty()) dialog.setNameFilter(qtFilter(d.filter));
    if (!d.defaultExt.empty()) dialog.setDefaultSuffix(QString::fromStdString(d.defaultExt).remove(0, 1));
    if (!d.initialName.empty()) dialog.selectFile(QString::fromStdString(d.initialName));
    if (!d.overwritePrompt) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

std::optional<std::string> QtDialogs::typedAgreement(const TFileInfo& target) {
    return ShowConfirmation(target, owner_);
}
