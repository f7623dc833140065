// The main window's volume list under the offscreen platform: filling it from virtual volumes,
// in-place label edits, and the double click that opens the file browser.

#include "app/gui/mainwindow.h"
#include "app/gui/selectfile.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"
#include "ui/application.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <memory>

using platform::testkit::TestBackend;
using platform::testkit::VirtualVolume;

namespace {

VirtualVolume volume(char letter, int type, const std::string& label, const std::string& folder = {}) {
    VirtualVolume v;
    v.letter = letter;
    v.driveType = type;
    v.info = {label, 0x00C0FFEE, 255, 0, type == platform::DriveCdRom ? "ISO9660" : "EXT4"};
    v.space = platform::FreeSpace{0, int64_t(10) << 20, int64_t(4) << 20};
    v.folder = folder;
    return v;
}

QStringList row(const QTreeWidget* list, int i) {
    QStringList texts;
    const QTreeWidgetItem* item = list->topLevelItem(i);
    for (int c = 0; c < item->columnCount(); ++c)
        texts << item->text(c);
    return texts;
}

QLineEdit* openEditor(QTreeWidget* list) {
    return list->viewport()->findChild<QLineEdit*>();
}

// A double click as a mouse sends it; QTest::mouseDClick alone sends only the third event.
void doubleClick(QWidget* widget, QPoint at) {
    QTest::mousePress(widget, Qt::LeftButton, {}, at);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, at);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
}

// Runs a step inside a dialog's own modal loop, once the dialog is shown.
class InModalLoop : public QObject {
public:
    InModalLoop(QWidget& dialog, std::function<void()> step) : step_(std::move(step)) {
        dialog.installEventFilter(this);
    }
    bool ran = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show && !ran)
            QMetaObject::invokeMethod(
                this,
                [this] {
                    ran = true;
                    step_();
                },
                Qt::QueuedConnection);
        return false;
    }

private:
    std::function<void()> step_;
};

} // namespace

class VolumeListTest : public QObject {
    Q_OBJECT

    fixtures::TempDir dir_;
    std::unique_ptr<TestBackend> backend_;
    ScriptedUi ui_;
    std::unique_ptr<TfrmMain> w_;

    TfrmMain& make() {
        TfrmMain::Options o;
        o.backend = backend_.get();
        o.dialogs = &ui_;
        w_ = std::make_unique<TfrmMain>(o);
        w_->tmrDeviceChange->stop(); // the tests refresh when they want to
        w_->show();
        return *w_;
    }

private slots:
    void init() {
        ui_ = ScriptedUi{};
        backend_ = std::make_unique<TestBackend>();
        backend_->addVolume(volume('C', platform::DriveFixed, "SYSTEM", dir_.path().string()));
        backend_->addVolume(volume('D', platform::DriveCdRom, "DISC"));
        VirtualVolume reader = volume('E', platform::DriveRemovable, "");
        reader.mediumPresent = false;
        backend_->addVolume(reader);
        VirtualVolume share = volume('Z', platform::DriveRemote, "SHARE");
        share.space.reset();
        backend_->addVolume(share);
        VirtualVolume locked = volume('G', platform::DriveFixed, "LOCKED");
        locked.labelChangeSucceeds = false;
        backend_->addVolume(locked);
    }
    void cleanup() { w_.reset(); }

    void refreshFillsTheListFromBToZ() {
        TfrmMain& w = make();
        w.Selection.DisplayText = "kept";
        w.btnRefreshClick();
        QCOMPARE(w.lvwDrives->topLevelItemCount(), 4);
        QCOMPARE(row(w.lvwDrives, 0),
                 QStringList({"SYSTEM", "C:\\", "Hard disk", "EXT4", "10", "4", "00C0FFEE", "255 characters",
                              "10485760", "4194304", "3"}));
        QCOMPARE(row(w.lvwDrives, 1).mid(0, 3), QStringList({"DISC", "D:\\", "cdrom/dvd"}));
        QCOMPARE(row(w.lvwDrives, 2).at(1), QString("G:\\"));
        QCOMPARE(row(w.lvwDrives, 3), QStringList({"SHARE", "Z:\\", "Network", "EXT4", "0", "0", "00C0FFEE",
                                                   "255 characters", "0", "0", "4"}));
        QCOMPARE(w.Selection.DisplayText, std::string("kept"));
        QCOMPARE(w.volumeRefreshCount(), 1);

        // Again: cleared and rebuilt, not appended to.
        w.btnRefreshClick();
        QCOMPARE(w.lvwDrives->topLevelItemCount(), 4);
    }

