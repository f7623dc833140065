#include "inspect/gui/hexview_window.h"

#include "inspect/gui/hexview_model.h"

#include <QActionGroup>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// The read counter changes every 20 blocks, thousands of times in a long filtered scan; a person
// sees no difference from a few updates a second.
constexpr auto kReadCountInterval = std::chrono::milliseconds(100);

} // namespace

TfrmHexView::TfrmHexView(platform::Backend& backend, const TFileInfo& selection, QWidget* owner,
                         Dialogs* dialogs)
    : ToolWindowBase(owner), backend_(backend), viewer_(backend, selection) {
    setObjectName("frmHexView");
    setWindowTitle("Hex viewer and editor");
    useDialogs(dialogs);
    buildLayout();
    // Stop stays on screen between refreshes: the job control does not show and hide it.
    makeJobControl(nullptr, nullptr);
    resize(650, 497);
}

TfrmHexView::~TfrmHexView() = default;

QPushButton* TfrmHexView::navigationButton(const QString& caption, const char* name, int64_t distance,
                                           bool forward) {
    auto* b = new QPushButton(caption);
    b->setObjectName(name);
    b->setProperty(kDistance, qint64(distance));
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this,
            forward ? &TfrmHexView::btnForwardClick : &TfrmHexView::btnBackClick);
    return b;
}

