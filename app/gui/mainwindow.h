#pragma once
// The main window: the three device lists, the selection editor, the action buttons and menus.
// It binds controls to the engines; the rules themselves live in core/selection.h and the
// discovery engines. The tools' items come from the registry: the window lays them out and runs
// them, and knows no tool by itself.

#include "core/fileinfo.h"
#include "core/job.h"
#include "discovery/drives.h"
#include "discovery/partitions.h"
#include "discovery/volumes.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QSocketNotifier;
class QSplitter;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class QAction;
class TfrmSelectFile;

namespace platform {
class Backend;
class DeviceWatch;
} // namespace platform

namespace disasm {
class DisasmLibrary;
}

namespace selection {
enum class AdjustAction;
}

namespace ui {
struct MenuItem;
enum class MenuSection;
} // namespace ui

// The dialogs of the main window's own handlers; tests swap in a scripted one.
class MainWindowDialogs;
class QtJobControl;

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    struct Options {
        platform::Backend* backend = nullptr; // the system's when null
        bool disassemblerAvailable = false;
        // The disassembler library loaded at start-up (its owner outlives the window), or null.
        const disasm::DisasmLibrary* disassembler = nullptr;
        // Dialogs for questions, file choices and the overwrite gate; Qt's own when null.
        Dialogs* dialogs = nullptr;
    };
    explicit TfrmMain(Options options, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Shared state, read by every tool when it starts.
    TFileInfo Selection;
    TFileInfo CopySource;
    TFileInfo CopyTarget;
    bool StopRequested = false;

    void ShowSelection();
    void UpdateSelectionMenus();
    void DisableButtons();
    void EnableButtons();

    // A confirmed Stop followed by closing the window, for when the system asks the program to end
    // (SIGTERM, SIGHUP, Ctrl+C): the running action stops, open dialogs take their safe answer, so
    // do later choices without being shown, and the application quits once the action returned.
    void stopAndClose();
    bool closing() const { return closing_; }
    // Told by the action interface when no action holds the window any more.
    void actionEnded();

    // What the window's actions ask through, and the job control that drives them (its progress
    // bar, status line and Stop).
    Dialogs& dialogs();
    QtJobControl& jobControl();
    void setDialogs(Dialogs* dialogs);

    // Windows opened from the menus; they live as long as the main window.
    void setLongLivedWindows(QWidget* partInfo, QWidget* license, QWidget* toDo, QWidget* links,
                             QWidget* credits, QWidget* version, QWidget* knownIssues);

    // Called for every device-change message the system sends.
    void deviceChangeMessage();

    // Counters that let tests see how often the lists were rebuilt.
    int volumeRefreshCount() const { return volumeRefreshes_; }
    int driveRefreshCount() const { return driveRefreshes_; }

    // The file browser that a double click on a volume opens (created once at start-up).
    void setFileBrowser(TfrmSelectFile* browser) { frmSelectFile_ = browser; }
    TfrmSelectFile* fileBrowser() const { return frmSelectFile_; }
    platform::Backend& backend() const { return *backend_; }

    // Controls, named as the rest of the program refers to them.
    QWidget* pnlTop = nullptr;
    QSplitter* Splitter1 = nullptr;
    QSplitter* Splitter2 = nullptr;
    QGroupBox* grbVolumes = nullptr;
    QTreeWidget* lvwDrives = nullptr;
    QLabel* lblRefreshVolumes = nullptr;
    QPushButton* btnRefresh = nullptr;
    QGroupBox* grbLogicalDrives = nullptr;
    QTreeWidget* lvwLogicalDrives = nullptr;
    QLabel* lblRefreshDrives = nullptr;
    QPushButton* btnRefreshPartitions = nullptr;
    QGroupBox* grbPartitions = nullptr;
    QTreeWidget* lvwPartitions = nullptr;
    QGroupBox* grbSelection = nullptr;
    QLabel* lblSelected = nullptr;
    QLineEdit* edtOffset = nullptr;
    QLineEdit* edtSize = nullptr;
    QCheckBox* chbAsHex = nullptr;
    QComboBox* cbbAdjustAction = nullptr;
    QPushButton* btnSkip512bytes = nullptr;
    QPushButton* Button1 = nullptr;
    QGroupBox* grbSelected = nullptr;
    QWidget* pnlButtons = nullptr;
    QPushButton* btnWriteFile = nullptr;
    QPushButton* btnReadFile = nullptr;
    QPushButton* btnDisassemble = nullptr;
    QPushButton* btnHexView = nullptr;
    QPushButton* btnGraphView = nullptr;
    QPushButton* btnStop = nullptr;
    QGroupBox* grbDirectCopy = nullptr;
    QPushButton* btnSetSource = nullptr;
    QPushButton* btnSetTarget = nullptr;
    QPushButton* btnInstantCopy = nullptr;
    QLabel* lblSource = nullptr;
    QLabel* lblTarget = nullptr;
    QLabel* lblInfo = nullptr;
    QProgressBar* pgbProgress = nullptr;
    QLabel* sbrProgress = nullptr;
    QTimer* tmrRefresh = nullptr;
    QTimer* tmrDeviceChange = nullptr;
    QMenu* mnuSelection = nullptr;
    QMenu* pumSelection = nullptr;
    // True once a click on the selection label gave it the popup menu.
    bool lblSelectedHasPopup = false;

    // Where a list item keeps the number of its row in the window's typed rows.
    static constexpr int kRowRole = Qt::UserRole + 1;
    // Adds a row to the volume list (at the top, as the refresh does) or the partition list.
    QTreeWidgetItem* addVolumeRow(const volumes::VolumeRow& row);
    QTreeWidgetItem* addPartitionRow(const PartitionRow& row);

    // Menu items by name (for example "Saveascompressed1"), or nullptr.
    QAction* menuItem(const QString& name) const;

public slots:
    void btnRefreshClick();
    void btnRefreshPartitionsClick();
    void tmrDeviceChangeTimer();
    void tmrRefreshTimer();
    void lvwDrivesSelectItem();
    void lvwLogicalDrivesSelectItem();
    void lvwPartitionsSelectItem();
    void Selectfile1Click();
    void edtOffsetChange();
    void edtSizeChange();
    void chbAsHexClick();
    void btnSkip512bytesClick();
    void lblSelectedClick();
    void btnSetSourceClick();
    void btnSetTargetClick();
    void btnStopClick();
    void btnWriteFileClick();
    void btnReadFileClick();
    void btnInstantCopyClick();
    void btnHexViewClick();
    void btnGraphViewClick();
    void btnDisassembleClick();
    void Speedtest1Click();
    void CalculateMD5sum1Click();
    void CalculateSHA1sum1Click();
    void CalculatebothMD5andSHA11Click();
    void Fillerase1Click();
    void Saveaszip1Click();
    void Saveascompressed1Click();
    void Loadfromcompressed1Click();
    // In-place label editing of the volume list: whether an edit may start on a row, and the
    // end of an edit with the text typed (the row shows the new label, or keeps its old one).
    bool lvwDrivesEditing(QTreeWidgetItem* item);
    void lvwDrivesEdited(QTreeWidgetItem* item, const QString& text);
    void lvwDrivesDblClick();

protected:
    void showEvent(QShowEvent* event) override;
    // Windows sends device changes to the window itself (WM_DEVICECHANGE).
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildLayout();
    void buildMenus();
    QAction* addItem(QMenu* menu, const QString& caption, const QString& name,
                     std::function<void()> handler = {});
    void copyMenu(QMenu* from, QMenu* to, bool canRead);
    void setEditText(QLineEdit* edit, const std::string& text);
    void setSelection(const TFileInfo& info);
    // The typed row behind the selected item of a list, or nullptr.
    template <class Row> const Row* selectedRow(QTreeWidget* list, const std::vector<Row>& rows) const;
    void readPartitionTable(const std::string& device, const std::string& driveText, int64_t offset);
    void updateCopyButton();
    // The Selection menu's items of one section, the tools' and the window's own, in their order,
    // closed by a separator when there are any.
    void addSection(QMenu* menu, ui::MenuSection section);
    // Applies the items' visibility rules, and with `enabling` their enabling rules too.
    void applyItemRules(bool enabling);
    // Runs the tool's item of this name, as its menu item does.
    void runTool(const QString& name);
    void openDocument(const QString& fileName);
    // Runs a handler and shows any error it raises in the error box; the window goes on.
    // False when the handler failed (its error was shown).
    bool guarded(const std::function<void()>& handler);
    void startWatch();
    void finishClosing();
    void setUpVolumeList();

    // What the tools' items run against.
    class Host;

    Options options_;
    platform::Backend* backend_;
    std::unique_ptr<Host> host_;
    // The items of the Selection menu that have rules, with their actions.
    std::vector<std::pair<QAction*, const ui::MenuItem*>> ruledItems_;
    std::unique_ptr<MainWindowDialogs> ui_;
    std::unique_ptr<QtJobControl> job_;
    std::unique_ptr<Dialogs> qtDialogs_;
    std::unique_ptr<platform::DeviceWatch> watch_;
    QSocketNotifier* watchNotifier_ = nullptr;
    QWidget* frmPartInfo_ = nullptr;
    QWidget* frmLicense_ = nullptr;
    QWidget* frmToDo_ = nullptr;
    QWidget* frmLinks_ = nullptr;
    QWidget* frmCredits_ = nullptr;
    QWidget* frmVersion_ = nullptr;
    QWidget* frmKnownIssues_ = nullptr;
    // The rows the three lists show, as values: a selection is made from these, never from texts.
    std::vector<volumes::VolumeRow> volumeRows_;
    std::vector<drives::DriveRow> driveRows_;
    std::vector<PartitionRow> partitionRows_;
    std::string partitionIdentity_; // the fingerprint of the drive the partition rows came from
    int volumeRefreshes_ = 0;
    int driveRefreshes_ = 0;
    // Bumped by every volume refresh; an older refresh resumed after pumping events stops.
    int volumeRefreshGeneration_ = 0;
    TfrmSelectFile* frmSelectFile_ = nullptr;
    bool closing_ = false;
    bool closeQueued_ = false;
};
