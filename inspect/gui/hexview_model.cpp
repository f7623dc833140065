#include "inspect/gui/hexview_model.h"

#include <QColor>
#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

// --- HexPageModel ---------------------------------------------------------------------------

HexPageModel::HexPageModel(const hexview::Viewer& viewer, QObject* parent)
    : QAbstractTableModel(parent), viewer_(viewer), columns_(viewer.page().columnCount()) {}

int HexPageModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : hexview::kDataRows;
}

int HexPageModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns_;
}

QVariant HexPageModel::data(const QModelIndex& index, int role) const {
    const hexview::Page& page = viewer_.page();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return QString::fromLatin1(page.cellText(index.row(), index.column()));
    case ByteRole:
        if (const auto b = page.byteAt(index.row(), index.column())) return int(*b);
        return {};
    case Qt::BackgroundRole:
        if (index.column() > 0 && page.alternate(index.row())) {
            const auto c = hexview::kAlternateBlockColour;
            return QColor(c.red, c.green, c.blue);
        }
        return {};
    default:
        return {};
    }
}

QVariant HexPageModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return QString::fromLatin1(viewer_.page().headerText(section));
}

Qt::ItemFlags HexPageModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (viewer_.editable(index.row(), index.column())) f |= Qt::ItemIsEditable;
    return f;
}

bool HexPageModel::pageCleared() {
    const int columns = viewer_.page().columnCount();
    if (columns != columns_) {
        beginResetModel();
        columns_ = columns;
        endResetModel();
        return true;
    }
    emit dataChanged(index(0, 0), index(hexview::kDataRows - 1, columns_ - 1));
    emit headerDataChanged(Qt::Horizontal, 0, columns_ - 1);
    return false;
}

void HexPageModel::blockAdded(int block) {
    const hexview::Page& page = viewer_.page();
    if (block == 0) emit headerDataChanged(Qt::Horizontal, 0, columns_ - 1);
    const int first = block * page.rowsPerBlock();
    emit dataChanged(index(first, 0), index(first + page.rowsPerBlock() - 1, columns_ - 1));
}

void HexPageModel::cellChanged(int row, int column) {
    emit dataChanged(index(row, column), index(row, column));
    emit dataChanged(index(row, columns_ - 1), index(row, columns_ - 1)); // the text column
}

// --- HexCellDelegate ------------------------------------------------------------------------

HexCellDelegate::HexCellDelegate(QObject* keyFilter, QObject* parent)
    : QStyledItemDelegate(parent), keyFilter_(keyFilter) {}

QWidget* HexCellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                       const QModelIndex& index) const {
    auto* editor = new QLineEdit(parent); // owned by the view, which deletes it when editing ends
    editor->setFrame(false);
    if (keyFilter_) editor->installEventFilter(keyFilter_);
    const int row = index.row(), column = index.column();
    auto* self = const_cast<HexCellDelegate*>(this); // the editor's signals reach the delegate
    connect(editor, &QLineEdit::textEdited, self, [self, editor, row, column](const QString& text) {
        emit self->edited(row, column, text);
        // Two digits are a whole byte: the cell goes back to showing what the device holds.
        if (text.size() == 2) emit self->closeEditor(editor, NoHint);
    });
    return editor;
}

void HexCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    // Drawn by hand: a page repaints a thousand cells at a time, and the style's general item
    // painting costs several times this.
    const bool selected = option.state & QStyle::State_Selected;
    if (selected) {
        painter->fillRect(option.rect, option.palette.brush(QPalette::Highlight));
    } else if (const QVariant background = index.data(Qt::BackgroundRole); background.isValid()) {
        painter->fillRect(option.rect, background.value<QColor>());
    }
    painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    const int inset = hexview::kCellTextInset;
    if (const QVariant byte = index.data(HexPageModel::ByteRole); byte.isValid()) {
        // The 256 byte texts are laid out once, not for every cell of every repaint.
        if (digitsFont_ != option.font) {
            digitsFont_ = option.font;
            for (int b = 0; b < 256; ++b) {
                digits_[size_t(b)] = QStaticText(QString::asprintf("%02X", b));
                digits_[size_t(b)].prepare(QTransform(), digitsFont_);
            }
        }
        painter->setFont(option.font);
        painter->drawStaticText(option.rect.topLeft() + QPoint(inset, inset),
                                digits_[size_t(byte.toInt() & 255)]);
    } else if (const QString text = index.data(Qt::DisplayRole).toString(); !text.isEmpty()) {
        painter->drawText(option.rect.adjusted(inset, inset, 0, 0),
                          Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    }
    if (option.state & QStyle::State_HasFocus) {
        painter->setPen(QPen(option.palette.color(QPalette::Text), 1, Qt::DotLine));
        painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
    }
}