void TfrmHexView::buildLayout() {
    auto* central = new QWidget;
    auto* main = new QVBoxLayout(central);

    makeSelectionInfo(viewer_.file());
    lblInfo = new QLabel(hexview::kInitialInfo);
    lblRead = new QLabel(hexview::kInitialRead);
    lblInfo->setObjectName("lblInfo");
    lblRead->setObjectName("lblRead");
    {
        // The read counters share the group, beside the offset and the length.
        auto* g = new QGridLayout(grbSelection);
        g->addWidget(new QLabel("Device:"), 0, 0);
        g->addWidget(lblDevice, 0, 1, 1, 3);
        g->addWidget(new QLabel("Offset:"), 1, 0);
        g->addWidget(lblOffset, 1, 1);
        g->addWidget(new QLabel("Length:"), 2, 0);
        g->addWidget(lblSize, 2, 1);
        g->addWidget(lblInfo, 1, 2);
        g->addWidget(lblRead, 2, 2);
        g->setColumnStretch(2, 1);
    }

    rgrFilter = new QGroupBox("Filter");
    rgrFilter->setObjectName("rgrFilter");
    rgrFilterItems = new QButtonGroup(this);
    {
        auto* g = new QGridLayout(rgrFilter);
        const auto& names = hexview::filterNames();
        for (int i = 0; i < int(names.size()); ++i) {
            auto* r = new QRadioButton(QString::fromStdString(names[size_t(i)]));
            rgrFilterItems->addButton(r, i);
            g->addWidget(r, i / 2, i % 2);
        }
        rgrFilterItems->button(0)->setChecked(true);
        connect(rgrFilterItems, &QButtonGroup::idClicked, this, &TfrmHexView::rgrFilterClick);
    }
    auto* top = new QHBoxLayout;
    top->addWidget(grbSelection, 1);
    top->addWidget(rgrFilter);
    main->addLayout(top);

    btnStart = new QPushButton("|<<");
    btnStart->setObjectName("btnStart");
    btnStart->setToolTip("Beginning");
    btnStart->setAutoDefault(false);
    Button1 = navigationButton("<<<", "Button1", 65536, false);
    btnPrev = navigationButton("<<", "btnPrev", 4096, false);
    Button2 = navigationButton("<", "Button2", 512, false);
    btnRefresh = new QPushButton("^");
    btnRefresh->setObjectName("btnRefresh");
    btnRefresh->setAutoDefault(false);
    Button3 = navigationButton(">", "Button3", 512, true);
    btnNext = navigationButton(">>", "btnNext", 4096, true);
    Button4 = navigationButton(">>>", "Button4", 65536, true);
    btnEnd = new QPushButton(">>|");
    btnEnd->setObjectName("btnEnd");
    btnEnd->setToolTip("End");
    btnEnd->setAutoDefault(false);
    edtAddress = new QLineEdit;
    edtAddress->setObjectName("edtAddress");
    btnGo = new QPushButton("&Jump");
    btnGo->setObjectName("btnGo");
    btnGo->setAutoDefault(false);
    {
        auto* row = new QHBoxLayout;
        for (QPushButton* b :
             {btnStart, Button1, btnPrev, Button2, btnRefresh, Button3, btnNext, Button4, btnEnd}) {
            b->setMaximumWidth(40);
            row->addWidget(b);
        }
        row->addSpacing(12);
        row->addWidget(edtAddress);
        row->addWidget(btnGo);
        main->addLayout(row);
    }
    connect(btnStart, &QPushButton::clicked, this, &TfrmHexView::btnStartClick);
    connect(btnRefresh, &QPushButton::clicked, this, &TfrmHexView::btnRefreshClick);
    connect(btnEnd, &QPushButton::clicked, this, &TfrmHexView::btnEndClick);
    connect(btnGo, &QPushButton::clicked, this, &TfrmHexView::btnGoClick);
    connect(edtAddress, &QLineEdit::returnPressed, this, &TfrmHexView::btnGoClick);

    edtAscii = new QLineEdit;
    edtAscii->setObjectName("edtAscii");
    edtHex = new QLineEdit;
    edtHex->setObjectName("edtHex");
    chbCaseSensitive = new QCheckBox("Case sensitive");
    chbCaseSensitive->setObjectName("chbCaseSensitive");
    btnSearch = new QPushButton("Search");
    btnSearch->setObjectName("btnSearch");
    btnSearch->setAutoDefault(false);
    btnStop = new QPushButton("&Stop");
    btnStop->setObjectName("btnStop");
    btnStop->setAutoDefault(false);
    {
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel("Ascii"));
        row->addWidget(edtAscii);
        row->addWidget(new QLabel("Hex"));
        row->addWidget(edtHex);
        row->addWidget(chbCaseSensitive);
        row->addWidget(btnSearch);
        row->addWidget(btnStop);
        main->addLayout(row);
    }
    connect(edtHex, &QLineEdit::textChanged, this, &TfrmHexView::edtHexChange);
    connect(btnSearch, &QPushButton::clicked, this, &TfrmHexView::btnSearchClick);
    connect(btnStop, &QPushButton::clicked, this, &TfrmHexView::btnStopClick);

    sgdHexview = new HexGrid(central);
    sgdHexview->setObjectName("sgdHexview");
    QFont gridFont("Courier New", 8);
    gridFont.setStyleHint(QFont::TypeWriter);
    sgdHexview->setFont(gridFont);
    sgdHexview->horizontalHeader()->setFont(gridFont);
    sgdHexview->setShowGrid(false);
    sgdHexview->setWordWrap(false);
    sgdHexview->verticalHeader()->hide();
    sgdHexview->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    sgdHexview->verticalHeader()->setMinimumSectionSize(1);
    sgdHexview->fitRowsToFont();
    sgdHexview->horizontalHeader()->setMinimumSectionSize(1);
    sgdHexview->horizontalHeader()->setDefaultSectionSize(16);
    sgdHexview->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    sgdHexview->horizontalHeader()->setHighlightSections(false);
    sgdHexview->setSelectionMode(QAbstractItemView::ContiguousSelection);
    sgdHexview->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::AnyKeyPressed |
                                QAbstractItemView::EditKeyPressed);
    auto* delegate = new HexCellDelegate(this, sgdHexview);
    sgdHexview->setItemDelegate(delegate);
    // Handled once the editor has gone, outside its own signal.
    connect(delegate, &HexCellDelegate::edited, this, &TfrmHexView::sgdHexviewEdited, Qt::QueuedConnection);
    model_ = new HexPageModel(viewer_, this);
    sgdHexview->setModel(model_);
    std::vector<int> widths;
    for (int c = 0; c < viewer_.page().columnCount(); ++c)
        widths.push_back(hexview::columnWidth(c, viewer_.rowWidth()));
    sgdHexview->applyColumnWidths(widths);
    sgdHexview->installEventFilter(this);
    connect(sgdHexview->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &TfrmHexView::sgdHexviewSelectCell);
    main->addWidget(sgdHexview, 1);
    setCentralWidget(central);

    QMenu* mode = menuBar()->addMenu("&Mode");
    QMenu* access = mode->addMenu("Access mode");
    auto* group = new QActionGroup(this);
    Readonly1 = access->addAction("&Read only");
    Readonly1->setObjectName("Readonly1");
    Readonly1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    Readandwrite1 = access->addAction("Read and &write");
    Readandwrite1->setObjectName("Readandwrite1");
    Readandwrite1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    for (QAction* a : {Readonly1, Readandwrite1}) {
        a->setCheckable(true);
        group->addAction(a);
    }
    Readonly1->setChecked(true);
    connect(Readonly1, &QAction::triggered, this, &TfrmHexView::Readonly1Click);
    connect(Readandwrite1, &QAction::triggered, this, &TfrmHexView::Readandwrite1Click);
    statusBar();
}

// --- Refresh --------------------------------------------------------------------------------

void TfrmHexView::refresh(hexview::Viewer::Kind kind, bool keepPlace) {
    viewer_.setFilter(hexview::Filter(std::max(0, rgrFilterItems->checkedId())));
    viewer_.setSearch(
        {edtAscii->text().toStdString(), chbCaseSensitive->isChecked(), edtHex->text().toStdString()});
    keepPlace_ = keepPlace;
    runJob([&] { viewer_.refresh(dialogs(), jobControl(), *this, kind); });
    showReadCount();
}

void TfrmHexView::cleared() {
    if (model_->pageCleared()) {
        std::vector<int> widths;
        for (int c = 0; c < viewer_.page().columnCount(); ++c)
            widths.push_back(hexview::columnWidth(c, viewer_.page().rowWidth()));
        sgdHexview->applyColumnWidths(widths);
    }
    if (!keepPlace_) sgdHexview->scrollToTop();
}

