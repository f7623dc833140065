// The main window's volume list: filling it, renaming a volume in place, and opening the file
// browser on a double click. The rules are the volume engine's (discovery/volumes.h).

#include "app/gui/mainwindow.h"
#include "app/gui/selectfile.h"
#include "discovery/volumes.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeWidget>

namespace {

selection::Row itemTexts(const QTreeWidgetItem* item) {
    selection::Row row;
    for (int c = 0; c < item->columnCount(); ++c)
        row.push_back(item->text(c).toStdString());
    return row;
}

// Opens the label editor only where the window allows it, and hands the typed text to the
// window instead of writing it into the row, so that a refused rename keeps the old label.
class VolumeLabelDelegate : public QStyledItemDelegate {
public:
    VolumeLabelDelegate(TfrmMain& window, QTreeWidget* list)
        : QStyledItemDelegate(list), window_(window), list_(list) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        if (index.column() != 0 || index.parent().isValid()) return nullptr;
        QTreeWidgetItem* item = list_->topLevelItem(index.row());
        if (!item || !window_.lvwDrivesEditing(item)) return nullptr;
        return QStyledItemDelegate::createEditor(parent, option, index);
    }

    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
        auto* edit = qobject_cast<QLineEdit*>(editor);
        QTreeWidgetItem* item = list_->topLevelItem(index.row());
        if (edit && item) window_.lvwDrivesEdited(item, edit->text());
    }

private:
    TfrmMain& window_;
    QTreeWidget* list_;
};

} // namespace

void TfrmMain::setUpVolumeList() {
    lvwDrives->setItemDelegate(new VolumeLabelDelegate(*this, lvwDrives));
    // A second click on the selected row (or F2) edits its label; a double click opens the browser.
    lvwDrives->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    // The first click of a double click on the selected row has started the list's delayed label
    // edit, which the list cancels only after reporting the double click. Opened at once, the
    // modal browser would run its event loop before that, and the editor would open behind it.
    connect(lvwDrives, &QTreeWidget::itemDoubleClicked, this, &TfrmMain::lvwDrivesDblClick,
            Qt::QueuedConnection);
}

QTreeWidgetItem* TfrmMain::addVolumeRow(const volumes::VolumeRow& row) {
    volumeRows_.push_back(row);
    QStringList texts;
    for (const auto& t : row.texts())
        texts << QString::fromStdString(t);
    auto* item = new QTreeWidgetItem(texts);
    item->setData(0, kRowRole, int(volumeRows_.size() - 1));
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    lvwDrives->insertTopLevelItem(0, item);
    return item;
}

void TfrmMain::btnRefreshClick() {
    ++volumeRefreshes_;
    const int generation = ++volumeRefreshGeneration_;
    lvwDrives->clear();
    volumeRows_.clear();
    volumes::scan(*backend_, [&](const volumes::VolumeRow& volume) {
        // Another refresh that ran while events were pumped has rebuilt the list already; adding
        // this one's rows to it would list volumes twice.
        if (generation != volumeRefreshGeneration_) return false;
        // Letters come from Z down, each at the top, so the finished list runs from B to Z.
        addVolumeRow(volume);
        QCoreApplication::processEvents(); // the list grows visibly and the window stays responsive
        return generation == volumeRefreshGeneration_;
    });
}

bool TfrmMain::lvwDrivesEditing(QTreeWidgetItem* item) {
    return volumes::labelEditAllowed(itemTexts(item));
}

void TfrmMain::lvwDrivesEdited(QTreeWidgetItem* item, const QString& text) {
    switch (volumes::commitLabel(*backend_, itemTexts(item), text.toStdString())) {
    case volumes::LabelEdit::Unchanged:
    case volumes::LabelEdit::Refused: // the row keeps its old label; nothing is reported
        break;
    case volumes::LabelEdit::Renamed:
        item->setText(0, text);
        // A selection made from the row from now on has the new label, as the row shows it.
        {
            bool ok = false;
            const int i = item->data(0, kRowRole).toInt(&ok);
            if (ok && i >= 0 && size_t(i) < volumeRows_.size())
                volumeRows_[size_t(i)].label = text.toStdString();
        }
        tmrRefresh->start();
        break;
    }
}

void TfrmMain::lvwDrivesDblClick() {
    const auto selected = lvwDrives->selectedItems();
    if (selected.isEmpty() || !frmSelectFile_) return;
    const QString station = selected.first()->text(1);
    if (station.isEmpty()) return;
    frmSelectFile_->Open(station.left(1).toStdString() + ":\\");
}
