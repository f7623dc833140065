// The file browser window under the offscreen platform, opened on a virtual volume whose files
// are a temporary folder: lazy expansion, clicks that set the main window's Selection, and the
// ways the window closes.

#include "app/gui/mainwindow.h"
#include "app/gui/selectfile.h"
#include "core/selection.h"
#include "discovery/selections.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "support/shown_text.h"
#include "support/test_backend.h"
#include "ui/application.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

#include <filesystem>
#include <fstream>
#include <memory>

using platform::testkit::TestBackend;
using platform::testkit::VirtualVolume;
namespace fs = std::filesystem;

namespace {

QStringList childTexts(const QTreeWidgetItem* node) {
    QStringList texts;
    for (int i = 0; i < node->childCount(); ++i)
        texts << node->child(i)->text(0);
    return texts;
}

// The same item and range (Description follows the edits, so it may be rebuilt on the way).
bool sameItem(const TFileInfo& a, const TFileInfo& b) {
    return a.FileName == b.FileName && a.Size == b.Size && a.Offset == b.Offset &&
           a.DisplayText == b.DisplayText && a.CanRead == b.CanRead && a.CanWrite == b.CanWrite &&
           a.DefaultName == b.DefaultName;
}

QTreeWidgetItem* child(QTreeWidgetItem* node, const QString& text) {
    for (int i = 0; i < node->childCount(); ++i)
        if (node->child(i)->text(0) == text) return node->child(i);
    return nullptr;
}

} // namespace

class SelectFileTest : public QObject {
    Q_OBJECT

    fixtures::TempDir dir_;
    std::string root_;
    bool bigFile_ = false;
    std::unique_ptr<TestBackend> backend_;
    ScriptedUi ui_;
    std::unique_ptr<TfrmMain> main_;
    TfrmSelectFile* browser_ = nullptr;

    // A click as the user makes it, on the node's row.
    void click(QTreeWidgetItem* node) {
        browser_->lvwfs->scrollToItem(node);
        QTest::mouseClick(browser_->lvwfs->viewport(), Qt::LeftButton, {},
                          browser_->lvwfs->visualItemRect(node).center());
    }
    QTreeWidgetItem* root() { return browser_->lvwfs->topLevelItem(0); }

private slots:
    void initTestCase() {
        root_ = dir_.path().string() + "/";
        fixtures::writeFile(dir_.file("readme.txt"), std::vector<uint8_t>(300, 'r'));
        fs::create_directory(dir_.file("sub"));
        fs::create_directory(dir_.file("empty"));
        fixtures::writeFile(dir_.file("sub/inner.dat"), {1, 2, 3});
        { std::ofstream create(dir_.file("big.img")); }
        std::error_code ec;
        fs::resize_file(dir_.file("big.img"), 5000000000ull, ec); // sparse
        bigFile_ = !ec;
    }

    void init() {
        ui_ = ScriptedUi{};
        backend_ = std::make_unique<TestBackend>();
        VirtualVolume e;
        e.letter = 'E';
        e.folder = dir_.path().string();
        backend_->addVolume(e);
        TfrmMain::Options o;
        o.backend = backend_.get();
        o.dialogs = &ui_;
        main_ = std::make_unique<TfrmMain>(o);
        main_->tmrDeviceChange->stop();
        browser_ = new TfrmSelectFile(*main_, main_.get());
        browser_->setWaitForClose(false);
        main_->setFileBrowser(browser_);
    }
    void cleanup() {
        main_.reset(); // and the browser with it
        browser_ = nullptr;
    }

