#include "maintenance/gui/checksum_window.h"

#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QLineEdit* digestEdit(const QString& text, const char* name) {
    auto* edit = new QLineEdit(text);
    edit->setObjectName(name);
    edit->setReadOnly(true);
    QPalette grey = edit->palette();
    grey.setColor(QPalette::Base, grey.color(QPalette::Button));
    edit->setPalette(grey);
    QFont mono("monospace");
    mono.setStyleHint(QFont::TypeWriter);
    edit->setFont(mono);
    edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QString(42, 'D')));
    return edit;
}

QLabel* named(QLabel* label, const char* name) {
    label->setObjectName(name);
    return label;
}

} // namespace

TfrmChecksum::TfrmChecksum(platform::Backend& backend, const TFileInfo& selection,
                           checksum::ChecksumKind kind, Dialogs* dialogs, QWidget* parent)
    : TToolWindow(parent), backend_(backend), selection_(selection), kind_(kind) {
    setObjectName("frmChecksum");
    setWindowTitle(checksum::kCaption);
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    useDialogs(dialogs);

    auto* layout = new QVBoxLayout(this);
    addSelectionInfo(layout, selection);

    auto* sums = new QGroupBox("Checksum");
    auto* sumsForm = new QFormLayout(sums);
    lblChecksum = named(new QLabel(checksum::firstCaption(kind)), "lblChecksum");
    edtChecksum = digestEdit(checksum::kStartText, "edtChecksum");
    lblChecksum2 = named(new QLabel(checksum::kSha1Caption), "lblChecksum2");
    edtChecksum2 = digestEdit(QString(), "edtChecksum2");
    sumsForm->addRow(lblChecksum, edtChecksum);
    sumsForm->addRow(lblChecksum2, edtChecksum2);
    lblChecksum2->setVisible(kind == checksum::Both);
    edtChecksum2->setVisible(kind == checksum::Both);
    edtChecksum->installEventFilter(this);
    edtChecksum2->installEventFilter(this);
    layout->addWidget(sums);

    auto* bottom = new QHBoxLayout;
    btnCalculate = new QPushButton("Calculate checksum");
    btnCalculate->setObjectName("btnCalculate");
    btnClose = new QPushButton("&Close");
    btnClose->setObjectName("btnClose");
    lblTime1 = named(new QLabel, "lblTime1");
    lblTime2 = named(new QLabel, "lblTime2");
    bottom->addWidget(btnCalculate);
    bottom->addWidget(btnClose);
    bottom->addWidget(lblTime1);
    bottom->addWidget(lblTime2);
    bottom->addStretch();
    layout->addLayout(bottom);
    pgbProgress = new QProgressBar;
    pgbProgress->setObjectName("pgbProgress");
    pgbProgress->setRange(0, 100);
    pgbProgress->setTextVisible(false);
    pgbProgress->setMaximumHeight(8);
    layout->addWidget(pgbProgress);
    // Room for the longest times the locale writes, so the fixed window never cuts them.
    const QString widest = QLocale::system().toString(QTime(23, 59, 59), QLocale::LongFormat);
    lblTime1->setMinimumWidth(lblTime1->fontMetrics().horizontalAdvance("Elapsed: " + widest + "  "));
    lblTime2->setMinimumWidth(lblTime2->fontMetrics().horizontalAdvance("Left: " + widest + "  "));
    btnCalculate->setMinimumWidth(btnCalculate->sizeHint().width());
    // Hidden, but their room is kept: the fixed window does not jump when they appear.
    for (QWidget* w : std::initializer_list<QWidget*>{lblTime1, lblTime2, pgbProgress}) {
        QSizePolicy keep = w->sizePolicy();
        keep.setRetainSizeWhenHidden(true);
        w->setSizePolicy(keep);
        w->hide();
    }
    connect(btnCalculate, &QPushButton::clicked, this, &TfrmChecksum::btnCalculateClick);
    connect(btnClose, &QPushButton::clicked, this, &TfrmChecksum::btnCloseClick);

    ToolJobControl& job = makeJobControl(pgbProgress, nullptr, &StopRequested);
    job.onBusy = [this](bool on) {
        btnCalculate->setEnabled(!on);
        if (on) {
            pgbProgress->show();
            lblTime1->show();
            lblTime2->show();
        }
    };
    job.onProgress = [this](const Progress& p) {
        if (const auto* t = dynamic_cast<const checksum::TimeProgress*>(&p)) {
            lblTime1->setText(QString::fromStdString(t->elapsed));
            lblTime2->setText(QString::fromStdString(t->left));
        }
    };
    setFixedSize(sizeHint());
}

TfrmChecksum::~TfrmChecksum() = default;

void TfrmChecksum::btnCalculateClick() {
    runJob([this] {
        checksum::Options options;
        options.timeFormat = QLocale::system().timeFormat(QLocale::LongFormat).toStdString();
        const auto result =
            checksum::calculate(backend_, dialogs(), jobControl(), selection_, kind_, options);
        jobControl().showHeld();
        if (result.md5 || result.sha1) {
            edtChecksum->setText(QString::fromStdString(result.first));
            edtChecksum2->setText(QString::fromStdString(result.second));
        }
    });
}

void TfrmChecksum::btnCloseClick() {
    StopRequested = true;
    close();
}

bool TfrmChecksum::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn && (watched == edtChecksum || watched == edtChecksum2)) {
        auto* edit = static_cast<QLineEdit*>(watched);
        // After the click that gave the focus has placed the cursor.
        QTimer::singleShot(0, edit, &QLineEdit::selectAll);
    }
    return TToolWindow::eventFilter(watched, event);
}

void OpenChecksumWindow(platform::Backend& backend, const TFileInfo& selection, int kind, QWidget* owner) {
    (new TfrmChecksum(backend, selection, checksum::ChecksumKind(kind), nullptr, owner))->showFromMenu();
}
