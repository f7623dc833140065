#include "rescue/gui/rescue_window.h"

#include "rescue/gui/rescue_map_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

constexpr int64_t kShowInterval = 250; // ms between redraws of the counters and the map

template <class W> W* named(W* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

QLabel* counter(const char* name) {
    auto* l = named(new QLabel("-"), name);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

QWidget* legendItem(rescue::State state, const char* text) {
    auto* item = new QWidget;
    auto* row = new QHBoxLayout(item);
    row->setContentsMargins(0, 0, 0, 0);
    auto* square = new QLabel;
    square->setFixedSize(12, 12);
    square->setStyleSheet("background-color: " + TRescueMap::colourOf(state).name() +
                          "; border: 1px solid black;");
    row->addWidget(square);
    row->addWidget(new QLabel(text));
    return item;
}

QString number(double value, int decimals) {
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', decimals);
}

QString bytes(int64_t n) {
    return QString::number(n) + " bytes";
}

QString phaseName(rescue::Phase phase, int pass) {
    switch (phase) {
    case rescue::Phase::Copying:
        return QString("Copying, pass %1").arg(pass);
    case rescue::Phase::Trimming:
        return "Trimming";
    case rescue::Phase::Scraping:
        return "Scraping";
    case rescue::Phase::Retrying:
        return QString("Retrying, pass %1").arg(pass);
    case rescue::Phase::Done:
        return "Done";
    }
    return {};
}

// How the run ended, in the command line's words, and how a stopped one goes on here.
QString summaryText(const rescue::Result& r, int64_t size) {
    if (r.outcome != Outcome::Completed && r.reads == 0) return "Nothing was read.";
    QString text = QString::fromStdString(rescue::summary(r, size));
    if (r.stopped) text += "\nStopped: Start with the same map file goes on from where it stopped.";
    return text;
}

} // namespace

TfrmRescue::TfrmRescue(platform::Backend& backend, const TFileInfo& selection, Dialogs* dialogs,
                       QWidget* parent)
    : TToolWindow(parent), backend_(backend), selection_(selection) {
    setObjectName("frmRescue");
    setWindowTitle("Rescue dump");
    setSizeGripEnabled(true);
    useDialogs(dialogs);

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    addSelectionInfo(top, selection);

    grbFiles = named(new QGroupBox("Files"), "grbFiles");
    auto* files = new QGridLayout(grbFiles);
    edtImage = named(new QLineEdit, "edtImage");
    btnImage = named(new QPushButton("..."), "btnImage");
    edtMap = named(new QLineEdit, "edtMap");
    btnMap = named(new QPushButton("..."), "btnMap");
    for (QPushButton* b : {btnImage, btnMap})
        b->setFixedWidth(b->fontMetrics().horizontalAdvance("....") + 16);
    files->addWidget(new QLabel("Image file"), 0, 0);
    files->addWidget(edtImage, 0, 1);
    files->addWidget(btnImage, 0, 2);
    files->addWidget(new QLabel("Map file"), 1, 0);
    files->addWidget(edtMap, 1, 1);
    files->addWidget(btnMap, 1, 2);
    files->setColumnMinimumWidth(1, 320);
    top->addWidget(grbFiles, 1);
    layout->addLayout(top);

    auto* middle = new QHBoxLayout;
    grbOptions = named(new QGroupBox("Options"), "grbOptions");
    auto* options = new QFormLayout(grbOptions);
    edtFill = named(new QLineEdit, "edtFill");
    edtFill->setPlaceholderText("00");
    edtFill->setMaxLength(int(2 * rescue::kMaxFill) + 2);
    edtFill->setValidator(
        new QRegularExpressionValidator(QRegularExpression("(0[xX])?[0-9A-Fa-f]*"), edtFill));
    options->addRow("Fill unreadable sectors with (hexadecimal)", edtFill);
    sedRetries = named(new QSpinBox, "sedRetries");
    sedRetries->setRange(0, rescue::kMaxRetries);
    options->addRow("Retries of bad sectors", sedRetries);
    chkReverse = named(new QCheckBox("Reverse pass after the first"), "chkReverse");
    chkSplit = named(new QCheckBox("Split failed blocks into sectors"), "chkSplit");
    chkSplit->setChecked(true);
    chkScrape = named(new QCheckBox("Scrape between the bad sectors of a block"), "chkScrape");
    chkScrape->setChecked(true);
    for (QCheckBox* c : {chkReverse, chkSplit, chkScrape})
        options->addRow(c);
    cboSectorSize = named(new QComboBox, "cboSectorSize");
    cboSectorSize->addItem("the device's physical sector", 0);
    for (const int bytes : {512, 1024, 2048, 4096, 8192, 16384, 32768, 65536})
        cboSectorSize->addItem(QString::number(bytes) + " bytes", bytes);
    options->addRow("Sector size", cboSectorSize);
    // Without splitting there is nothing to scrape, nor a sector size to split to.
    connect(chkSplit, &QCheckBox::toggled, this, [this](bool on) {
        chkScrape->setEnabled(on);
        cboSectorSize->setEnabled(on);
    });
    middle->addWidget(grbOptions);

    grbStatus = named(new QGroupBox("Progress"), "grbStatus");
    auto* status = new QFormLayout(grbStatus);
    lblRescued = counter("lblRescued");
    lblBadBytes = counter("lblBadBytes");
    lblBadAreas = counter("lblBadAreas");
    lblPhase = counter("lblPhase");
    lblRate = counter("lblRate");
    lblSinceGood = counter("lblSinceGood");
    status->addRow("Rescued", lblRescued);
    status->addRow("Bad", lblBadBytes);
    status->addRow("Bad areas", lblBadAreas);
    status->addRow("Phase", lblPhase);
    status->addRow("Rate", lblRate);
    status->addRow("Since last good read", lblSinceGood);
    middle->addWidget(grbStatus, 1);
    layout->addLayout(middle);

    grbMap = named(new QGroupBox("Map"), "grbMap");
    auto* mapBox = new QVBoxLayout(grbMap);
    imgMap = named(new TRescueMap, "imgMap");
    imgMap->setMap(rescue::Map(selection.Size));
    mapBox->addWidget(imgMap);
    auto* legend = new QHBoxLayout;
    legend->addWidget(legendItem(rescue::State::Finished, "Finished"));
    legend->addWidget(legendItem(rescue::State::NotTried, "Not tried"));
    legend->addWidget(legendItem(rescue::State::Failed, "Failed"));
    legend->addWidget(legendItem(rescue::State::Bad, "Bad"));
    legend->addStretch();
    lblScale = named(new QLabel, "lblScale");
    legend->addWidget(lblScale);
    mapBox->addLayout(legend);
    layout->addWidget(grbMap);

    grbResult = named(new QGroupBox("Result"), "grbResult");
    auto* result = new QVBoxLayout(grbResult);
    lblSummary = named(new QLabel, "lblSummary");
    lblSummary->setTextFormat(Qt::PlainText);
    lblSummary->setWordWrap(true);
    lblSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Room for the longest summary, so that the window does not jump when it comes.
    lblSummary->setMinimumHeight(3 * lblSummary->fontMetrics().lineSpacing());
    lblSummary->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    result->addWidget(lblSummary);
    result->addWidget(new QLabel("Bad ranges (offset and size in bytes, from the selection's first byte):"));
    txtBadRanges = named(new QPlainTextEdit, "txtBadRanges");
    txtBadRanges->setReadOnly(true);
    txtBadRanges->setMaximumHeight(96);
    result->addWidget(txtBadRanges);
    layout->addWidget(grbResult);

    auto* actions = new QHBoxLayout;
    btnStart = named(new QPushButton("&Start"), "btnStart");
    btnStart->setDefault(true);
    btnStop = named(new QPushButton("Sto&p"), "btnStop");
    btnStop->setEnabled(false);
    btnClose = named(new QPushButton("&Close"), "btnClose");
    actions->addWidget(btnStart);
    actions->addWidget(btnStop);
    actions->addStretch();
    actions->addWidget(btnClose);
    layout->addLayout(actions);

    connect(edtImage, &QLineEdit::textEdited, this, &TfrmRescue::imageEdited);
    connect(imgMap, &TRescueMap::resized, this, &TfrmRescue::showScale);
    connect(btnImage, &QPushButton::clicked, this, &TfrmRescue::btnImageClick);
    connect(btnMap, &QPushButton::clicked, this, &TfrmRescue::btnMapClick);
    connect(btnStart, &QPushButton::clicked, this, &TfrmRescue::btnStartClick);
    connect(btnStop, &QPushButton::clicked, this, &TfrmRescue::btnStopClick);
    connect(btnClose, &QPushButton::clicked, this, &TfrmRescue::btnCloseClick);

    ToolJobControl& job = makeJobControl(nullptr, nullptr, &StopRequested);
    job.onProgress = [this](const Progress& p) { take(p); };

    resize(sizeHint().expandedTo(QSize(720, 0)));
    centreOnScreen(size());
    showScale();
}

TfrmRescue::~TfrmRescue() = default;

void TfrmRescue::imageEdited(const QString& text) {
    if (edtMap->text() == proposedMap_) edtMap->setText(text.isEmpty() ? QString() : text + ".map");
    proposedMap_ = edtMap->text();
}

void TfrmRescue::btnImageClick() {
    // An existing image is continued through its map or replaced on request: the engine asks.
    if (const auto name = chooseName("image file|*.img|any file|*.*", ".img", edtImage->text())) {
        edtImage->setText(*name);
        imageEdited(*name);
    }
}

void TfrmRescue::btnMapClick() {
    // Choosing an existing map is how a run is continued.
    if (const auto name = chooseName("map file|*.map|any file|*.*", ".map", edtMap->text()))
        edtMap->setText(*name);
}

std::optional<QString> TfrmRescue::chooseName(const char* filter, const char* extension,
                                              const QString& current) {
    FileDialog dialog;
    dialog.kind = FileDialog::Kind::Save;
    dialog.filter = filter;
    dialog.defaultExt = extension;
    dialog.initialName = current.toStdString();
    // No overwrite question here: what an existing file means is the engine's to say.
    dialog.overwritePrompt = false;
    const auto file = dialogs().chooseFile(dialog);
    if (!file) return std::nullopt;
    return QString::fromStdString(*file);
}

void TfrmRescue::btnStartClick() {
    if (edtImage->text().isEmpty()) btnImageClick();
    if (edtImage->text().isEmpty()) return;
    if (edtMap->text().isEmpty()) {
        edtMap->setText(edtImage->text() + ".map");
        proposedMap_ = edtMap->text();
    }
    rescue::Options options;
    if (!edtFill->text().isEmpty()) {
        const auto fill = rescue::parseFill(edtFill->text().toStdString());
        if (!fill) {
            dialogs().error("The fill pattern takes hexadecimal bytes, 1 to " +
                            std::to_string(rescue::kMaxFill) + " of them (00, FF, DEADBEEF).");
            return;
        }
        options.fill = *fill;
    }
    options.retries = sedRetries->value();
    options.reverse = chkReverse->isChecked();
    options.split = chkSplit->isChecked();
    options.scrape = chkScrape->isChecked();
    options.sectorSize = cboSectorSize->currentData().toLongLong();
    const std::string image = edtImage->text().toStdString(), map = edtMap->text().toStdString();

    running(true);
    runJob([&] {
        // An image without its map is replaced only after the engine's question.
        const rescue::Result r =
            rescue::rescueToFile(backend_, dialogs(), jobControl(), selection_, image, map, false, options);
        showResult(r);
    });
    running(false);
}

// While a run goes on, only Stop and Close answer: a second Start inside the first one's event
// pump would write the same image twice.
void TfrmRescue::running(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{btnStart, grbFiles, grbOptions})
        w->setEnabled(!on);
    btnStop->setEnabled(on);
    if (!on) return;
    StopRequested = false;
    startMs_ = jobControl().clock().nowMs();
    startRescued_ = -1;
    lastShownMs_ = 0;
    lblSummary->clear();
    txtBadRanges->clear();
}

