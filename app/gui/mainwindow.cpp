#include "app/gui/mainwindow.h"

#include "core/selection.h"
#include "core/user_error.h"
#include "discovery/drives.h"
#include "discovery/partitions.h"
#include "discovery/selections.h"
#include "info/documents.h"
#include "platform/platform.h"
#include "registry/windows.h"
#include "ui/job_control.h"
#include "ui/qt_dialogs.h"
#include "ui/tool_menu.h"

#include <algorithm>
#include <chrono>
#include <optional>

#ifdef _WIN32
#include <windows.h>
#endif

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSocketNotifier>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const char* const kWebsite = "https://tarnwick.org/";

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

QTreeWidget* makeList(const QStringList& titles, const std::vector<int>& widths, const QString& hint) {
    auto* list = new QTreeWidget;
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setAllColumnsShowFocus(true);
    list->setColumnCount(int(titles.size()));
    list->setHeaderLabels(titles);
    for (size_t i = 0; i < widths.size(); ++i)
        list->setColumnWidth(int(i), widths[i]);
    list->setToolTip(hint);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    list->setMinimumHeight(60);
    return list;
}

// The groups keep their insides close to the frame, so that all five fit the window's height.
template <class Layout> Layout* compactLayout(Layout* layout) {
    layout->setContentsMargins(4, 2, 4, 4);
    layout->setSpacing(2);
    return layout;
}

// A label that acts like a link: "Refresh" at the top right of a group.
QLabel* makeLinkLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setCursor(Qt::PointingHandCursor);
    QFont f = label->font();
    f.setUnderline(true);
    label->setFont(f);
    label->setStyleSheet("color: blue");
    return label;
}

// White while the user types in an edit, the button face otherwise.
void setEditColour(QLineEdit* edit, bool entered) {
    QPalette p = edit->palette();
    p.setColor(QPalette::Base, entered ? QColor(Qt::white) : QApplication::palette().color(QPalette::Button));
    edit->setPalette(p);
}

const char* const kHint = "Hint: left click to select, right-click for instant action on selected item.";

// The window's own items among the tools': they have no action.
const std::vector<ui::MenuItem>& ownSectionItems() {
    static const std::vector<ui::MenuItem> items{
        {.caption = "Virus scan", .objectName = "Virusscan1", .section = ui::MenuSection::View, .order = 40},
        {.caption = "Load from zip",
         .objectName = "Loadfromzip1",
         .section = ui::MenuSection::Load,
         .order = 10,
         .enabled = [](const ui::ToolHost& host) { return selection::menuState(host.selection()).loadItems; },
         .visible = [](const ui::ToolHost&) { return false; }},
    };
    return items;
}

} // namespace

class TfrmMain::Host final : public ui::ToolHost {
public:
    explicit Host(TfrmMain& window) : w_(window) {}

    platform::Backend& backend() const override { return *w_.backend_; }
    const TFileInfo& selection() const override { return w_.Selection; }
    const TFileInfo& copySource() const override { return w_.CopySource; }
    const TFileInfo& copyTarget() const override { return w_.CopyTarget; }
    Dialogs& dialogs() const override { return w_.dialogs(); }
    JobControl& jobControl() const override { return w_.jobControl(); }
    QWidget* parentWidget() const override { return &w_; }
    bool verifyAfterWriting() const override { return w_.menuItem("Verifyafterwriting1")->isChecked(); }
    bool digestsWhileImaging() const override {
        return w_.menuItem("Computedigestswhileimaging1")->isChecked();
    }
    bool disassemblerAvailable() const override { return w_.options_.disassemblerAvailable; }
    const disasm::DisasmLibrary* disassembler() const override { return w_.options_.disassembler; }

private:
    TfrmMain& w_;
};

// The main window's dialogs: the given ones (Qt's or a test's), except that a question is read
// against where the running job stands, and that while the program ends nothing is asked.
class MainWindowDialogs final : public Dialogs {
public:
    MainWindowDialogs(TfrmMain& window, Dialogs* dialogs) : window_(window), dialogs_(dialogs) {}
    void setDialogs(Dialogs* dialogs) { dialogs_ = dialogs; }

    Button ask(const Question& question) override {
        window_.jobControl().showHeld();
        // While the program ends, a choice takes its safe answer unasked; a message is still shown,
        // so the person learns how the stopped action ended.
        if (window_.closing() && question.buttons.size() > 1) return question.defaultButton;
        return dialogs_->ask(question);
    }
    std::optional<std::string> chooseFile(const FileDialog& dialog) override {
        if (window_.closing()) return std::nullopt;
        return dialogs_->chooseFile(dialog);
    }
    std::optional<std::string> typedAgreement(const TFileInfo& target, const std::string& disk) override {
        if (window_.closing()) return std::nullopt;
        return dialogs_->typedAgreement(target, disk);
    }

private:
    TfrmMain& window_;
    Dialogs* dialogs_;
};