// --- HexGrid --------------------------------------------------------------------------------

HexGrid::HexGrid(QWidget* parent) : QTableView(parent), frozen_(new QTableView(this)) {
    frozen_->setObjectName("sgdHexviewAddresses");
    frozen_->setFocusPolicy(Qt::NoFocus);
    frozen_->verticalHeader()->hide();
    frozen_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    frozen_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    frozen_->setEditTriggers(NoEditTriggers);
    frozen_->setShowGrid(false);
    frozen_->setWordWrap(false);
    frozen_->setFrameShape(QFrame::NoFrame);
    // The fixed column is painted like the header row.
    QPalette p = frozen_->palette();
    p.setColor(QPalette::Base, p.color(QPalette::Button));
    frozen_->setPalette(p);
    viewport()->stackUnder(frozen_);
    connect(verticalScrollBar(), &QAbstractSlider::valueChanged, frozen_->verticalScrollBar(),
            &QAbstractSlider::setValue);
    connect(frozen_->verticalScrollBar(), &QAbstractSlider::valueChanged, verticalScrollBar(),
            &QAbstractSlider::setValue);
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int section, int, int size) {
        if (section == 0) {
            frozen_->setColumnWidth(0, size);
            placeFrozen();
        }
    });
}

void HexGrid::setModel(QAbstractItemModel* model) {
    QTableView::setModel(model);
    frozen_->setModel(model);
    frozen_->setSelectionModel(selectionModel());
    frozen_->setFont(font());
    frozen_->horizontalHeader()->setFont(horizontalHeader()->font());
    // Both headers one fixed height, so the frozen column's rows stay level with the grid's.
    const int headerHeight = horizontalHeader()->sizeHint().height();
    horizontalHeader()->setFixedHeight(headerHeight);
    frozen_->horizontalHeader()->setFixedHeight(headerHeight);
    frozen_->verticalHeader()->setMinimumSectionSize(verticalHeader()->minimumSectionSize());
    frozen_->verticalHeader()->setDefaultSectionSize(verticalHeader()->defaultSectionSize());
    frozen_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // Its own painter: the grid's delegate closes the grid's editors.
    frozen_->setItemDelegate(new HexCellDelegate(nullptr, frozen_));
    frozen_->show();
    placeFrozen();
}

void HexGrid::applyColumnWidths(const std::vector<int>& widths) {
    for (int c = 0; c < int(widths.size()); ++c) {
        setColumnWidth(c, widths[size_t(c)]);
        frozen_->setColumnHidden(c, c != 0);
    }
    if (!widths.empty()) frozen_->setColumnWidth(0, widths[0]);
    placeFrozen();
}

void HexGrid::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    placeFrozen();
}

void HexGrid::fitRowsToFont() {
    // The text starts 2 pixels down; below it the letters' tails (g, p, y) need the font's full
    // height, which for the grid's "Courier New" 8 differs from system to system.
    const int height = std::max(kRowHeight, hexview::kCellTextInset + QFontMetrics(font()).height());
    for (QTableView* view : {static_cast<QTableView*>(this), frozen_}) {
        view->verticalHeader()->setMinimumSectionSize(1);
        view->verticalHeader()->setDefaultSectionSize(height);
    }
    frozen_->setFont(font());
}

void HexGrid::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange) fitRowsToFont();
}

QModelIndex HexGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    const QModelIndex current = QTableView::moveCursor(action, modifiers);
    // Moving left onto a byte hidden under the frozen column scrolls it out from there.
    if (action == MoveLeft && current.column() > 0 &&
        visualRect(current).topLeft().x() < frozen_->columnWidth(0)) {
        const int newValue =
            horizontalScrollBar()->value() + visualRect(current).topLeft().x() - frozen_->columnWidth(0);
        horizontalScrollBar()->setValue(newValue);
    }
    return current;
}

void HexGrid::scrollTo(const QModelIndex& index, ScrollHint hint) {
    // A cell of the frozen column needs only its row brought into view.
    const int across = horizontalScrollBar()->value();
    QTableView::scrollTo(index, hint);
    if (index.column() == 0) horizontalScrollBar()->setValue(across);
}

void HexGrid::placeFrozen() {
    frozen_->setGeometry(verticalHeader()->width() + frameWidth(), frameWidth(), columnWidth(0),
                         viewport()->height() + horizontalHeader()->height());
}
