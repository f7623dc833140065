#include "inspect/gui/graphical.h"

#include "inspect/gui/hexview_window.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QString colourName(bytemap::Rgb c) {
    return QColor(c.red, c.green, c.blue).name();
}

QWidget* legendItem(bytemap::Rgb colour, const char* text) {
    auto* item = new QWidget;
    auto* row = new QHBoxLayout(item);
    row->setContentsMargins(0, 0, 0, 0);
    auto* square = new QLabel;
    square->setFixedSize(12, 12);
    square->setStyleSheet("background-color: " + colourName(colour) + "; border: 1px solid black;");
    row->addWidget(square);
    row->addWidget(new QLabel(text));
    return item;
}

} // namespace

// --- TMapImage ------------------------------------------------------------------------------

TMapImage::TMapImage(const bytemap::Image& image, QWidget* parent) : QWidget(parent), image_(image) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    fit();
}

void TMapImage::fit() {
    setFixedSize(image_.width(), image_.height());
}

void TMapImage::paintEvent(QPaintEvent* event) {
    if (image_.height() <= 0) return;
    // The engine's pixels are shown where they are, without a copy.
    const QImage view(reinterpret_cast<const uchar*>(image_.data()), image_.width(), image_.height(),
                      image_.width() * 4, QImage::Format_RGB32);
    QPainter painter(this);
    const QRect area = event->rect() & view.rect();
    painter.drawImage(area, view, area);
}

bool TMapImage::inside(const QPoint& p) const {
    return p.x() >= 0 && p.y() >= 0 && p.x() < image_.width() && p.y() < image_.height();
}

void TMapImage::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (inside(p)) emit pointerMoved(p.x(), p.y());
}

void TMapImage::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (inside(p)) emit pressed(p.x(), p.y());
    QWidget::mousePressEvent(event); // the right button also opens the context menu
}

void TMapImage::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click comes as this event alone: it is a press all the same.
    const QPoint p = event->position().toPoint();
    if (!inside(p)) return;
    emit pressed(p.x(), p.y());
    emit doubleClicked(p.x(), p.y());
}

// --- TfrmGraphical --------------------------------------------------------------------------

TfrmGraphical::TfrmGraphical(platform::Backend& backend, const TFileInfo& selection, QWidget* owner,
                             Dialogs* dialogs)
    : ToolWindowBase(owner, Qt::Window), backend_(backend), map_(backend, selection),
      injectedDialogs_(dialogs) {
    setObjectName("frmGraphical");
    setWindowTitle("Graphical presentation of data on specified device");
    useDialogs(dialogs);
    buildLayout();
    makeJobControl(nullptr, btnStop);
    setMaximumWidth(1060);
    resize(687, 497);
    centreOnScreen(size());
}

TfrmGraphical::~TfrmGraphical() = default;

void TfrmGraphical::buildLayout() {
    auto* main = new QVBoxLayout(this);

    lblDeviceName = new QLabel(QString::fromStdString(map_.file().Description));
    lblDeviceName->setObjectName("lblDeviceName");
    lblDeviceName->setTextFormat(Qt::PlainText); // a description is never markup
    lblDeviceName->setAlignment(Qt::AlignCenter);
    lblDeviceName->setStyleSheet("color: blue;");
    main->addWidget(lblDeviceName);

    sedSecPerPix = new QSpinBox;
    sedSecPerPix->setObjectName("sedSecPerPix");
    sedSecPerPix->setRange(bytemap::kMinSectorsPerPixel, bytemap::kMaxSectorsPerPixel);
    sedSecPerPix->setValue(1);
    edtOffset = new QLineEdit(QString::number(map_.startOffset()));
    edtOffset->setObjectName("edtOffset");
    // Shows the start offset, which only Forward changes.
    edtOffset->setReadOnly(true);
    QPalette grey = edtOffset->palette();
    grey.setColor(QPalette::Base, grey.color(QPalette::Button));
    edtOffset->setPalette(grey);
    btnDraw = new QPushButton("&Draw disk map");
    btnDraw->setObjectName("btnDraw");
    btnStop = new QPushButton("&Stop");
    btnStop->setObjectName("btnStop");
    btnStop->hide();
    btnForward = new QPushButton("&Forward >>");
    btnForward->setObjectName("btnForward");
    {
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel("Sectors per pixel"));
        row->addWidget(sedSecPerPix);
        row->addWidget(new QLabel("Offset"));
        row->addWidget(edtOffset, 1);
        row->addWidget(btnDraw);
        row->addWidget(btnStop);
        row->addWidget(btnForward);
        main->addLayout(row);
    }
    connect(btnDraw, &QPushButton::clicked, this, &TfrmGraphical::btnDrawClick);
    connect(btnForward, &QPushButton::clicked, this, &TfrmGraphical::btnForwardClick);
    connect(btnStop, &QPushButton::clicked, this, &TfrmGraphical::btnStopClick);

    scbMap = new QScrollArea;
    scbMap->setObjectName("scbMap");
    imgMap = new TMapImage(map_.image(), scbMap);
    imgMap->setObjectName("imgMap");
    scbMap->setWidget(imgMap);
    main->addWidget(scbMap, 1);
    connect(imgMap, &TMapImage::pointerMoved, this, &TfrmGraphical::imgMapMouseMove);
    connect(imgMap, &TMapImage::pressed, this, &TfrmGraphical::imgMapMouseDown);
    connect(imgMap, &TMapImage::doubleClicked, this, &TfrmGraphical::imgMapDblClick);

    Saveimage1 = new QAction(bytemap::kSaveImageCaption, this);
    Saveimage1->setObjectName("Saveimage1");
    Saveimage1->setEnabled(false);
    imgMap->setContextMenuPolicy(Qt::ActionsContextMenu);
    imgMap->addAction(Saveimage1);
    connect(Saveimage1, &QAction::triggered, this, &TfrmGraphical::Saveimage1Click);

    lblSecNr = new QLabel;
    lblSecNr->setObjectName("lblSecNr");
    lblPosition = new QLabel;
    lblPosition->setObjectName("lblPosition");
    lblPosRelative = new QLabel;
    lblPosRelative->setObjectName("lblPosRelative");
    {
        auto* row = new QGridLayout;
        row->addWidget(legendItem(bytemap::kTextColour, bytemap::kTextLegend), 0, 0);
        row->addWidget(legendItem(bytemap::kBinaryColour, bytemap::kBinaryLegend), 1, 0);
        row->addWidget(legendItem(bytemap::kEmptyColour, bytemap::kEmptyLegend), 2, 0);
        row->addWidget(new QLabel("Sector number:"), 0, 1);
        row->addWidget(lblSecNr, 1, 1);
        row->addWidget(new QLabel("Position absolute:"), 0, 2);
        row->addWidget(lblPosition, 1, 2);
        row->addWidget(new QLabel("Position relative:"), 0, 3);
        row->addWidget(lblPosRelative, 1, 3);
        main->addLayout(row);
    }
}