TfrmMain::TfrmMain(Options options, QWidget* parent)
    : QMainWindow(parent), options_(options),
      backend_(options.backend ? options.backend : &platform::systemBackend()),
      host_(std::make_unique<Host>(*this)) {
    setObjectName("frmMain");
    setWindowTitle("Easy drive and partition tool");
    if (!options_.dialogs) {
        qtDialogs_ = std::make_unique<QtDialogs>(this);
        options_.dialogs = qtDialogs_.get();
    }
    ui_ = std::make_unique<MainWindowDialogs>(*this, options_.dialogs);

    buildLayout();
    buildMenus();
    setUpVolumeList();

    job_ = std::make_unique<QtJobControl>(
        pgbProgress, [this](const QString& text) { sbrProgress->setText(text); }, btnStop, &StopRequested);
    job_->onBusy = [this](bool on) {
        if (on)
            DisableButtons();
        else
            EnableButtons();
    };
    job_->onIdle = [this] { actionEnded(); };

    tmrRefresh = new QTimer(this);
    tmrRefresh->setObjectName("tmrRefresh");
    tmrRefresh->setInterval(200);
    connect(tmrRefresh, &QTimer::timeout, this, &TfrmMain::tmrRefreshTimer);

    tmrDeviceChange = new QTimer(this);
    tmrDeviceChange->setObjectName("tmrDeviceChange");
    tmrDeviceChange->setInterval(1000);
    connect(tmrDeviceChange, &QTimer::timeout, this, &TfrmMain::tmrDeviceChangeTimer);
    tmrDeviceChange->start();

    startWatch();

    resize(768, 617);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // Nothing is selected yet: the edits stay empty and the popup holds only "Select".
    btnDisassemble->setVisible(options_.disassemblerAvailable);
    applyItemRules(false);
}

TfrmMain::~TfrmMain() = default;

Dialogs& TfrmMain::dialogs() {
    return *ui_;
}
QtJobControl& TfrmMain::jobControl() {
    return *job_;
}

void TfrmMain::setDialogs(Dialogs* dialogs) {
    options_.dialogs = dialogs;
    ui_->setDialogs(dialogs);
}

void TfrmMain::setLongLivedWindows(QWidget* partInfo, QWidget* license, QWidget* toDo, QWidget* links,
                                   QWidget* credits, QWidget* version, QWidget* knownIssues) {
    frmPartInfo_ = partInfo;
    frmLicense_ = license;
    frmToDo_ = toDo;
    frmLinks_ = links;
    frmCredits_ = credits;
    frmVersion_ = version;
    frmKnownIssues_ = knownIssues;
}

