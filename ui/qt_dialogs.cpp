#include "ui/qt_dialogs.h"

#include "ui/confirmation_dialog.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

#include <map>

namespace {

QMessageBox::StandardButton toQt(Button b) {
    switch (b) {
    case Button::Ok:
        return QMessageBox::Ok;
    case Button::Cancel:
        return QMessageBox::Cancel;
    case Button::Yes:
        return QMessageBox::Yes;
    case Button::No:
        return QMessageBox::No;
    case Button::Ignore:
        return QMessageBox::Ignore;
    case Button::Abort:
        return QMessageBox::Abort;
    case Button::Retry:
        return QMessageBox::Retry;
    case Button::None:
        break;
    }
    return QMessageBox::NoButton;
}

constexpr const char* kAnswer = "answer"; // the Button a box's button stands for

// Qt's caption for a standard button, in the user's language.
QString standardCaption(QMessageBox::StandardButton b) {
    const auto which = QDialogButtonBox::StandardButton(int(b));
    QDialogButtonBox box(which);
    return box.button(which)->text();
}

} // namespace

std::unique_ptr<QMessageBox> QtDialogs::questionBox(const Question& q, QWidget* owner) {
    auto box = std::make_unique<QMessageBox>(owner);
    switch (q.icon) {
    case Icon::Information:
        box->setIcon(QMessageBox::Information);
        box->setWindowTitle("Information");
        break;
    case Icon::Warning:
        box->setIcon(QMessageBox::Warning);
        box->setWindowTitle("Warning");
        break;
    case Icon::Error:
        box->setIcon(QMessageBox::Critical);
        box->setWindowTitle("Error");
        break;
    case Icon::Question:
        box->setIcon(QMessageBox::Question);
        box->setWindowTitle("Confirm");
        break;
    case Icon::None:
        box->setWindowTitle(QCoreApplication::applicationName());
        break;
    }
    // The engines' texts are plain: a file named "x<u>y  z.bin" is shown as it is named.
    box->setTextFormat(Qt::PlainText);
    box->setText(QString::fromStdString(q.text));
    // In the question's order (Yes, No, Ignore): Qt would place standard buttons by their roles,
    // which puts Ignore before No. One role for all keeps the order they were added in.
    std::map<Button, QPushButton*> added;
    for (Button b : q.buttons) {
        QPushButton* button = box->addButton(standardCaption(toQt(b)), QMessageBox::ActionRole);
        button->setProperty(kAnswer, int(b));
        if (b == q.defaultButton) box->setDefaultButton(button);
        added.emplace(b, button);
    }
    // What Escape and the close box answer, as Qt picks it among standard buttons: Cancel, the
    // only button, Abort, No; none otherwise.
    QPushButton* escape = added.size() == 1 ? added.begin()->second : nullptr;
    for (Button b : {Button::Cancel, Button::Abort, Button::No})
        if (!escape && added.count(b)) escape = added[b];
    if (escape) box->setEscapeButton(escape);
    return box;
}

Button QtDialogs::ask(const Question& q) {
    const auto box = questionBox(q, owner_);
    box->exec();
    const QAbstractButton* clicked = box->clickedButton();
    // Closing the box without a button is the safe answer.
    if (!clicked || !clicked->property(kAnswer).isValid()) return q.defaultButton;
    return Button(clicked->property(kAnswer).toInt());
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
    dialog.setAcceptMode(d.kind == FileDialog::Kind::Save ? QFileDialog::AcceptSave
                                                          : QFileDialog::AcceptOpen);
    dialog.setFileMode(d.kind == FileDialog::Kind::Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!d.filter.empty()) dialog.setNameFilter(qtFilter(d.filter));
    if (!d.defaultExt.empty()) dialog.setDefaultSuffix(QString::fromStdString(d.defaultExt).remove(0, 1));
    if (!d.initialName.empty()) dialog.selectFile(QString::fromStdString(d.initialName));
    if (!d.overwritePrompt) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

std::optional<std::string> QtDialogs::typedAgreement(const TFileInfo& target, const std::string& disk) {
    return ShowConfirmation(target, disk, owner_);
}