    void aRefreshDuringTheRefreshLeavesOneList() {
        TfrmMain& w = make();
        // The first refresh pumps events after its first row; the second runs there to its end.
        QTimer::singleShot(0, &w, [&w] { w.btnRefreshClick(); });
        w.btnRefreshClick();
        QCOMPARE(w.volumeRefreshCount(), 2);
        QCOMPARE(w.lvwDrives->topLevelItemCount(), 4);
        QCOMPARE(row(w.lvwDrives, 0).at(1), QString("C:\\"));
        QCOMPARE(row(w.lvwDrives, 3).at(1), QString("Z:\\"));
    }

    void cdLabelsCannotBeEdited() {
        TfrmMain& w = make();
        w.btnRefreshClick();
        w.lvwDrives->editItem(w.lvwDrives->topLevelItem(1), 0); // the DVD
        QVERIFY(!openEditor(w.lvwDrives));
        QVERIFY(!w.lvwDrives->isPersistentEditorOpen(w.lvwDrives->topLevelItem(1), 0));
        // Only the label column is editable.
        w.lvwDrives->editItem(w.lvwDrives->topLevelItem(0), 3);
        QVERIFY(!openEditor(w.lvwDrives));
    }

    void renamingSetsTheLabelAndStartsTheTimer() {
        TfrmMain& w = make();
        w.btnRefreshClick();
        QTreeWidgetItem* c = w.lvwDrives->topLevelItem(0);
        w.lvwDrives->editItem(c, 0);
        QLineEdit* editor = openEditor(w.lvwDrives);
        QVERIFY(editor);
        editor->setText("WINDOWS");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(c->text(0), QString("WINDOWS"));
        QCOMPARE(backend_->labelChanges(), (std::vector<std::pair<char, std::string>>{{'C', "WINDOWS"}}));
        QVERIFY(w.tmrRefresh->isActive());
        QVERIFY(ui_.asked.empty());
    }

    void unchangedOrRefusedRenamesKeepTheOldLabelSilently() {
        TfrmMain& w = make();
        w.btnRefreshClick();
        QTreeWidgetItem* c = w.lvwDrives->topLevelItem(0);
        w.lvwDrives->editItem(c, 0);
        QVERIFY(openEditor(w.lvwDrives));
        QTest::keyClick(openEditor(w.lvwDrives), Qt::Key_Return); // the text as it was
        QTRY_VERIFY(!openEditor(w.lvwDrives));
        QVERIFY(backend_->labelChanges().empty());

        QTreeWidgetItem* g = w.lvwDrives->topLevelItem(2);
        w.lvwDrives->editItem(g, 0);
        QLineEdit* editor = openEditor(w.lvwDrives);
        QVERIFY(editor);
        editor->setText("OTHER");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(backend_->labelChanges().size(), size_t(1));
        QCOMPARE(g->text(0), QString("LOCKED"));
        QVERIFY(!w.tmrRefresh->isActive());
        QVERIFY(ui_.asked.empty());
    }

    void doubleClickOpensTheBrowserOnTheVolume() {
        TfrmMain& w = make();
        TfrmSelectFile browser(w, &w);
        browser.setWaitForClose(false);
        w.setFileBrowser(&browser);
        w.btnRefreshClick();

        w.lvwDrivesDblClick(); // nothing selected: nothing happens
        QVERIFY(!browser.isVisible());

        // The browser runs modally, as in the program. The first click of a double click on the
        // selected row's label arms the list's label edit a double-click interval later: it must
        // not open, neither while the browser is open nor after it.
        const QPoint at(w.lvwDrives->columnViewportPosition(0) + 10,
                        w.lvwDrives->visualItemRect(w.lvwDrives->topLevelItem(0)).center().y());
        QTest::mouseClick(w.lvwDrives->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(w.Selection.FileName, std::string("\\\\.\\C:"));
        browser.setWaitForClose(true);
        const int interval = QApplication::doubleClickInterval();
        bool editorWhileOpen = true;
        QString root;
        InModalLoop step(browser, [&] {
            QTest::qWait(interval + 200);
            editorWhileOpen = openEditor(w.lvwDrives) != nullptr;
            root = browser.lvwfs->topLevelItem(0)->text(0);
            browser.reject();
        });
        doubleClick(w.lvwDrives->viewport(), at);
        QTRY_VERIFY(step.ran);
        QCOMPARE(root, QString::fromStdString(dir_.path().string() + "/"));
        QVERIFY(!editorWhileOpen);
        QTest::qWait(interval + 200);
        QVERIFY(!openEditor(w.lvwDrives));
        QCOMPARE(w.Selection.FileName, std::string("\\\\.\\C:"));

        // A click on a selected row's label still edits it.
        const QPoint g(at.x(), w.lvwDrives->visualItemRect(w.lvwDrives->topLevelItem(2)).center().y());
        QTest::mouseClick(w.lvwDrives->viewport(), Qt::LeftButton, {}, g);
        QTest::mouseClick(w.lvwDrives->viewport(), Qt::LeftButton, {}, g);
        QTRY_VERIFY(openEditor(w.lvwDrives));
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    VolumeListTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "volumelist_test.moc"