void TfrmMain::buildLayout() {
    auto* central = new QWidget;
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(4, 0, 4, 0);
    outer->setSpacing(2);

    pnlTop = new QWidget;
    pnlTop->setObjectName("pnlTop");
    pnlTop->setFixedHeight(9);
    outer->addWidget(pnlTop);
    Splitter1 = new QSplitter(Qt::Vertical);
    Splitter1->setObjectName("Splitter1");
    Splitter1->hide();
    outer->addWidget(Splitter1);

    // Volumes.
    grbVolumes = new QGroupBox("Logical &volumes (formatted partitions with station letter assigned, or "
                               "partitionless devices like floppy and cd-rom)");
    grbVolumes->setObjectName("grbVolumes");
    lvwDrives = makeList({"Label", "Station", "Drive type", "Filesystem", "Size (MiB)", "Available", "Serial",
                          "Max File name", "Size (bytes)", "Available (bytes)", ""},
                         {100, 50, 80, 70, 70, 70, 70, 90, 100, 100},
                         "These are logical volumes. Left to select, double-click to open the file browser, "
                         "right click for action");
    lvwDrives->setObjectName("lvwDrives");
    lvwDrives->header()->hideSection(10); // the drive type number
    lblRefreshVolumes = makeLinkLabel("Refresh");
    lblRefreshVolumes->setObjectName("lblRefreshVolumes");
    btnRefresh = new QPushButton("&Refresh");
    btnRefresh->setObjectName("btnRefresh");
    btnRefresh->hide();
    compactLayout(new QVBoxLayout(grbVolumes))->addWidget(lvwDrives);
    // "Refresh" sits in the group's title line, at the right (placed on every resize).
    lblRefreshVolumes->setParent(grbVolumes);
    btnRefresh->setParent(grbVolumes);
    grbVolumes->installEventFilter(this);

    // Physical drives.
    grbLogicalDrives = new QGroupBox("Physical &drives - raw drive, independant of partitions");
    grbLogicalDrives->setObjectName("grbLogicalDrives");
    QStringList driveTitles;
    for (const auto& t : drives::columnTitles())
        driveTitles << q(t);
    driveTitles << q(drives::kGeometryTitle);
    lvwLogicalDrives = makeList(driveTitles, {45, 70, 70, 70, 70, 70, 65, 65, 70, 110, 110},
                                "These are physically available devices like harddisk and usb sticks");
    lvwLogicalDrives->setObjectName("lvwLogicalDrives");
    lvwLogicalDrives->header()->hideSection(11); // the geometry product has no column of its own
    lblRefreshDrives = makeLinkLabel("Refresh");
    lblRefreshDrives->setObjectName("lblRefreshDrives");
    btnRefreshPartitions = new QPushButton("Re&fresh");
    btnRefreshPartitions->setObjectName("btnRefreshPartitions");
    btnRefreshPartitions->hide();
    compactLayout(new QVBoxLayout(grbLogicalDrives))->addWidget(lvwLogicalDrives);
    lblRefreshDrives->setParent(grbLogicalDrives);
    btnRefreshPartitions->setParent(grbLogicalDrives);
    grbLogicalDrives->installEventFilter(this);

    // Partitions.
    grbPartitions = new QGroupBox("&Partitions on selected drive (select above)");
    grbPartitions->setObjectName("grbPartitions");
    QStringList partitionTitles;
    for (const auto& t : kPartitionColumnTitles)
        partitionTitles << QString::fromUtf8(t.data(), int(t.size()));
    lvwPartitions = makeList(partitionTitles, {45, 45, 40, 110, 40, 110, 90, 90, 100, 70, 70, 150},
                             "These are partitions on selected physical device");
    lvwPartitions->setObjectName("lvwPartitions");
    compactLayout(new QVBoxLayout(grbPartitions))->addWidget(lvwPartitions);

    // Selection editor.
    grbSelection = new QGroupBox("Selected item:");
    grbSelection->setObjectName("grbSelection");
    lblSelected = new QLabel("  None");
    lblSelected->setObjectName("lblSelected");
    lblSelected->setTextFormat(Qt::PlainText); // names are shown as they are named, never as markup
    lblSelected->setStyleSheet("color: red; font-weight: bold");
    lblSelected->setContextMenuPolicy(Qt::CustomContextMenu);
    edtOffset = new QLineEdit;
    edtOffset->setObjectName("edtOffset");
    edtSize = new QLineEdit;
    edtSize->setObjectName("edtSize");
    for (QLineEdit* e : {edtOffset, edtSize}) {
        setEditColour(e, false); // button face until the edit is entered
        e->installEventFilter(this);
    }
    chbAsHex = new QCheckBox("As hex");
    chbAsHex->setObjectName("chbAsHex");
    cbbAdjustAction = new QComboBox;
    cbbAdjustAction->setObjectName("cbbAdjustAction");
    for (const auto& t : selection::adjustActionTexts())
        cbbAdjustAction->addItem(q(t));
    cbbAdjustAction->setPlaceholderText("Action");
    cbbAdjustAction->setCurrentIndex(-1);
    cbbAdjustAction->setMinimumContentsLength(20);
    cbbAdjustAction->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    btnSkip512bytes = new QPushButton("&Do");
    btnSkip512bytes->setObjectName("btnSkip512bytes");
    Button1 = new QPushButton("...");
    Button1->setObjectName("Button1");
    Button1->setFixedWidth(28);
    {
        auto* l = compactLayout(new QVBoxLayout(grbSelection));
        auto* row1 = new QHBoxLayout;
        auto* nameLabel = new QLabel("Name: ");
        row1->addWidget(nameLabel);
        row1->addWidget(lblSelected, 1);
        row1->addWidget(Button1);
        l->addLayout(row1);
        auto* row2 = new QHBoxLayout;
        auto* offsetLabel = new QLabel("&Offset");
        offsetLabel->setBuddy(edtOffset);
        auto* sizeLabel = new QLabel("&Size");
        sizeLabel->setBuddy(edtSize);
        auto* adjustLabel = new QLabel("Adj&ust selection:");
        adjustLabel->setBuddy(cbbAdjustAction);
        row2->addWidget(offsetLabel);
        row2->addWidget(edtOffset);
        row2->addWidget(sizeLabel);
        row2->addWidget(edtSize);
        row2->addWidget(chbAsHex);
        row2->addSpacing(12);
        row2->addWidget(adjustLabel);
        row2->addWidget(cbbAdjustAction, 1);
        row2->addWidget(btnSkip512bytes);
        l->addLayout(row2);
    }

    // Actions.
    grbSelected = new QGroupBox("With selected item do");
    grbSelected->setObjectName("grbSelected");
    pnlButtons = new QWidget;
    pnlButtons->setObjectName("pnlButtons");
    btnWriteFile = new QPushButton("&Write to file");
    btnWriteFile->setObjectName("btnWriteFile");
    btnWriteFile->setEnabled(false);
    btnReadFile = new QPushButton("&Import from file");
    btnReadFile->setObjectName("btnReadFile");
    btnReadFile->setEnabled(false);
    btnDisassemble = new QPushButton("Dis&assemble");
    btnDisassemble->setObjectName("btnDisassemble");
    btnHexView = new QPushButton("He&x view");
    btnHexView->setObjectName("btnHexView");
    btnGraphView = new QPushButton("Grap&hical view");
    btnGraphView->setObjectName("btnGraphView");
    btnStop = new QPushButton("&Stop");
    btnStop->setObjectName("btnStop");
    btnStop->hide();
    {
        auto* l = new QGridLayout(pnlButtons);
        l->setContentsMargins(0, 0, 0, 0);
        l->addWidget(btnWriteFile, 0, 0);
        l->addWidget(btnReadFile, 0, 1);
        // The hex view button lies on top of the disassemble button, in the same place.
        l->addWidget(btnDisassemble, 1, 0);
        l->addWidget(btnHexView, 1, 0);
        l->addWidget(btnGraphView, 1, 1);
        l->addWidget(btnStop, 2, 0);
        l->setRowStretch(3, 1);
    }
    grbDirectCopy = new QGroupBox("Direct copy - with selected item do:");
    grbDirectCopy->setObjectName("grbDirectCopy");
    btnSetSource = new QPushButton("Set as so&urce");
    btnSetSource->setObjectName("btnSetSource");
    btnSetTarget = new QPushButton("Set as &target");
    btnSetTarget->setObjectName("btnSetTarget");
    btnInstantCopy = new QPushButton("Cop&y");
    btnInstantCopy->setObjectName("btnInstantCopy");
    btnInstantCopy->setEnabled(false);
    lblSource = new QLabel("<select source>");
    lblSource->setObjectName("lblSource");
    lblSource->setTextFormat(Qt::PlainText);
    lblTarget = new QLabel("<select target>");
    lblTarget->setObjectName("lblTarget");
    lblTarget->setTextFormat(Qt::PlainText);
    lblInfo = new QLabel("<Select source and target with identical size>");
    lblInfo->setObjectName("lblInfo");
    lblInfo->setTextFormat(Qt::PlainText);
    // Long descriptions must not widen the window; the label shows what fits.
    for (QLabel* label : {lblSource, lblTarget, lblInfo})
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    {
        auto* l = compactLayout(new QGridLayout(grbDirectCopy));
        l->addWidget(btnSetSource, 0, 0);
        l->addWidget(lblSource, 0, 1);
        l->addWidget(btnSetTarget, 1, 0);
        l->addWidget(lblTarget, 1, 1);
        l->addWidget(btnInstantCopy, 2, 0);
        l->addWidget(lblInfo, 2, 1);
        l->setColumnStretch(1, 1);
    }
    pgbProgress = new QProgressBar;
    pgbProgress->setObjectName("pgbProgress");
    pgbProgress->setRange(0, 100);
    pgbProgress->setValue(0);
    pgbProgress->setTextVisible(false);
    {
        auto* l = compactLayout(new QVBoxLayout(grbSelected));
        auto* top = new QHBoxLayout;
        top->addWidget(pnlButtons);
        top->addWidget(grbDirectCopy, 1);
        l->addLayout(top);
        l->addWidget(pgbProgress);
    }

    // The lower groups can be resized against each other; the volume list takes what is left.
    Splitter2 = new QSplitter(Qt::Vertical);
    Splitter2->setObjectName("Splitter2");
    Splitter2->setChildrenCollapsible(false);
    for (QWidget* w : {static_cast<QWidget*>(grbVolumes), static_cast<QWidget*>(grbLogicalDrives),
                       static_cast<QWidget*>(grbPartitions), static_cast<QWidget*>(grbSelection),
                       static_cast<QWidget*>(grbSelected)})
        Splitter2->addWidget(w);
    Splitter2->setStretchFactor(0, 1);
    for (int i = 1; i < 5; ++i)
        Splitter2->setStretchFactor(i, 0);
    Splitter2->setSizes({1 << 16, 1, 1, 1, 1}); // the others start at their least height
    outer->addWidget(Splitter2, 1);
    setCentralWidget(central);

    sbrProgress = new QLabel(kHint);
    sbrProgress->setObjectName("sbrProgress");
    sbrProgress->setTextFormat(Qt::PlainText); // its notes name devices and files
    statusBar()->addWidget(sbrProgress, 1);

    lblRefreshVolumes->installEventFilter(this);
    lblRefreshDrives->installEventFilter(this);
    lblSelected->installEventFilter(this);
    connect(btnRefresh, &QPushButton::clicked, this, &TfrmMain::btnRefreshClick);
    connect(btnRefreshPartitions, &QPushButton::clicked, this, &TfrmMain::btnRefreshPartitionsClick);

    connect(lvwDrives, &QTreeWidget::itemSelectionChanged, this, &TfrmMain::lvwDrivesSelectItem);
    connect(lvwLogicalDrives, &QTreeWidget::itemSelectionChanged, this,
            &TfrmMain::lvwLogicalDrivesSelectItem);
    connect(lvwPartitions, &QTreeWidget::itemSelectionChanged, this, &TfrmMain::lvwPartitionsSelectItem);
    for (QWidget* w : {static_cast<QWidget*>(lvwDrives), static_cast<QWidget*>(lvwLogicalDrives),
                       static_cast<QWidget*>(lvwPartitions)})
        connect(w, &QWidget::customContextMenuRequested, this,
                [this, w](const QPoint& pos) { pumSelection->popup(w->mapToGlobal(pos)); });
    connect(lblSelected, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (lblSelectedHasPopup) pumSelection->popup(lblSelected->mapToGlobal(pos));
    });

    connect(edtOffset, &QLineEdit::textChanged, this, &TfrmMain::edtOffsetChange);
    connect(edtSize, &QLineEdit::textChanged, this, &TfrmMain::edtSizeChange);
    connect(chbAsHex, &QCheckBox::clicked, this, &TfrmMain::chbAsHexClick);
    connect(btnSkip512bytes, &QPushButton::clicked, this, &TfrmMain::btnSkip512bytesClick);
    connect(Button1, &QPushButton::clicked, this, &TfrmMain::Selectfile1Click);
    connect(btnSetSource, &QPushButton::clicked, this, &TfrmMain::btnSetSourceClick);
    connect(btnSetTarget, &QPushButton::clicked, this, &TfrmMain::btnSetTargetClick);
    connect(btnInstantCopy, &QPushButton::clicked, this, &TfrmMain::btnInstantCopyClick);
    connect(btnStop, &QPushButton::clicked, this, &TfrmMain::btnStopClick);
    connect(btnWriteFile, &QPushButton::clicked, this, &TfrmMain::btnWriteFileClick);
    connect(btnReadFile, &QPushButton::clicked, this, &TfrmMain::btnReadFileClick);
    connect(btnHexView, &QPushButton::clicked, this, &TfrmMain::btnHexViewClick);
    connect(btnGraphView, &QPushButton::clicked, this, &TfrmMain::btnGraphViewClick);
    connect(btnDisassemble, &QPushButton::clicked, this, &TfrmMain::btnDisassembleClick);
}

