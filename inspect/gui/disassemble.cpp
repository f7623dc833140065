#include "inspect/gui/disassemble.h"

#include "platform/platform.h"

#include <QClipboard>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// The library's text is bytes: shown one character per byte.
QString text(const std::string& s) {
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

} // namespace

TfrmDisAssemble::TfrmDisAssemble(std::unique_ptr<platform::RawStream> stream,
                                 const disasm::DisasmLibrary& library, Dialogs* dialogs, QWidget* parent)
    : ToolWindowBase(parent, Qt::Window), stream_(std::move(stream)), library_(library) {
    setObjectName("frmDisAssemble");
    setDeleteWhenClosed(true);
    useDialogs(dialogs);
    buildLayout();
    // While a listing runs, nothing may start another one over the same stream.
    ToolJobControl& job = makeJobControl(nullptr, nullptr);
    job.onBusy = [this](bool on) {
        btnGoAddr->setEnabled(!on);
        btnCopyClipboard->setEnabled(!on);
    };
}

TfrmDisAssemble::~TfrmDisAssemble() = default;

void TfrmDisAssemble::buildLayout() {
    resize(543, 422);
    centreOnScreen(size());

    grbJump = new QGroupBox("Jump to address");
    edtAddr = new QLineEdit("00000000");
    edtAddr->setObjectName("edtAddr");
    btnGoAddr = new QPushButton("Go...");
    btnGoAddr->setObjectName("btnGoAddr");
    auto* jump = new QHBoxLayout(grbJump);
    jump->addWidget(edtAddr);
    jump->addWidget(btnGoAddr);

    grbMax = new QGroupBox("Max nr. bytes");
    sedMax = new QSpinBox;
    sedMax->setObjectName("sedMax");
    sedMax->setRange(0, disasm::kMaxBytesLimit);
    sedMax->setValue(disasm::kDefaultMaxBytes);
    auto* max = new QHBoxLayout(grbMax);
    max->addWidget(sedMax);

    btnCopyClipboard = new QPushButton("Copy to clipboard");
    btnCopyClipboard->setObjectName("btnCopyClipboard");

    lvwDisassemble = new QTreeWidget;
    lvwDisassemble->setObjectName("lvwDisassemble");
    lvwDisassemble->setRootIsDecorated(false);
    lvwDisassemble->setUniformRowHeights(true);
    lvwDisassemble->setSelectionMode(QAbstractItemView::SingleSelection);
    lvwDisassemble->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvwDisassemble->setAllColumnsShowFocus(true);
    lvwDisassemble->setHeaderLabels({"Address", "Prefix", "Disassembly"});
    lvwDisassemble->setColumnWidth(0, 75);
    lvwDisassemble->setColumnWidth(1, 100);
    lvwDisassemble->setColumnWidth(2, 350);

    auto* top = new QHBoxLayout;
    top->addWidget(grbJump);
    top->addWidget(grbMax);
    top->addWidget(btnCopyClipboard, 0, Qt::AlignBottom);
    top->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(lvwDisassemble);

    connect(btnGoAddr, &QPushButton::clicked, this, &TfrmDisAssemble::btnGoAddrClick);
    connect(edtAddr, &QLineEdit::returnPressed, this, &TfrmDisAssemble::btnGoAddrClick);
    connect(btnCopyClipboard, &QPushButton::clicked, this, &TfrmDisAssemble::btnCopyClipboardClick);
    connect(lvwDisassemble, &QTreeWidget::itemSelectionChanged, this,
            &TfrmDisAssemble::lvwDisassembleSelectItem);
    connect(lvwDisassemble, &QTreeWidget::itemDoubleClicked, this, &TfrmDisAssemble::lvwDisassembleDblClick);
}

void TfrmDisAssemble::MakeListing() {
    if (listing() || !stream_) return;
    lvwDisassemble->clear();
    rows_.clear();
    runJob([this] {
        disasm::makeListing(
            *stream_, library_, sedMax->value(), dialogs(), jobControl(), [this](disasm::Row&& row) {
                new QTreeWidgetItem(lvwDisassemble, {text(row.fields.address), text(row.fields.prefix),
                                                     text(row.fields.disassembly)});
                rows_.push_back(std::move(row));
            });
    });
}

void TfrmDisAssemble::btnGoAddrClick() {
    if (listing() || !stream_) return;
    if (disasm::seekToAddress(*stream_, dialogs(), edtAddr->text().toStdString())) MakeListing();
}

void TfrmDisAssemble::lvwDisassembleSelectItem() {
    const auto selected = lvwDisassemble->selectedItems();
    if (!selected.isEmpty()) edtAddr->setText(selected.first()->text(0));
}

void TfrmDisAssemble::lvwDisassembleDblClick() {
    if (listing()) return;
    const auto selected = lvwDisassemble->selectedItems();
    if (selected.isEmpty()) return;
    const auto target = disasm::jumpTarget(selected.first()->text(2).toStdString());
    if (!target) return;
    edtAddr->setText(text(*target));
    btnGoAddrClick();
}

void TfrmDisAssemble::btnCopyClipboardClick() {
    QGuiApplication::clipboard()->setText(text(disasm::clipboardText(rows_)));
}

void TfrmDisAssemble::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (listedOnce_) return;
    listedOnce_ = true;
    MakeListing();
}

void TfrmDisAssemble::FormClose() {
    jobControl().requestStop();
}

TfrmDisAssemble* OpenDisAssemble(QWidget* owner, platform::Backend& backend, Dialogs& dialogs,
                                 const TFileInfo& selection, const disasm::DisasmLibrary& library) {
    auto stream = disasm::openForListing(backend, dialogs, selection, library);
    if (!stream) return nullptr;
    auto* window = new TfrmDisAssemble(std::move(stream), library, &dialogs, owner);
    // "[*]" in a title is Qt's modified marker: doubled, a name shows it as it is.
    window->setWindowTitle(
        QString::fromStdString(disasm::windowCaption(selection.DefaultName)).replace("[*]", "[*][*]"));
    window->show();
    window->activateWindow();
    return window;
}
