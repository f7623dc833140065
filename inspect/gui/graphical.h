#pragma once
// The graphical byte map window: binds its controls and the image to bytemap::Map.

#include "core/fileinfo.h"
#include "core/job.h"
#include "inspect/bytemap.h"
#include "ui/tool_window.h"

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSpinBox;

namespace platform {
class Backend;
}

// The map's image at one pixel per pixel; passes the mouse on in image coordinates.
class TMapImage : public QWidget {
    Q_OBJECT
public:
    TMapImage(const bytemap::Image& image, QWidget* parent);
    // Takes the image's size.
    void fit();

signals:
    void pointerMoved(int x, int y);
    void pressed(int x, int y);
    void doubleClicked(int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    bool inside(const QPoint& p) const;
    const bytemap::Image& image_;
};

class TfrmGraphical : public ToolWindowBase<QWidget>, private bytemap::Canvas {
    Q_OBJECT
public:
    // dialogs: what messages and the file dialog go through (also for the hex viewers opened from
    // here); Qt's own when null.
    TfrmGraphical(platform::Backend& backend, const TFileInfo& selection, QWidget* owner = nullptr,
                  Dialogs* dialogs = nullptr);
    ~TfrmGraphical() override;

    const bytemap::Map& map() const { return map_; }

    QLabel* lblDeviceName = nullptr;
    QSpinBox* sedSecPerPix = nullptr;
    QLineEdit* edtOffset = nullptr;
    QPushButton* btnDraw = nullptr;
    QPushButton* btnStop = nullptr;
    QPushButton* btnForward = nullptr;
    QScrollArea* scbMap = nullptr;
    TMapImage* imgMap = nullptr;
    QLabel* lblSecNr = nullptr;
    QLabel* lblPosition = nullptr;
    QLabel* lblPosRelative = nullptr;
    QAction* Saveimage1 = nullptr; // the image's context menu

public slots:
    void btnDrawClick();
    void btnForwardClick();
    void btnStopClick();
    void imgMapMouseMove(int x, int y);
    void imgMapMouseDown(int x, int y);
    void imgMapDblClick(int x, int y);
    void Saveimage1Click();

protected:
    // A drawing that runs stops at its next block.
    void FormClose() override;

private:
    void buildLayout();

    // bytemap::Canvas
    void resized() override;
    void drawn(int firstRow, int lastRow) override;
    void drawingChanged() override;

    platform::Backend& backend_;
    bytemap::Map map_;
    // What the hex viewers opened from here ask through: null gives each one Qt's own.
    Dialogs* injectedDialogs_;
};

// Opens a new, non-modal byte map on a copy of the selection; deleted when it closes (and with
// its owner). Nothing is drawn until Draw or Forward.
TfrmGraphical* OpenGraphical(platform::Backend& backend, const TFileInfo& selection, QWidget* owner,
                             Dialogs* dialogs = nullptr);