QAction* TfrmMain::addItem(QMenu* menu, const QString& caption, const QString& name,
                           std::function<void()> handler) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    if (handler) connect(a, &QAction::triggered, this, [this, handler] { guarded(handler); });
    return a;
}

QAction* TfrmMain::menuItem(const QString& name) const {
    return findChild<QAction*>(name);
}

void TfrmMain::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu1");

    QMenu* file = bar->addMenu("&File");
    file->menuAction()->setObjectName("File1");
    addItem(file, "E&xit", "Exit1", [this] { close(); });
    file->addSeparator();
    addItem(file, "Select &file", "Selectfile1", [this] { Selectfile1Click(); });

    mnuSelection = bar->addMenu("S&election");
    mnuSelection->menuAction()->setObjectName("Selection1");
    mnuSelection->addSeparator();
    addSection(mnuSelection, ui::MenuSection::View);
    addSection(mnuSelection, ui::MenuSection::Digests);
    addSection(mnuSelection, ui::MenuSection::Save);
    QMenu* destructive = mnuSelection->addMenu("&Destructive actions");
    destructive->menuAction()->setObjectName("Destructiveactions1");
    addSection(destructive, ui::MenuSection::Load);
    addItem(destructive, "Edit partition table", "Editpartitiontable1")->setEnabled(false);
    destructive->addSeparator();
    addSection(destructive, ui::MenuSection::Overwrite);
    addItem(destructive, "Set as copy &target", "Setasdirectcopytarget1", [this] { btnSetTargetClick(); });
    mnuSelection->addSeparator();
    addItem(mnuSelection, "Set as copy so&urce", "Setasdirectcopysource1", [this] { btnSetSourceClick(); });
    mnuSelection->menuAction()->setEnabled(false);

    const auto show = [this](QWidget** w) {
        return [w] {
            if (*w) {
                (*w)->show();
                (*w)->setFocus();
            }
        };
    };
    QMenu* extra = bar->addMenu("Ext&ra");
    extra->menuAction()->setObjectName("Extra1");
    addItem(extra, "Pa&rtition and MBR additional reading (offline)", "PartitionandMBRinfo1",
            show(&frmPartInfo_));
    addItem(extra, "&Usefull links (online)", "Usefulllinksonline1", show(&frmLinks_));
    extra->addSeparator();
    addItem(extra, "&Credits", "Credits1", show(&frmCredits_));
    extra->addSeparator();
    // Off at every start: the program keeps no settings between runs.
    addItem(extra, "Verify after writing", "Verifyafterwriting1")->setCheckable(true);
    addItem(extra, "Compute digests while imaging", "Computedigestswhileimaging1")->setCheckable(true);

    QMenu* help = bar->addMenu("&Help");
    help->menuAction()->setObjectName("Help1");
    addItem(help, "&Documentation (html)", "Documentationhtml1", [this] { openDocument("tarnwick.htm"); });
    addItem(help, "Documentation (&pdf)", "Documentationpdf1", [this] { openDocument("tarnwick.pdf"); });
    addItem(help, "&Website", "Website1", [] { QDesktopServices::openUrl(QUrl(kWebsite)); });

    QMenu* about = bar->addMenu("&About");
    about->menuAction()->setObjectName("About1");
    addItem(about, "&Version", "Version1", show(&frmVersion_));
    addItem(about, "&License", "License1", show(&frmLicense_));
    addItem(about, "&Credits", "Credits2", show(&frmCredits_));
    about->addSeparator();
    addItem(about, "&To-Do and limitations", "ToDoandlimitations1", show(&frmToDo_));
    addItem(about, "Known &Issues", "KnownIssues1", [this] {
        if (frmKnownIssues_) frmKnownIssues_->setVisible(true);
    });

    pumSelection = new QMenu(this);
    pumSelection->setObjectName("pumSelection");
    QAction* select = pumSelection->addAction("Select");
    select->setObjectName("Select1");
    pumSelection->setDefaultAction(select); // shown bold; it has no action of its own
}