void TfrmGraphical::btnDrawClick() {
    runJob([this] { map_.draw(dialogs(), jobControl(), *this, sedSecPerPix->value()); });
}

void TfrmGraphical::btnForwardClick() {
    runJob([this] { map_.forward(dialogs(), jobControl(), *this, sedSecPerPix->value()); });
}

void TfrmGraphical::btnStopClick() {
    jobControl().requestStop();
}

void TfrmGraphical::imgMapMouseMove(int x, int y) {
    const auto r = bytemap::readouts(bytemap::offsetFromText(edtOffset->text().toStdString()), x, y,
                                     sedSecPerPix->value());
    lblSecNr->setText(QString::fromStdString(r.sector));
    lblPosition->setText(QString::fromStdString(r.absolute));
    lblPosRelative->setText(QString::fromStdString(r.relative));
}

void TfrmGraphical::imgMapMouseDown(int x, int y) {
    map_.press(edtOffset->text().toStdString(), x, y, sedSecPerPix->value());
}

void TfrmGraphical::imgMapDblClick(int, int) {
    const auto target = map_.doubleClickTarget();
    if (!target) return;
    // The viewer outlives this window: it belongs to this window's owner when there is one.
    OpenHexView(backend_, *target, parentWidget() ? parentWidget() : this, injectedDialogs_);
}

void TfrmGraphical::Saveimage1Click() {
    FileDialog dialog;
    dialog.kind = FileDialog::Kind::Save;
    dialog.filter = bytemap::kPngFilter;
    dialog.defaultExt = ".png";
    dialog.initialName =
        (map_.file().DefaultName.empty() ? std::string("map") : map_.file().DefaultName) + ".png";
    dialog.overwritePrompt = true;
    const auto file = dialogs().chooseFile(dialog);
    if (!file) return;
    if (const auto failure = bytemap::savePng(backend_, map_.image(), *file)) dialogs().message(*failure);
}

void TfrmGraphical::resized() {
    imgMap->fit();
    // The image is all white again: the screen must show that, even where this drawing puts
    // nothing (past the data's end, after Stop) and where the size stayed the same.
    imgMap->update();
}

void TfrmGraphical::drawn(int firstRow, int lastRow) {
    imgMap->update(QRect(0, firstRow, bytemap::kWidth, lastRow - firstRow + 1));
}

void TfrmGraphical::drawingChanged() {
    btnDraw->setEnabled(map_.drawEnabled());
    btnForward->setEnabled(map_.forwardEnabled());
    Saveimage1->setEnabled(map_.hasMap() && !map_.drawing());
    edtOffset->setText(QString::number(map_.startOffset()));
}

void TfrmGraphical::FormClose() {
    jobControl().requestStop();
}

TfrmGraphical* OpenGraphical(platform::Backend& backend, const TFileInfo& selection, QWidget* owner,
                             Dialogs* dialogs) {
    // Owned by `owner` (deleted with it) and deleted when it closes.
    auto* window = new TfrmGraphical(backend, selection, owner, dialogs);
    window->showFromMenu();
    return window;
}
