#pragma once
// The hex viewer's grid: a table model over the engine's page (texts are made only for the cells
// on screen, so a page of 139,000 cells redraws at once), the cell editor that hands each edited
// text to the window, and a table view whose address column stays put while the bytes scroll.

#include "inspect/hexview.h"

#include <array>

#include <QAbstractTableModel>
#include <QFont>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <QTableView>

class HexPageModel : public QAbstractTableModel {
    Q_OBJECT
public:
    HexPageModel(const hexview::Viewer& viewer, QObject* parent);
    // A byte cell's value as an int (nothing for other cells).
    static constexpr int ByteRole = Qt::UserRole + 1;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The page was emptied: true when the column count changed (the model was reset).
    bool pageCleared();
    void blockAdded(int block);
    void cellChanged(int row, int column);

private:
    const hexview::Viewer& viewer_;
    int columns_;
};

// Hands every change of an edited cell's text to edited(); the model is never written through
// the editor, only through the engine.
class HexCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    // keyFilter: filters the editor's keys (the grid's own filter).
    HexCellDelegate(QObject* keyFilter, QObject* parent);
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

signals:
    void edited(int row, int column, const QString& text);

private:
    QObject* keyFilter_;
    mutable QFont digitsFont_;
    mutable std::array<QStaticText, 256> digits_;
};

// A table view with its first column frozen on the left (a second view over the same model and
// selection, laid over it), as the grid's fixed address column.
class HexGrid : public QTableView {
    Q_OBJECT
public:
    explicit HexGrid(QWidget* parent);
    static constexpr int kRowHeight = 14; // the least
    void setModel(QAbstractItemModel* model) override;
    // After a reset: the frozen view shows column 0 only, both views take the widths.
    void applyColumnWidths(const std::vector<int>& widths);
    QTableView* frozenColumn() const { return frozen_; }
    // Rows of 14 pixels, or taller where the font needs it (done again when the font changes).
    void fitRowsToFont();

    // Letters typed into the grid go to the key filter, never to a search among the cells.
    void keyboardSearch(const QString&) override {}

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

private:
    void placeFrozen();
    QTableView* frozen_;
};