void TfrmMain::addSection(QMenu* menu, ui::MenuSection section) {
    std::vector<const ui::MenuItem*> items;
    for (const auto* list : {&registry::menuItems(), &ownSectionItems()})
        for (const ui::MenuItem& item : *list)
            if (item.section == section) items.push_back(&item);
    if (items.empty()) return;
    std::stable_sort(items.begin(), items.end(),
                     [](const ui::MenuItem* a, const ui::MenuItem* b) { return a->order < b->order; });
    for (const ui::MenuItem* item : items) {
        QAction* action = addItem(menu, item->caption, item->objectName);
        if (item->run)
            connect(action, &QAction::triggered, this, [this, item] { guarded([&] { item->run(*host_); }); });
        if (item->enabled || item->visible) ruledItems_.emplace_back(action, item);
    }
    menu->addSeparator();
}

void TfrmMain::applyItemRules(bool enabling) {
    for (const auto& [action, item] : ruledItems_) {
        if (item->visible) action->setVisible(item->visible(*host_));
        if (enabling && item->enabled) action->setEnabled(item->enabled(*host_));
    }
}

void TfrmMain::runTool(const QString& name) {
    for (const ui::MenuItem& item : registry::menuItems())
        if (item.objectName == name && item.run) {
            guarded([&] { item.run(*host_); });
            return;
        }
}

