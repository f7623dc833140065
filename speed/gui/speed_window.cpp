#include "speed/gui/speed_window.h"

#include "platform/platform.h"
#include "ui/save_picture.h"

#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QDateTime>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QPixmap>
#include <QPushButton>
#include <QScatterSeries>
#include <QVBoxLayout>
#include <QValueAxis>

namespace {

constexpr qint64 kShowInterval = 100; // ms between chart repaints while a test runs

QLabel* named(QLabel* label, const char* name) {
    label->setObjectName(name);
    return label;
}

QPushButton* button(const char* text, const char* name) {
    auto* b = new QPushButton(text);
    b->setObjectName(name);
    return b;
}

// A chart title is always read as markup: a name such as "x<u>y  z.bin" must show as typed, with
// its tags as text and every blank kept (runs of blanks, and blanks at either end, would collapse).
QString plainTitle(const QString& text) {
    const QString escaped = text.toHtmlEscaped();
    QString out;
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        const bool keep = escaped[i] == u' ' && (i == 0 || i + 1 == escaped.size() || escaped[i - 1] == u' ');
        if (keep)
            out += QStringLiteral("&nbsp;");
        else
            out += escaped[i];
    }
    return out;
}

// Tick labels with the decimals that keep them apart, the user's decimal separator and no
// thousands separators.
void applyAxis(QValueAxis* axis, const speed::Axis& a) {
    axis->setRange(a.min, a.max);
    axis->setTickCount(a.ticks());
    axis->setLabelFormat(QStringLiteral("%.%1f").arg(a.decimals));
}

} // namespace

TfrmDriveSpeed::TfrmDriveSpeed(platform::Backend& backend, const TFileInfo& selection, Dialogs* dialogs,
                               QWidget* parent)
    : TToolWindow(parent), backend_(backend), selection_(selection) {
    setObjectName("frmDriveSpeed");
    setWindowTitle(speed::kCaption);
    setSizeGripEnabled(true);
    useDialogs(dialogs);
    const QString description = QString::fromStdString(selection.Description);

    auto* layout = new QVBoxLayout(this);
    addSelectionInfo(layout, selection);
    grbSelection->hide();

    chart = new QChart;
    chart->setTitle(plainTitle(description));
    QLocale numbers = QLocale::system();
    numbers.setNumberOptions(QLocale::OmitGroupSeparator);
    chart->setLocale(numbers);
    chart->setLocalizeNumbers(true);
    chart->legend()->hide();
    Series1 = new QScatterSeries;
    Series1->setName(speed::seriesTitle(speed::Series::Speed));
    Series1->setColor(Qt::blue);
    Series1->setMarkerShape(QScatterSeries::MarkerShapeRotatedRectangle);
    Series1->setMarkerSize(3);
    Series1->setPen(Qt::NoPen); // a border would hide markers this small
    Series2 = new QLineSeries;
    Series2->setName(speed::seriesTitle(speed::Series::Average));
    Series2->setColor(Qt::red);
    Series3 = new QScatterSeries;
    Series3->setColor(Qt::yellow);
    Series3->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    Series3->setMarkerSize(6);
    Series3->setBorderColor(Qt::darkYellow);
    axisX = new QValueAxis;
    axisY = new QValueAxis;
    applyAxis(axisX, speed::niceAxis(0, 1));
    applyAxis(axisY, speed::niceAxis(0, 1));
    chart->addAxis(axisX, Qt::AlignBottom);
    chart->addAxis(axisY, Qt::AlignLeft);
    for (QXYSeries* s : std::initializer_list<QXYSeries*>{Series1, Series2, Series3}) {
        chart->addSeries(s);
        s->attachAxis(axisX);
        s->attachAxis(axisY);
    }
    chtSpeedTest = new QChartView(chart); // takes the chart
    chtSpeedTest->setObjectName("chtSpeedTest");
    chtSpeedTest->setRenderHint(QPainter::Antialiasing, false);
    chtSpeedTest->setMinimumSize(480, 320);
    layout->addWidget(chtSpeedTest, 1);

    auto* panel = new QHBoxLayout;
    auto* captions = new QVBoxLayout;
    lblxaxis = named(new QLabel(speed::kSpeedAxisCaption), "lblxaxis");
    Label5 = named(new QLabel(speed::kPositionCaption), "Label5");
    captions->addWidget(lblxaxis);
    captions->addWidget(Label5);
    panel->addLayout(captions);
    btnSpeedTest = button("&Perform speed test", "btnSpeedTest");
    btnSpeedTest->setDefault(true);
    btnSeektest = button("Seek test", "btnSeektest");
    btnStop = button("&Stop", "btnStop");
    btnClose = button("&Close", "btnClose");
    btnSaveChart = button(speed::kSaveChartCaption, "btnSaveChart");
    for (QPushButton* b : {btnSpeedTest, btnSeektest, btnStop, btnClose, btnSaveChart})
        panel->addWidget(b);
    auto* results = new QVBoxLayout;
    lblAverage = named(new QLabel, "lblAverage");
    lblMax = named(new QLabel, "lblMax");
    lblAverage->hide();
    lblMax->hide();
    results->addWidget(lblAverage);
    results->addWidget(lblMax);
    panel->addLayout(results);
    panel->addStretch();
    layout->addLayout(panel);

    connect(btnSpeedTest, &QPushButton::clicked, this, &TfrmDriveSpeed::btnSpeedTestClick);
    connect(btnSeektest, &QPushButton::clicked, this, &TfrmDriveSpeed::btnSeektestClick);
    connect(btnStop, &QPushButton::clicked, this, &TfrmDriveSpeed::btnStopClick);
    connect(btnClose, &QPushButton::clicked, this, &TfrmDriveSpeed::btnCloseClick);
    connect(btnSaveChart, &QPushButton::clicked, this, &TfrmDriveSpeed::btnSaveChartClick);

    ToolJobControl& job = makeJobControl(nullptr, nullptr, &StopRequested);
    job.onBusy = [this](bool on) { started(on); };
    job.onProgress = [this](const Progress& p) { take(p); };
    resize(760, 520);
}