    void openShowsTheRootFolder() {
        browser_->Open("E:\\");
        QVERIFY(browser_->isVisible());
        QVERIFY(browser_->isModal());
        QCOMPARE(browser_->size(), QSize(474, 478));
        QCOMPARE(browser_->windowTitle(), QString("Select a file"));
        QCOMPARE(browser_->sbrStatus->text(),
                 QString("Hint: Select  file and right-click to perform immediate actions."));
        QCOMPARE(browser_->btnSelect->text(), QString("&Select"));
        QCOMPARE(browser_->btnCancel->text(), QString("&Cancel"));
        QVERIFY(!browser_->btnSelect->isEnabled());
        QVERIFY(browser_->btnSelect->isDefault());
        QCOMPARE(browser_->lvwfs->topLevelItemCount(), 1);
        QCOMPARE(root()->text(0), QString::fromStdString(root_));
        QVERIFY(root()->isExpanded());
        QStringList expected{"big.img", "empty", "readme.txt", "sub"};
        if (!bigFile_) expected.removeFirst();
        QCOMPARE(childTexts(root()), expected);
        // Folders carry a placeholder until they are expanded; files have none.
        QCOMPARE(childTexts(child(root(), "sub")), QStringList({".."}));
        QCOMPARE(child(root(), "readme.txt")->childCount(), 0);
        QCOMPARE(TfrmSelectFile::fileData(child(root(), "sub"))->Path, root_ + "sub/");
        QVERIFY(!TfrmSelectFile::fileData(child(root(), "sub")->child(0)));
    }

    void expandingListsAFolderEachTime() {
        browser_->Open("E:\\");
        QTreeWidgetItem* sub = child(root(), "sub");
        sub->setExpanded(true);
        QCOMPARE(childTexts(sub), QStringList({"inner.dat"}));
        QCOMPARE(TfrmSelectFile::fileData(sub->child(0))->Path, root_ + "sub/inner.dat");

        // Collapsing and expanding again lists the folder afresh.
        sub->setExpanded(false);
        fixtures::writeFile(dir_.file("sub/later.dat"), {});
        sub->setExpanded(true);
        QCOMPARE(childTexts(sub), QStringList({"inner.dat", "later.dat"}));
        fs::remove(dir_.file("sub/later.dat"));

        // An empty folder's placeholder goes and nothing takes its place.
        QTreeWidgetItem* empty = child(root(), "empty");
        QCOMPARE(empty->childCount(), 1);
        empty->setExpanded(true);
        QCOMPARE(empty->childCount(), 0);
    }

    void aFolderThatCannotBeListedShowsNothing() {
        browser_->Open("Q:\\"); // no such volume
        QCOMPARE(root()->text(0), QString("Q:\\"));
        QCOMPARE(root()->childCount(), 0);
        QVERIFY(ui_.asked.empty());
        QCOMPARE(browser_->windowTitle(), QString("Select a file"));
    }

    void clickingAFileMakesItTheSelection() {
        if (!bigFile_) QSKIP("this file system cannot hold a 5 GB sparse file");
        browser_->Open("E:\\");
        QVERIFY(!browser_->treeHasPopup());
        click(child(root(), "big.img"));
        const TFileInfo& s = main_->Selection;
        QCOMPARE(s.FileName, root_ + "big.img");
        QCOMPARE(s.Size, int64_t(5000000000));
        QCOMPARE(s.BaseSize, int64_t(5000000000));
        QCOMPARE(s.DisplayText, std::string("File: big.img"));
        QCOMPARE(s.DefaultExt, std::string(".img"));
        QCOMPARE(s.DriveText, std::string("big.img"));
        QVERIFY(s.CanRead);
        QVERIFY(!s.CanWrite);
        QCOMPARE(browser_->windowTitle(), QString("Selection: big.img"));
        QCOMPARE(browser_->sbrStatus->text(), QString::fromStdString(root_ + "big.img"));
        QVERIFY(browser_->btnSelect->isEnabled());
        QVERIFY(browser_->treeHasPopup());
        // The main window shows it at once, with its tools and without the load items.
        QCOMPARE(main_->lblSelected->text(), QString("  File: big.img"));
        QCOMPARE(main_->edtSize->text(), QString("5000000000"));
        QVERIFY(main_->btnWriteFile->isEnabled());
        QVERIFY(main_->btnReadFile->isEnabled());
        QVERIFY(main_->mnuSelection->menuAction()->isEnabled());
        QVERIFY(main_->menuItem("Hexview1")->isEnabled());
        for (const char* name : {"LoadFromFile1", "Loadfromcompressed1", "Loadfromzip1"})
            QVERIFY2(!main_->menuItem(name)->isEnabled(), name);
        // The tree's popup is the main window's, which mirrors the Selection menu for the file.
        QStringList enabled;
        for (const QAction* a : main_->pumSelection->actions())
            if (!a->isSeparator() && a->isEnabled()) enabled << a->text();
        QVERIFY(enabled.contains("He&x view"));
    }