void TfrmMain::openDocument(const QString& fileName) {
    // Beside the program in a build, in the documentation folder once installed. A missing file
    // or browser is not reported.
    const std::string path =
        info::documentPath(QCoreApplication::applicationDirPath().toStdString(), fileName.toStdString());
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

bool TfrmMain::guarded(const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (const std::exception& e) {
        ui_->error(e.what());
        return false;
    }
}

void TfrmMain::copyMenu(QMenu* from, QMenu* to, bool canRead) {
    for (QAction* item : from->actions()) {
        if (item->isSeparator()) {
            to->addSeparator();
            continue;
        }
        QAction* copy = nullptr;
        if (QMenu* sub = item->menu()) {
            QMenu* subCopy = to->addMenu(item->text());
            copyMenu(sub, subCopy, canRead);
            copy = subCopy->menuAction();
        } else {
            copy = to->addAction(item->text());
            connect(copy, &QAction::triggered, item, &QAction::trigger);
        }
        copy->setVisible(item->isVisible());
        copy->setEnabled(item->isEnabled() && canRead);
    }
}

void TfrmMain::UpdateSelectionMenus() {
    const auto state = selection::menuState(Selection);
    btnDisassemble->setVisible(options_.disassemblerAvailable);
    applyItemRules(true);

    const auto items = pumSelection->actions();
    for (int i = 1; i < items.size(); ++i) {
        pumSelection->removeAction(items[i]);
        if (items[i]->parent() == pumSelection) items[i]->deleteLater();
        if (QMenu* sub = items[i]->menu()) sub->deleteLater();
    }
    pumSelection->addSeparator();
    copyMenu(mnuSelection, pumSelection, Selection.CanRead);
    mnuSelection->menuAction()->setEnabled(state.selectionMenu);
}

// Busy mode is the main window's: the tool windows it owns keep their own buttons.
void TfrmMain::DisableButtons() {
    for (QPushButton* b : findChildren<QPushButton*>())
        if (b->window() == this) b->setEnabled(false);
    btnStop->setEnabled(true);
}

void TfrmMain::EnableButtons() {
    for (QPushButton* b : findChildren<QPushButton*>())
        if (b->window() == this) b->setEnabled(true);
}

void TfrmMain::setEditText(QLineEdit* edit, const std::string& text) {
    // Only a real change fires the edit's change handler.
    if (edit->text() != q(text)) edit->setText(q(text));
}

void TfrmMain::ShowSelection() {
    const bool hex = chbAsHex->isChecked();
    setEditText(edtOffset, selection::formatNumber(Selection.Offset, hex));
    setEditText(edtSize, selection::formatNumber(Selection.Size, hex));
    lblSelected->setText(q("  " + Selection.DisplayText));
    // Which physical disk a drive or partition selection is on, as the drive list found it.
    const auto* drive = drives::rowOf(driveRows_, Selection.FileName, Selection.Identity);
    lblSelected->setToolTip(drive ? q(drives::diskToolTip(drive->disk)) : QString());
    UpdateSelectionMenus();
}

void TfrmMain::edtOffsetChange() {
    guarded([this] {
        Selection.Offset = selection::parseInteger(edtOffset->text().toStdString(), chbAsHex->isChecked());
        Selection.Description = selection::rangeDescription(Selection);
        ShowSelection();
    });
}

void TfrmMain::edtSizeChange() {
    guarded([this] {
        Selection.Size = selection::parseInteger(edtSize->text().toStdString(), chbAsHex->isChecked());
        Selection.Description = selection::rangeDescription(Selection);
        ShowSelection();
    });
}

void TfrmMain::chbAsHexClick() {
    ShowSelection();
}

void TfrmMain::btnSkip512bytesClick() {
    const auto action = static_cast<selection::AdjustAction>(cbbAdjustAction->currentIndex());
    if (!selection::applyAdjust(Selection, action)) {
        ui_->message(selection::kNoActionSelected);
        return;
    }
    ShowSelection();
}

void TfrmMain::lblSelectedClick() {
    if (!Selection.FileName.empty()) lblSelectedHasPopup = true;
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edtOffset && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        // Only keys that type a character are filtered; Tab, Delete and the arrows pass.
        if (text.size() == 1) {
            const char32_t c = text.at(0).unicode();
            const bool typed = (c >= 0x20 && c != 0x7F) || (c < 0x20 && c != 9 && c != 27);
            if (typed && !selection::offsetKeyAllowed(c, chbAsHex->isChecked())) return true;
        }
    }
    if ((watched == edtOffset || watched == edtSize) &&
        (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        setEditColour(static_cast<QLineEdit*>(watched), event->type() == QEvent::FocusIn);
    }
    if (event->type() == QEvent::Resize && (watched == grbVolumes || watched == grbLogicalDrives)) {
        QLabel* label = watched == grbVolumes ? lblRefreshVolumes : lblRefreshDrives;
        label->adjustSize();
        label->move(static_cast<QWidget*>(watched)->width() - label->width() - 10, 0);
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == lblRefreshVolumes)
            btnRefreshClick();
        else if (watched == lblRefreshDrives)
            btnRefreshPartitionsClick();
        else if (watched == lblSelected)
            lblSelectedClick();
    }
    return QMainWindow::eventFilter(watched, event);
}