TfrmDriveSpeed::~TfrmDriveSpeed() = default;

// The test has opened the selection and begins.
void TfrmDriveSpeed::started(bool on) {
    if (!on) return;
    lblAverage->show();
    lblMax->show();
    btnSpeedTest->setEnabled(false);
    if (test_ == Test::Seek) {
        btnSeektest->setEnabled(false);
        lblxaxis->setText(speed::kSeekAxisCaption);
        seekRan_ = true;
    }
}

void TfrmDriveSpeed::take(const Progress& p) {
    const auto* s = dynamic_cast<const speed::Sample*>(&p);
    if (!s) return;
    if (!s->points.empty()) {
        data_.add(s->points);
        pending_ = true;
    }
    if (s->measured) {
        lblAverage->setText(QString::fromStdString(s->average));
        lblMax->setText(QString::fromStdString(s->maximum));
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (pending_ && now - lastShown_ >= kShowInterval) showPoints();
}

void TfrmDriveSpeed::showPoints() {
    lastShown_ = QDateTime::currentMSecsSinceEpoch();
    if (!pending_) return;
    pending_ = false;
    QXYSeries* series[speed::kSeriesCount] = {Series1, Series2, Series3};
    for (int i = 0; i < speed::kSeriesCount; ++i) {
        const auto& points = data_.points(speed::Series(i));
        QList<QPointF>& shown = shown_[i];
        if (shown.size() == qsizetype(points.size())) continue;
        for (size_t k = size_t(shown.size()); k < points.size(); ++k)
            shown.append({points[k].first, points[k].second});
        series[i]->replace(shown);
    }
    if (const auto b = data_.bounds()) {
        const speed::Axis x = speed::niceAxis(b->minX, b->maxX), y = speed::niceAxis(b->minY, b->maxY);
        applyAxis(axisX, x);
        applyAxis(axisY, y);
    }
}

void TfrmDriveSpeed::btnSpeedTestClick() {
    const Test outer = std::exchange(test_, Test::Speed);
    runJob([this] {
        speed::Options options;
        options.decimalSeparator = platform::decimalSeparator();
        speed::speedTest(backend_, dialogs(), jobControl(), selection_, options);
    });
    showPoints();
    test_ = outer;
    // After a seek test only another seek test can run in this window.
    if (!seekRan_ && test_ == Test::None) btnSpeedTest->setEnabled(true);
}

void TfrmDriveSpeed::btnSeektestClick() {
    const Test outer = std::exchange(test_, Test::Seek);
    runJob([this] {
        speed::Options options;
        options.decimalSeparator = platform::decimalSeparator();
        speed::seekTest(backend_, dialogs(), jobControl(), selection_, options);
    });
    showPoints();
    test_ = outer;
    btnSeektest->setEnabled(true);
}

void TfrmDriveSpeed::btnCloseClick() {
    StopRequested = true;
    close();
}

void TfrmDriveSpeed::btnSaveChartClick() {
    FileDialog dialog;
    dialog.kind = FileDialog::Kind::Save;
    dialog.filter = speed::kChartFilter;
    dialog.defaultExt = ".png";
    dialog.initialName = speed::kChartName;
    dialog.overwritePrompt = true;
    const auto file = dialogs().chooseFile(dialog);
    if (!file) return;
    showPoints();
    // The chart lays out its axes for new points on the next pass of the event loop.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (const auto failure = savePicture(backend_, chtSpeedTest->grab(), *file))
        dialogs().message(speed::chartNotSaved(*file) + "\n" + *failure);
}

void OpenSpeedWindow(platform::Backend& backend, const TFileInfo& selection, QWidget* owner) {
    (new TfrmDriveSpeed(backend, selection, nullptr, owner))->showFromMenu();
}