void TfrmRescue::take(const Progress& p) {
    const auto* s = dynamic_cast<const rescue::Status*>(&p);
    if (!s) return;
    // The rate counts this run's bytes: a continued run starts with what the map had.
    if (startRescued_ < 0) {
        startRescued_ = s->rescued;
        startMs_ = jobControl().clock().nowMs();
    }
    const int64_t now = jobControl().clock().nowMs();
    if (lastShownMs_ && now - lastShownMs_ < kShowInterval) return;
    lastShownMs_ = now;
    showStatus(*s);
    if (s->map) imgMap->setMap(*s->map);
}

void TfrmRescue::showStatus(const rescue::Status& s) {
    lblRescued->setText(bytes(s.rescued));
    lblBadBytes->setText(bytes(s.bad));
    lblBadAreas->setText(QString::number(s.badAreas));
    lblPhase->setText(phaseName(s.phase, s.pass));
    const int64_t ms = jobControl().clock().nowMs() - startMs_;
    if (ms > 0)
        lblRate->setText(number(double(s.rescued - startRescued_) / 1000.0 / double(ms), 1) + " MB/s");
    lblSinceGood->setText(number(double(s.sinceGoodMs) / 1000.0, 1) + " s");
}

void TfrmRescue::showScale() {
    lblScale->setText("1 pixel = " + bytes(imgMap->bytesPerPixel()));
}

void TfrmRescue::showResult(const rescue::Result& r) {
    result_ = r;
    const rescue::Map& map = r.map;
    lblSummary->setText(summaryText(r, selection_.Size));
    // A run that never began has no map of this selection to show: the last one stays.
    if (map.size() != selection_.Size) return;
    imgMap->setMap(map);
    lblRescued->setText(bytes(map.bytesIn(rescue::State::Finished)));
    lblBadBytes->setText(bytes(map.bytesIn(rescue::State::Bad)));
    lblBadAreas->setText(QString::number(map.countOf(rescue::State::Bad)));
    lblPhase->setText(phaseName(map.phase, map.pass));
    QString ranges;
    for (const rescue::Area& a : r.badRanges)
        ranges += QString::number(a.offset) + "  " + QString::number(a.size) + "\n";
    txtBadRanges->setPlainText(ranges);
}

void OpenRescueWindow(platform::Backend& backend, const TFileInfo& selection, QWidget* owner) {
    (new TfrmRescue(backend, selection, nullptr, owner))->showFromMenu();
}