template <class Row> const Row* TfrmMain::selectedRow(QTreeWidget* list, const std::vector<Row>& rows) const {
    const auto selected = list->selectedItems();
    if (selected.isEmpty()) return nullptr;
    bool ok = false;
    const int index = selected.first()->data(0, kRowRole).toInt(&ok);
    return ok && index >= 0 && size_t(index) < rows.size() ? &rows[size_t(index)] : nullptr;
}

QTreeWidgetItem* TfrmMain::addPartitionRow(const PartitionRow& row) {
    partitionRows_.push_back(row);
    QStringList texts;
    for (const auto& cell : row.cells())
        texts << q(cell);
    auto* item = new QTreeWidgetItem(texts);
    item->setData(0, kRowRole, int(partitionRows_.size() - 1));
    lvwPartitions->addTopLevelItem(item);
    return item;
}

void TfrmMain::setSelection(const TFileInfo& info) {
    Selection = info;
    btnWriteFile->setEnabled(true);
    btnReadFile->setEnabled(true);
    ShowSelection();
}

// A list reports a row losing its selection through the same signal as a row gaining it; only
// a gained row changes the selection, so the row the user picked is the one that stays.
void TfrmMain::lvwDrivesSelectItem() {
    const auto* row = selectedRow(lvwDrives, volumeRows_);
    if (!row) return;
    setSelection(selections::fromVolume(*row));
    lvwLogicalDrives->clearSelection();
    lvwPartitions->clearSelection();
}

void TfrmMain::lvwLogicalDrivesSelectItem() {
    const auto* row = selectedRow(lvwLogicalDrives, driveRows_);
    if (!row) return;
    setSelection(selections::fromDrive(*row));
    readPartitionTable(Selection.FileName, Selection.DriveText, 0);
    lvwDrives->clearSelection();
}

void TfrmMain::lvwPartitionsSelectItem() {
    const auto* row = selectedRow(lvwPartitions, partitionRows_);
    if (!row) return;
    // A row whose bytes leave the disk makes no selection: the error box says why, and the row
    // does not stay marked as if it were selected.
    const bool selected = guarded([&] {
        setSelection(selections::fromPartition(*row, partitionIdentity_));
        lvwLogicalDrives->clearSelection();
        lvwDrives->clearSelection();
    });
    if (!selected) {
        const QSignalBlocker quiet(lvwPartitions);
        lvwPartitions->clearSelection();
    }
}

void TfrmMain::readPartitionTable(const std::string& device, const std::string& driveText, int64_t offset) {
    lvwPartitions->clear();
    PartitionWalkResult walk = ReadPartitionTable(*backend_, device, driveText, offset);
    partitionRows_.clear();
    partitionIdentity_ = walk.identity;
    for (const auto& row : walk.rows)
        addPartitionRow(row);
    for (const auto& message : walk.messages)
        ui_->message(message);
    // Remarks about the list (a chain cut short, a damaged or impossible GUID entry) need no
    // answer: they go to the hint line, all of them, and leave it with the next walk. The drive's
    // model and serial lead them.
    const auto* drive = drives::rowOf(driveRows_, device, walk.identity);
    std::string notes = drive ? drives::diskHint(drive->disk) : std::string();
    for (const auto& note : walk.notes)
        notes += (notes.empty() ? "" : " ") + note;
    sbrProgress->setText(notes.empty() ? QString(kHint) : q(notes));
    lvwPartitions->setEnabled(true);
}

void TfrmMain::Selectfile1Click() {
    guarded([this] {
        FileDialog dialog;
        dialog.kind = FileDialog::Kind::Open;
        dialog.mustExist = true;
        const auto path = ui_->chooseFile(dialog);
        if (!path) return;
        Selection = selection::fromFile(*backend_, Selection, *path);
        btnWriteFile->setEnabled(true);
        btnReadFile->setEnabled(true);
        ShowSelection();
    });
}

void TfrmMain::updateCopyButton() {
    btnInstantCopy->setEnabled(selection::copyEnabled(CopySource, CopyTarget));
}

void TfrmMain::btnSetSourceClick() {
    CopySource = Selection;
    lblSource->setText(q(CopySource.Description));
    updateCopyButton();
}

