#include "app/gui/selectfile.h"

#include "app/gui/mainwindow.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// A tree node that owns the data it was listed with.
class TFileNode : public QTreeWidgetItem {
public:
    TFileNode(const QString& text, TFileData data)
        : QTreeWidgetItem(QStringList{text}), data_(std::move(data)) {}
    const TFileData& data() const { return data_; }

private:
    TFileData data_;
};

} // namespace

TfrmSelectFile::TfrmSelectFile(TfrmMain& main, QWidget* parent) : QDialog(parent), main_(main) {
    setObjectName("frmSelectFile");
    setWindowTitle(filebrowser::kCaption);
    resize(474, 478);

    lvwfs = new QTreeWidget;
    lvwfs->setObjectName("lvwfs");
    lvwfs->setHeaderHidden(true);
    lvwfs->setColumnCount(1);
    lvwfs->setContextMenuPolicy(Qt::CustomContextMenu);

    pnlBottom = new QWidget;
    pnlBottom->setObjectName("pnlBottom");
    btnSelect = new QPushButton("&Select");
    btnSelect->setObjectName("btnSelect");
    btnSelect->setDefault(true);
    btnSelect->setEnabled(false);
    btnCancel = new QPushButton("&Cancel");
    btnCancel->setObjectName("btnCancel");
    auto* buttons = new QHBoxLayout(pnlBottom);
    buttons->setContentsMargins(4, 4, 4, 4);
    buttons->addStretch(1);
    buttons->addWidget(btnSelect);
    buttons->addWidget(btnCancel);

    auto* statusBar = new QStatusBar;
    statusBar->setSizeGripEnabled(false);
    sbrStatus = new QLabel;
    sbrStatus->setObjectName("sbrStatus");
    sbrStatus->setTextFormat(Qt::PlainText); // it shows file paths
    statusBar->addWidget(sbrStatus, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(lvwfs, 1);
    layout->addWidget(pnlBottom);
    layout->addWidget(statusBar);

    connect(btnSelect, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(this, &QDialog::finished, this, &TfrmSelectFile::windowClosed);
    connect(lvwfs, &QTreeWidget::itemExpanded, this, &TfrmSelectFile::lvwfsExpanding);
    connect(lvwfs, &QTreeWidget::itemClicked, this, &TfrmSelectFile::lvwfsClick);
    connect(lvwfs, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (treeHasPopup_) main_.pumSelection->popup(lvwfs->viewport()->mapToGlobal(pos));
    });
}

const TFileData* TfrmSelectFile::fileData(const QTreeWidgetItem* node) {
    const auto* fileNode = dynamic_cast<const TFileNode*>(node);
    return fileNode ? &fileNode->data() : nullptr;
}

void TfrmSelectFile::addPlaceholder(QTreeWidgetItem* node) {
    node->addChild(new QTreeWidgetItem(QStringList{filebrowser::kPlaceholder}));
}

void TfrmSelectFile::Open(const std::string& root) {
    SavedSelection = main_.Selection;
    setWindowTitle(filebrowser::kCaption);
    sbrStatus->setText(filebrowser::kHint);
    btnSelect->setEnabled(false);
    treeHasPopup_ = false;

    lvwfs->clear();
    const std::string rootPath = filebrowser::resolveRoot(main_.backend(), root);
    auto* rootNode = new TFileNode(q(rootPath), filebrowser::rootData(rootPath));
    addPlaceholder(rootNode);
    lvwfs->addTopLevelItem(rootNode);
    rootNode->setExpanded(true); // lists the root folder

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    setModal(true);
    if (waitForClose_)
        exec();
    else
        show();
}

void TfrmSelectFile::lvwfsExpanding(QTreeWidgetItem* node) {
    const TFileData* folder = fileData(node);
    if (!folder) return;
    qDeleteAll(node->takeChildren()); // the placeholder, or an earlier listing
    for (auto& entry : filebrowser::listFolder(*folder)) {
        const QString name = q(entry.Rec.Name);
        const bool isFolder = entry.isFolder();
        auto* child = new TFileNode(name, std::move(entry));
        if (isFolder) addPlaceholder(child); // so that it can be expanded
        node->addChild(child);
    }
}

void TfrmSelectFile::lvwfsClick() {
    treeHasPopup_ = false;
    const auto selected = lvwfs->selectedItems();
    if (selected.isEmpty()) return;
    const QTreeWidgetItem* node = selected.first();
    const TFileData* data = fileData(node);
    if (!data) return; // a placeholder
    if (!data->isFolder()) {
        // "[*]" in a title is Qt's modified marker: doubled, a name shows it as it is.
        setWindowTitle(q(filebrowser::kSelectionCaptionPrefix + data->Rec.Name).replace("[*]", "[*][*]"));
        sbrStatus->setText(q(data->Path));
        treeHasPopup_ = true;
        main_.Selection = filebrowser::fileInfoFor(*data, node->text(0).toStdString());
        main_.btnWriteFile->setEnabled(true);
        main_.btnReadFile->setEnabled(true);
        main_.ShowSelection();
    }
    btnSelect->setEnabled(!data->isFolder());
}

void TfrmSelectFile::windowClosed(int result) {
    if (result == QDialog::Accepted) return; // the last file clicked stays the Selection
    main_.Selection = SavedSelection;
    main_.ShowSelection();
}