    void fileThenFolderThenSelectKeepsTheFile() {
        browser_->Open("E:\\");
        click(child(root(), "readme.txt"));
        const TFileInfo file = main_->Selection;
        QCOMPARE(file.Size, int64_t(300));
        click(child(root(), "sub"));
        QVERIFY(!browser_->btnSelect->isEnabled());
        QVERIFY(!browser_->treeHasPopup());
        QCOMPARE(browser_->windowTitle(), QString("Selection: readme.txt")); // a folder changes no caption
        QVERIFY(sameItem(main_->Selection, file));
        click(root());
        QVERIFY(sameItem(main_->Selection, file));
        // The window closes with OK (the default button, Enter, after another file click).
        click(child(root(), "readme.txt"));
        QTest::mouseClick(browser_->btnSelect, Qt::LeftButton);
        QVERIFY(!browser_->isVisible());
        QCOMPARE(browser_->result(), int(QDialog::Accepted));
        QVERIFY(sameItem(main_->Selection, file));

        // Folder last, then closed with OK: the file clicked before stays.
        browser_->Open("E:\\");
        click(child(root(), "readme.txt"));
        click(child(root(), "empty"));
        browser_->accept();
        QVERIFY(sameItem(main_->Selection, file));
    }

    void cancelAndTheCloseBoxPutTheEarlierSelectionBack() {
        drives::DriveRow drive;
        drive.size = 67108864;
        main_->Selection = selections::fromDrive(drive);
        main_->Selection.Offset = 512;
        main_->Selection.Size = 1024;
        main_->ShowSelection();
        const TFileInfo before = main_->Selection;

        browser_->Open("E:\\");
        QCOMPARE(browser_->SavedSelection, before);
        click(child(root(), "readme.txt"));
        QCOMPARE(main_->Selection.Size, int64_t(300));
        QTest::mouseClick(browser_->btnCancel, Qt::LeftButton);
        QVERIFY(!browser_->isVisible());
        QVERIFY(main_->Selection == before);
        QCOMPARE(main_->edtOffset->text(), QString("512"));
        QCOMPARE(main_->edtSize->text(), QString("1024"));
        QCOMPARE(main_->lblSelected->text(), QString::fromStdString("  " + before.DisplayText));

        browser_->Open("E:\\");
        click(child(root(), "readme.txt"));
        browser_->close(); // the close box
        QVERIFY(main_->Selection == before);
        QCOMPARE(main_->edtSize->text(), QString("1024"));
    }

    // A name that looks like markup shows as named in the status line and the selected item.
    void namesThatLookLikeMarkupShowAsNamed() {
        const std::string folder = dir_.file("names"), name = "x<u>y  z[*].bin";
        fs::create_directory(folder);
        fixtures::writeFile(folder + "/" + name, {1});
        browser_->Open("E:\\");
        child(root(), "names")->setExpanded(true);
        click(child(child(root(), "names"), QString::fromStdString(name)));
        fs::remove_all(folder);
        QCOMPARE(shownText(browser_->sbrStatus), QString::fromStdString(folder + "/" + name));
        QVERIFY(shownText(main_->lblSelected).endsWith(QString::fromStdString(name)));
        QVERIFY(browser_->windowHandle());
        QVERIFY2(browser_->windowHandle()->title().endsWith(QString::fromStdString(name)),
                 qPrintable(browser_->windowHandle()->title()));
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    SelectFileTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "selectfile_test.moc"