void TfrmMain::btnSetTargetClick() {
    CopyTarget = Selection;
    lblTarget->setText(q(CopyTarget.Description));
    updateCopyButton();
}

void TfrmMain::btnStopClick() {
    Question question{selection::kStopQuestion, Icon::Warning, {Button::Yes, Button::No}, Button::No, "stop"};
    if (ui_->ask(question) != Button::Yes) return;
    job_->requestStop();
}

void TfrmMain::stopAndClose() {
    if (closing_) return;
    closing_ = true;
    job_->keepStop = true;
    job_->requestStop();
    // Dialogs open now take their safe answer, innermost first; the action then sees the stop.
    while (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        dialog->done(QDialog::Rejected);
        if (QApplication::activeModalWidget() == dialog) break;
    }
    if (!job_->acting()) actionEnded();
}

void TfrmMain::actionEnded() {
    if (!closing_ || closeQueued_) return;
    closeQueued_ = true;
    // Queued: the action's handler is still unwinding, and the pump it ran in with it.
    QMetaObject::invokeMethod(this, &TfrmMain::finishClosing, Qt::QueuedConnection);
}

void TfrmMain::finishClosing() {
    close();
    QCoreApplication::quit();
}

// The tools' items, run by name: the Selection menu's handlers and the buttons.
void TfrmMain::Speedtest1Click() {
    runTool("Speedtest1");
}
void TfrmMain::CalculateMD5sum1Click() {
    runTool("CalculateMD5sum1");
}
void TfrmMain::CalculateSHA1sum1Click() {
    runTool("CalculateSHA1sum1");
}
void TfrmMain::CalculatebothMD5andSHA11Click() {
    runTool("CalculatebothMD5andSHA11");
}
void TfrmMain::Fillerase1Click() {
    runTool("Fillerase1");
}
void TfrmMain::Saveaszip1Click() {
    runTool("Saveaszip1");
}
void TfrmMain::Saveascompressed1Click() {
    runTool("Saveascompressed1");
}
void TfrmMain::Loadfromcompressed1Click() {
    runTool("Loadfromcompressed1");
}
void TfrmMain::btnWriteFileClick() {
    runTool("Writetofile1");
}
void TfrmMain::btnReadFileClick() {
    runTool("LoadFromFile1");
}
void TfrmMain::btnHexViewClick() {
    runTool("Hexview1");
}
void TfrmMain::btnGraphViewClick() {
    runTool("Graphicalview1");
}
void TfrmMain::btnDisassembleClick() {
    runTool("Disassemble1");
}

void TfrmMain::btnInstantCopyClick() {
    btnInstantCopy->setEnabled(false);
    runTool("Directcopy1");
    btnInstantCopy->setEnabled(true);
}

// btnRefreshClick and the rest of the volume list: mainwindow_volumes.cpp.

void TfrmMain::btnRefreshPartitionsClick() {
    ++driveRefreshes_;
    lvwLogicalDrives->clear();
    const char separator = platform::decimalSeparator();
    driveRows_ = drives::scan(*backend_);
    for (size_t i = 0; i < driveRows_.size(); ++i) {
        QStringList texts;
        for (const auto& t : driveRows_[i].texts(separator))
            texts << q(t);
        auto* item = new QTreeWidgetItem(texts);
        item->setData(0, kRowRole, int(i));
        const QString disk = q(drives::diskToolTip(driveRows_[i].disk));
        for (int column = 0; column < texts.size(); ++column)
            item->setToolTip(column, disk);
        lvwLogicalDrives->addTopLevelItem(item);
    }
}

void TfrmMain::tmrDeviceChangeTimer() {
    tmrDeviceChange->stop();
    btnRefreshClick();
    btnRefreshPartitionsClick();
}

// After a label change the partition list is read again from the selected partition's first byte.
void TfrmMain::tmrRefreshTimer() {
    tmrRefresh->stop();
    const auto* row = selectedRow(lvwPartitions, partitionRows_);
    if (!row) return;
    const PartitionRow partition = *row; // the walk replaces the rows
    readPartitionTable("\\\\.\\PHYSICALDRIVE" + partition.drive, partition.drive, partition.byteOffset);
}

void TfrmMain::deviceChangeMessage() {
    // Starting a running timer would restart its countdown; a burst of messages must lead to
    // one refresh a second after the first.
    if (!tmrDeviceChange->isActive()) tmrDeviceChange->start();
}

void TfrmMain::startWatch() {
    watch_ = backend_->watchDevices();
    if (!watch_ || watch_->pollDescriptor() < 0) return;
    watchNotifier_ = new QSocketNotifier(watch_->pollDescriptor(), QSocketNotifier::Read, this);
    connect(watchNotifier_, &QSocketNotifier::activated, this, [this] {
        if (watch_->takeEvents() > 0) deviceChangeMessage();
    });
}

bool TfrmMain::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
#ifdef _WIN32
    constexpr unsigned kWmDeviceChange = 0x219;
    if (eventType == "windows_generic_MSG" && static_cast<MSG*>(message)->message == kWmDeviceChange)
        deviceChangeMessage(); // then the default handling, as for every message
#endif
    return QMainWindow::nativeEvent(eventType, message, result);
}

void TfrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!tmrDeviceChange->isActive()) tmrDeviceChange->start();
}
