// The disassembly window over the demo drive's image, under the offscreen platform; its messages
// are answered by the scripted dialogs.

#include "disasm_test_support.h"
#include "discovery/demo_drive.h"
#include "inspect/gui/disassemble.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"
#include "ui/application.h"
#include "ui/job_control.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

class DisasmWindowTest : public QObject {
    Q_OBJECT

    fixtures::TempDir dir_;
    platform::testkit::TestBackend backend_;
    ScriptedUi ui_;
    TFileInfo demo_;

    QStringList row(TfrmDisAssemble& w, int i) {
        const QTreeWidgetItem* item = w.lvwDisassemble->topLevelItem(i);
        return item ? QStringList{item->text(0), item->text(1), item->text(2)} : QStringList{};
    }
    // A double click as the system delivers it: a click, then the second press as a double click.
    void doubleClick(TfrmDisAssemble& w, const QString& disassembly) {
        const auto found = w.lvwDisassemble->findItems(disassembly, Qt::MatchExactly, 2);
        QVERIFY(!found.isEmpty());
        w.lvwDisassemble->scrollToItem(found.first());
        const QPoint at = w.lvwDisassemble->visualItemRect(found.first()).center();
        QTest::mouseClick(w.lvwDisassemble->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(w.lvwDisassemble->viewport(), Qt::LeftButton, {}, at);
    }

private slots:
    void initTestCase() {
        demo::writeDemoImage(dir_.file("demo.img"));
        demo_.FileName = dir_.file("demo.img");
        demo_.DefaultName = "demo.img";
    }
    void cleanup() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(backend_.openStreams(), 0);
        QVERIFY(ui_.asked.empty());
    }

    void listsTheBootCodeAndFollowsItsJump() {
        QPointer<TfrmDisAssemble> w = OpenDisAssemble(nullptr, backend_, ui_, demo_, plugin());
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QString("Disassemble of demo.img"));
        QCOMPARE(w->sedMax->maximum(), 8196);
        QCOMPARE(row(*w, 0), QStringList({"00000000", "FA", "CLI"})); // listed as it showed

        // A far jump's segment:offset is no byte offset: a double click leaves it alone.
        doubleClick(*w, "JMP FAR 0000:061E");
        QCOMPARE(w->edtAddr->text(), QString("00000019")); // selecting a row shows its address
        QCOMPARE(row(*w, 0).value(0), QString("00000000"));

        doubleClick(*w, "JZ 33h");
        QCOMPARE(w->edtAddr->text(), QString("33"));
        QCOMPARE(row(*w, 0), QStringList({"00000033", "89F5", "MOV BP, SI"}));
        w->close();
    }

    void copiesTheListingWithTabsAndCrLf() {
        QPointer<TfrmDisAssemble> w = OpenDisAssemble(nullptr, backend_, ui_, demo_, plugin());
        w->sedMax->setValue(3);
        w->edtAddr->setText("0");
        QTest::keyClick(w->edtAddr, Qt::Key_Return);
        QTest::mouseClick(w->btnCopyClipboard, Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QString("00000000\tFA\tCLI\r\n00000001\t31C0\tXOR AX, AX\r\n"));
        w->close();
    }

    void closingDuringAListingStopsItAndClosesTheFile() {
        QPointer<TfrmDisAssemble> w =
            new TfrmDisAssemble(disasm::openForListing(backend_, ui_, demo_, plugin()), plugin(), &ui_);
        w->sedMax->setValue(8196);
        bool goLocked = false;
        w->jobControl().afterPump = [&] {
            goLocked = !w->btnGoAddr->isEnabled();
            w->close();
        };
        w->show();
        QVERIFY(goLocked); // no second listing over the running one
        QVERIFY(w && !w->fileOpen());
        QVERIFY(w->lvwDisassemble->topLevelItemCount() < 8196 / 2);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!w);
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    DisasmWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "disasm_window_test.moc"
