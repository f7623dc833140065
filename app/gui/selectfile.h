#pragma once
// The file browser: a volume's folders and files as a tree, loaded folder by folder. Clicking a
// file makes it the main window's Selection at once; "&Select" keeps it, "&Cancel" and the close
// box put the earlier Selection back. The listing and the record a file becomes are the engine's
// (app/filebrowser.h); the root node shows the folder the volume's files are in.

#include "app/filebrowser.h"
#include "core/fileinfo.h"

#include <QDialog>

#include <string>

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
class TfrmMain;

class TfrmSelectFile : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSelectFile(TfrmMain& main, QWidget* parent = nullptr);

    // Rebuilds the tree from root (a drive root such as "C:\", or a folder) and shows the window
    // modally; returns when it closes. With waitForClose off it returns at once, the window still
    // modal, and the closing runs when a button or the close box ends it (as tests drive it).
    void Open(const std::string& root);
    void setWaitForClose(bool wait) { waitForClose_ = wait; }

    // The node's data, or nullptr for a placeholder.
    static const TFileData* fileData(const QTreeWidgetItem* node);
    // True while the tree offers the main window's popup menu (after a click on a file).
    bool treeHasPopup() const { return treeHasPopup_; }

    QTreeWidget* lvwfs = nullptr;
    QWidget* pnlBottom = nullptr;
    QPushButton* btnSelect = nullptr;
    QPushButton* btnCancel = nullptr;
    QLabel* sbrStatus = nullptr; // the status bar's one panel

    // The main window's Selection as it was when the window opened.
    TFileInfo SavedSelection;

public slots:
    void lvwfsExpanding(QTreeWidgetItem* node);
    void lvwfsClick();

private:
    void windowClosed(int result);
    static void addPlaceholder(QTreeWidgetItem* node);

    TfrmMain& main_;
    bool waitForClose_ = true;
    bool treeHasPopup_ = false;
};