void TfrmHexView::blockAdded(int block) {
    // Cells are read from the page when they are painted: only rows on screen need repainting.
    const int rows = viewer_.page().rowsPerBlock();
    const int top = sgdHexview->rowAt(0);
    int bottom = sgdHexview->rowAt(sgdHexview->viewport()->height() - 1);
    if (bottom < 0) bottom = hexview::kDataRows - 1;
    if (block == 0 || (block * rows <= bottom && (block + 1) * rows > top)) model_->blockAdded(block);
}

void TfrmHexView::info(const std::string& text) {
    lblInfo->setText(QString::fromStdString(text));
}

void TfrmHexView::readCount(const std::string& text) {
    readText_ = text;
    if (std::chrono::steady_clock::now() - readShown_ >= kReadCountInterval) showReadCount();
}

void TfrmHexView::showReadCount() {
    if (readText_.empty()) return;
    lblRead->setText(QString::fromStdString(readText_));
    readText_.clear();
    readShown_ = std::chrono::steady_clock::now();
}

void TfrmHexView::address(const std::string& text) {
    const QString t = QString::fromStdString(text);
    if (edtAddress->text() != t) edtAddress->setText(t);
}

void TfrmHexView::status(const std::string& text) {
    if (text.empty())
        statusBar()->clearMessage();
    else
        statusBar()->showMessage(QString::fromStdString(text));
}

// --- Controls -------------------------------------------------------------------------------

void TfrmHexView::btnStartClick() {
    viewer_.toStart();
    refresh(hexview::Viewer::Kind::Normal, false);
}

void TfrmHexView::btnBackClick() {
    viewer_.back(sender() ? sender()->property(kDistance).toLongLong() : 0);
    refresh(hexview::Viewer::Kind::Normal, false);
}

void TfrmHexView::btnForwardClick() {
    viewer_.forward(sender() ? sender()->property(kDistance).toLongLong() : 0);
    refresh(hexview::Viewer::Kind::Normal, false);
}

void TfrmHexView::btnEndClick() {
    viewer_.toEnd();
    refresh(hexview::Viewer::Kind::Normal, false);
}

void TfrmHexView::btnRefreshClick() {
    refresh(hexview::Viewer::Kind::Normal, true);
}

void TfrmHexView::btnGoClick() {
    viewer_.jump(edtAddress->text().toStdString());
    refresh(hexview::Viewer::Kind::Normal, false);
}

void TfrmHexView::rgrFilterClick() {
    refresh(hexview::Viewer::Kind::Normal, false);
}

void TfrmHexView::edtHexChange() {
    edtAscii->clear();
}

void TfrmHexView::btnSearchClick() {
    btnSearch->setEnabled(false);
    refresh(hexview::Viewer::Kind::Search, false);
    if (!viewer_.searching()) btnSearch->setEnabled(true);
}

void TfrmHexView::btnStopClick() {
    jobControl().requestStop();
}

void TfrmHexView::Readonly1Click() {
    viewer_.setReadOnly(true);
    Readonly1->setChecked(true); // an editor still open writes nothing from now on
}

void TfrmHexView::Readandwrite1Click() {
    viewer_.setReadOnly(false);
    Readandwrite1->setChecked(true);
}

void TfrmHexView::sgdHexviewSelectCell(const QModelIndex& current) {
    if (!current.isValid()) return;
    if (const auto text = viewer_.select(current.row(), current.column())) address(*text);
}

void TfrmHexView::sgdHexviewEdited(int row, int column, const QString& text) {
    keepPlace_ = true; // the refresh after a write shows the same rows where they were
    runJob([&] {
        const auto result = viewer_.edit(dialogs(), jobControl(), *this, row, column, text.toStdString());
        if (result == hexview::EditResult::Written) model_->cellChanged(row, column);
    });
    showReadCount();
}

// --- Window events --------------------------------------------------------------------------

void TfrmHexView::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_) return;
    shown_ = true;
    // The first refresh runs once the window is on screen, not inside its show event.
    QTimer::singleShot(0, this, [this] { refresh(hexview::Viewer::Kind::Normal, false); });
}

void TfrmHexView::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    // A running refresh keeps the row width it started with; the next one takes the new one.
    if (viewer_.fitToClientWidth(width()) && shown_) refresh(hexview::Viewer::Kind::Normal, false);
}

void TfrmHexView::FormClose() {
    jobControl().requestStop();
}

bool TfrmHexView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent*>(event)->text();
        // Characters other than hexadecimal digits are dropped; keys without one (arrows, page
        // keys) and control keys (Enter, Escape, Tab, backspace) go through.
        if (!text.isEmpty() && text[0].unicode() >= 32 && !hexview::keyAllowed(text[0].unicode()))
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

TfrmHexView* OpenHexView(platform::Backend& backend, const TFileInfo& selection, QWidget* owner,
                         Dialogs* dialogs) {
    // Owned by `owner` (deleted with it) and deleted when it closes.
    auto* window = new TfrmHexView(backend, selection, owner, dialogs);
    window->showFromMenu();
    return window;
}
