#pragma once
// The speed and seek test window: a chart of the selection's read speed along it, or of random
// access times, with the two result labels.

#include "core/fileinfo.h"
#include "speed/speed.h"
#include "ui/tool_window.h"

#include <QList>
#include <QPointF>

class QChart;
class QChartView;
class QGroupBox;
class QLabel;
class QLineSeries;
class QPushButton;
class QScatterSeries;
class QValueAxis;
class QXYSeries;
namespace platform {
class Backend;
}

class TfrmDriveSpeed : public TToolWindow {
    Q_OBJECT
public:
    // dialogs: where its messages and file dialog go (Qt's unless a test answers them).
    TfrmDriveSpeed(platform::Backend& backend, const TFileInfo& selection, Dialogs* dialogs = nullptr,
                   QWidget* parent = nullptr);
    ~TfrmDriveSpeed() override;

    bool StopRequested = false;

    QChartView* chtSpeedTest = nullptr;
    QChart* chart = nullptr;
    QScatterSeries* Series1 = nullptr;
    QLineSeries* Series2 = nullptr;
    QScatterSeries* Series3 = nullptr;
    QValueAxis* axisX = nullptr;
    QValueAxis* axisY = nullptr;
    QLabel* lblxaxis = nullptr;
    QLabel* Label5 = nullptr;
    QPushButton* btnSpeedTest = nullptr;
    QPushButton* btnSeektest = nullptr;
    QPushButton* btnStop = nullptr;
    QPushButton* btnClose = nullptr;
    QPushButton* btnSaveChart = nullptr;
    QLabel* lblAverage = nullptr;
    QLabel* lblMax = nullptr;

    // Every point on the chart, as the engine gave them.
    const speed::ChartData& chartData() const { return data_; }

public slots:
    void btnSpeedTestClick();
    void btnSeektestClick();
    void btnStopClick() { StopRequested = true; }
    void btnCloseClick();
    void btnSaveChartClick();

protected:
    void FormClose() override { StopRequested = true; }

private:
    enum class Test { None, Speed, Seek };
    void started(bool on);
    void take(const Progress& p);
    // Points reach the chart in batches: one at a time, a chart repaints for each.
    void showPoints();

    platform::Backend& backend_;
    const TFileInfo selection_;
    speed::ChartData data_;
    QList<QPointF> shown_[speed::kSeriesCount];
    bool pending_ = false;
    qint64 lastShown_ = 0;
    Test test_ = Test::None;
    bool seekRan_ = false;
};

// Opens a new speed test window (not modal, deleted once closed and idle) for a copy of the
// selection.
void OpenSpeedWindow(platform::Backend& backend, const TFileInfo& selection, QWidget* owner);
