#include "maintenance/gui/erase_window.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TfrmWipeData::TfrmWipeData(platform::Backend& backend, const TFileInfo& selection, Dialogs* dialogs,
                           QWidget* parent)
    : TToolWindow(parent), backend_(backend), selection_(selection) {
    setObjectName("frmWipeData");
    setWindowTitle(wipe::kCaption);
    useDialogs(dialogs);

    auto* layout = new QVBoxLayout(this);
    addSelectionInfo(layout, selection);

    rgrWipeChar = new QGroupBox(wipe::kMethodsCaption);
    rgrWipeChar->setObjectName("rgrWipeChar");
    rgrWipeCharItems = new QButtonGroup(this);
    auto* items = new QVBoxLayout(rgrWipeChar);
    const auto& captions = wipe::methodCaptions();
    for (size_t i = 0; i < captions.size(); ++i) {
        auto* item = new QRadioButton(QString::fromStdString(captions[i]));
        rgrWipeCharItems->addButton(item, int(i));
        items->addWidget(item);
    }
    rgrWipeCharItems->button(wipe::Zero)->setChecked(true);
    layout->addWidget(rgrWipeChar);

    grbSelectedChar = new QGroupBox(wipe::kCharGroupCaption);
    grbSelectedChar->setObjectName("grbSelectedChar");
    auto* charRow = new QHBoxLayout(grbSelectedChar);
    edtChar = new QLineEdit("00");
    edtChar->setObjectName("edtChar");
    edtChar->setEnabled(false);
    edtChar->installEventFilter(this);
    charRow->addWidget(new QLabel("Fill character: "));
    charRow->addWidget(edtChar);
    charRow->addStretch();
    layout->addWidget(grbSelectedChar);

    auto* actions = new QHBoxLayout;
    btnErase = new QPushButton("&Erase");
    btnErase->setObjectName("btnErase");
    btnStop = new QPushButton("&Stop");
    btnStop->setObjectName("btnStop");
    btnClose = new QPushButton("&Close");
    btnClose->setObjectName("btnClose");
    btnClose->setDefault(true);
    actions->addWidget(btnErase);
    actions->addWidget(btnStop);
    actions->addStretch();
    actions->addWidget(btnClose);
    layout->addLayout(actions);
    pgbProgress = new QProgressBar;
    pgbProgress->setObjectName("pgbProgress");
    pgbProgress->setRange(0, 100);
    pgbProgress->setTextVisible(false);
    pgbProgress->setMaximumHeight(8);
    QSizePolicy keep = pgbProgress->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    pgbProgress->setSizePolicy(keep);
    pgbProgress->hide();
    layout->addWidget(pgbProgress);

    connect(rgrWipeCharItems, &QButtonGroup::idClicked, this, &TfrmWipeData::rgrWipeCharClick);
    connect(edtChar, &QLineEdit::textChanged, this, &TfrmWipeData::edtCharChange);
    connect(btnErase, &QPushButton::clicked, this, &TfrmWipeData::btnEraseClick);
    connect(btnStop, &QPushButton::clicked, this, &TfrmWipeData::btnStopClick);
    connect(btnClose, &QPushButton::clicked, this, &TfrmWipeData::btnCloseClick);

    ToolJobControl& job = makeJobControl(pgbProgress, nullptr, &StopRequested);
    // One erase at a time in a window: a second press inside the first one's pump would ask
    // for the gate again and write the same range twice.
    job.onBusy = [this](bool on) { btnErase->setEnabled(!on); };
    job.onProgress = [this](const Progress&) { pgbProgress->show(); };

    centreOnScreen(sizeHint());
}

TfrmWipeData::~TfrmWipeData() = default;

int TfrmWipeData::itemIndex() const {
    return rgrWipeCharItems->checkedId();
}

void TfrmWipeData::rgrWipeCharClick(int item) {
    if (const auto text = wipe::charTextFor(item)) edtChar->setText(QString::fromStdString(*text));
    edtChar->setEnabled(wipe::charEditable(item));
}

void TfrmWipeData::edtCharChange(const QString& text) {
    const std::string cut = wipe::cutCharText(text.toStdString());
    if (cut.size() != size_t(text.toUtf8().size())) edtChar->setText(QString::fromStdString(cut));
}

bool TfrmWipeData::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edtChar && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QString typed = key->text();
        // Shortcuts (paste among them) and keys that type nothing go through; so do backspace
        // and Enter, which the rule lets through anyway.
        const bool shortcut = key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        if (!shortcut && !typed.isEmpty()) {
            const char32_t c = typed.toUcs4().value(0);
            if (c >= 32 && c != 127 && !wipe::charKeyAllowed(c)) return true;
        }
    }
    return TToolWindow::eventFilter(watched, event);
}

void TfrmWipeData::btnEraseClick() {
    runJob([this] {
        // The pattern is taken from the edit as it stands now.
        const wipe::Fill fill = wipe::fillFor(itemIndex(), edtChar->text().toStdString());
        wipe::eraseSelection(backend_, dialogs(), jobControl(), selection_, fill);
        jobControl().showHeld();
    });
}

void OpenEraseWindow(platform::Backend& backend, const TFileInfo& selection, QWidget* owner) {
    (new TfrmWipeData(backend, selection, nullptr, owner))->showFromMenu();
}
