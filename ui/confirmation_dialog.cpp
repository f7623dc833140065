#include "ui/confirmation_dialog.h"

#include "jobs/gate.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTabWidget>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {

// The window keeps its width whatever the font: a label longer than the room it has breaks into
// lines instead of asking for more.
void fitWithin(QLabel* label) {
    label->setWordWrap(true);
    QSizePolicy policy = label->sizePolicy();
    policy.setHorizontalPolicy(QSizePolicy::Ignored);
    label->setSizePolicy(policy);
}

} // namespace

TfrmConfirmation::TfrmConfirmation(const TFileInfo& target, QWidget* parent, const std::string& disk)
    : QDialog(parent) {
    setObjectName("frmConfirmation");
    setWindowTitle("Confirm data overwrite");
    resize(563, 554);
    auto* layout = new QVBoxLayout(this);

    lblWarning = new QLabel("Warning");
    lblWarning->setObjectName("lblWarning");
    lblWarning->setAlignment(Qt::AlignCenter);
    QFont big = lblWarning->font();
    big.setPixelSize(32);
    big.setBold(true);
    lblWarning->setFont(big);
    lblWarning->setStyleSheet("color: red");
    layout->addWidget(lblWarning);

    auto* info = new QGroupBox("Selection info");
    auto* form = new QFormLayout(info);
    lblDevice = new QLabel(QString::fromStdString(target.Description));
    lblDevice->setObjectName("lblDevice");
    lblDevice->setTextFormat(Qt::PlainText);
    fitWithin(lblDevice); // a long description wraps, it does not widen the window
    lblOffset = new QLabel(QString::number(target.Offset));
    lblOffset->setObjectName("lblOffset");
    lblSize = new QLabel(QString::number(target.Size));
    lblSize->setObjectName("lblSize");
    form->addRow("Device", lblDevice);
    form->addRow("Offset", lblOffset);
    form->addRow("Length", lblSize);
    lblDisk = new QLabel(QString::fromStdString(disk));
    lblDisk->setObjectName("lblDisk");
    lblDisk->setTextFormat(Qt::PlainText);
    fitWithin(lblDisk);
    form->addRow(lblDisk);
    if (disk.empty()) lblDisk->hide(); // a file names itself in the Device row
    layout->addWidget(info);

    pgcLanguages = new QTabWidget;
    pgcLanguages->setObjectName("pgcLanguages");
    for (const auto& notice : gate::notices()) {
        auto* memo = new QTextEdit;
        QFont f = memo->font();
        f.setBold(true);
        f.setPixelSize(13);
        memo->setFont(f);
        memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        memo->setLineWrapMode(QTextEdit::WidgetWidth);
        memo->setAcceptRichText(false);
        QStringList lines;
        for (const auto& line : notice.lines)
            lines << QString::fromStdString(line);
        memo->setPlainText(lines.join('\n'));
        pgcLanguages->addTab(memo, QString::fromStdString(notice.tab));
    }
    pgcLanguages->setCurrentIndex(pgcLanguages->count() - 1);
    layout->addWidget(pgcLanguages, 1);
    auto* translators = new QLabel(gate::kTranslatorsText);
    fitWithin(translators);
    layout->addWidget(translators);

    auto* agreeBox = new QGroupBox;
    edtAgree = new QLineEdit;
    edtAgree->setObjectName("edtAgree");
    (new QVBoxLayout(agreeBox))->addWidget(edtAgree);
    layout->addWidget(agreeBox);

    btnOk = new QPushButton("&Ok");
    btnOk->setObjectName("btnOk");
    btnOk->setEnabled(false);
    btnCancel = new QPushButton("&Cancel");
    btnCancel->setObjectName("btnCancel");
    for (QPushButton* b : {btnOk, btnCancel}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    layout->addLayout(buttons);
    auto* welcome = new QLabel("Corrected translations welcome!");
    welcome->setAlignment(Qt::AlignRight);
    layout->addWidget(welcome);

    connect(edtAgree, &QLineEdit::textChanged, this, &TfrmConfirmation::edtAgreeChange);
    // Ok can only close the window while it is enabled, which is exactly when the text matches.
    connect(btnOk, &QPushButton::clicked, this, [this] {
        if (btnOk->isEnabled()) accept();
    });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmConfirmation::edtAgreeChange() {
    btnOk->setEnabled(gate::agreementAccepted(edtAgree->text().toStdString()));
}

void TfrmConfirmation::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    // Centred on the desktop (of the screen the asking window is on), wherever that window
    // stands. Qt's own placement guesses the frame's size and misses the middle by that guess.
    const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    const QScreen* where = owner ? owner->screen() : screen();
    if (!where) return;
    QRect frame = frameGeometry();
    frame.moveCenter(where->availableGeometry().center());
    move(frame.topLeft());
    setAttribute(Qt::WA_Moved, false); // shown again, it is placed again
}

void TfrmConfirmation::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

std::optional<std::string> ShowConfirmation(const TFileInfo& target, const std::string& disk, QWidget* owner,
                                            const std::function<int(TfrmConfirmation&)>& run) {
    TfrmConfirmation dialog(target, owner, disk);
    const int result = run ? run(dialog) : dialog.exec();
    if (result != QDialog::Accepted) return std::nullopt;
    return dialog.edtAgree->text().toStdString();
}
