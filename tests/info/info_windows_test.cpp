// The information windows and the reference window under the offscreen platform: every fixed
// caption and text, the buttons that close their window, the link labels and the reference
// window's tabs.

#include "info/gui/infowindows.h"
#include "info/gui/partinfo.h"
#include "info/reference_texts.h"
#include "ui/application.h"

#include <QAbstractButton>
#include <QEnterEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QUrl>

#include <memory>

#include <dlfcn.h>

namespace {

// What a widget shows as its text, whatever kind of widget it is.
QStringList textsOf(QWidget* w) {
    QStringList out;
    if (auto* l = qobject_cast<QLabel*>(w)) out << l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) out << b->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) out << g->title();
    if (auto* t = qobject_cast<QTableWidget*>(w))
        for (int c = 0; c < t->columnCount(); ++c)
            out << t->horizontalHeaderItem(c)->text();
    return out;
}

class InfoWindowsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> owner_;
    QList<QUrl> opened_;
    QMap<QString, QWidget*> windows_;

    UrlOpener recorder() {
        return [this](const QUrl& url) { opened_ << url; };
    }

private slots:
    void init() {
        owner_ = std::make_unique<QWidget>();
        opened_.clear();
        windows_.clear();
        for (QWidget* w : std::initializer_list<QWidget*>{
                 new TfrmPartInfo(owner_.get()), new TfrmLicense(owner_.get()), new TfrmToDo(owner_.get()),
                 new TfrmLinks(owner_.get(), recorder()), new TfrmCredits(owner_.get()),
                 new TfrmVersion(owner_.get(), recorder()), new TfrmKnownIssues(owner_.get(), recorder())})
            windows_[w->objectName()] = w;
    }
    void cleanup() { owner_.reset(); }

    // Each caption and fixed text, exactly; an empty object name means any child of the window.
    void captionsAndTexts_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("object");
        QTest::addColumn<QString>("text");
        const auto row = [](const char* window, const char* object, const char* text) {
            QTest::addRow("%s %s \"%s\"", window, object, text) << window << object << text;
        };
        row("frmVersion", "frmVersion", "Version");
        row("frmVersion", "", "Tarnwick 1.0");
        row("frmVersion", "", "Drive and partition utilities");
        row("frmVersion", "lblVersion", "version 0.9 prerelease E");
        row("frmVersion", "", "&Ok");
        row("frmLicense", "frmLicense", "Licensing conditions");
        row("frmLicense", "ValueListEditor1", "Usage");
        row("frmLicense", "ValueListEditor1", "Price");
        row("frmLicense", "", "* Contact for details");
        row("frmLicense", "", "&Ok");
        row("frmCredits", "frmCredits", "Credits to");
        row("frmCredits", "", "Special thanks to the developers of following libraries :");
        row("frmCredits", "", "Thanks!");
        row("frmLinks", "frmLinks", "External links");
        row("frmLinks", "", "Some links to provide you additional reading, usefull tools etc.");
        row("frmLinks", "", "&Close");
        row("frmToDo", "frmToDo", "To do");
        row("frmToDo", "", "to-do and limitations");
        row("frmToDo", "", "Planned extensions and known limitations");
        row("frmToDo", "", "* sector size fixed to 512 byte");
        row("frmToDo", "", "- Generally true, but some exotic devices may have other sector sizes.");
        row("frmToDo", "", "* No support for extended partitions yet");
        row("frmToDo", "", "* zlib compression and decompression of dumped / imported partitions");
        row("frmToDo", "", "- (Almost) empty partitions take uneccesary space when dumped as file");
        row("frmToDo", "", "* The hex viewer could use some improvements");
        row("frmToDo", "", "&Close");
        row("frmKnownIssues", "frmKnownIssues", "frmKnownIssues");
        row("frmKnownIssues", "", "Known issues");
        row("frmKnownIssues", "", "More issues on the web...");
        row("frmPartInfo", "frmPartInfo", "Information about partitions, partition types and booting.");
        row("frmPartInfo", "PageControl1", "Partition types");
        row("frmPartInfo", "PageControl1", "Partition table");
        row("frmPartInfo", "PageControl1", "Master boot record");
    }
    void captionsAndTexts() {
        QFETCH(QString, window);
        QFETCH(QString, object);
        QFETCH(QString, text);
        QWidget* w = windows_.value(window);
        QVERIFY(w);
        QStringList found;
        if (object == window) {
            found << w->windowTitle();
        } else if (auto* tabs = qobject_cast<QTabWidget*>(w->findChild<QWidget*>(object))) {
            for (int i = 0; i < tabs->count(); ++i)
                found << tabs->tabText(i);
        } else if (!object.isEmpty()) {
            QWidget* child = w->findChild<QWidget*>(object);
            QVERIFY2(child, qPrintable(object));
            found << textsOf(child);
        } else {
            for (QWidget* child : w->findChildren<QWidget*>())
                found << textsOf(child);
        }
        QVERIFY2(found.contains(text), qPrintable(found.join(" | ")));
    }

    // The twelve groups of the links window, in order; the first with two links.
    void linkGroupsInOrder() {
        auto* links = qobject_cast<TfrmLinks*>(windows_["frmLinks"]);
        QStringList captions;
        QList<int> linkCounts;
        for (QGroupBox* g : links->groups) {
            captions << g->title();
            linkCounts << g->findChildren<TLinkLabel*>().size();
            QVERIFY(!g->findChild<QPlainTextEdit*>()->toPlainText().isEmpty());
        }
        QCOMPARE(captions, QStringList({"Partitions and volumes", "8086 assembler, disassembler and emulator",
                                        "32-bit disassembler", "Disassembler library for linux",
                                        "Hard Disk Logical Structures and File Systems",
                                        "BIOS boot specification", "The Master Boot Record (MBR)",
                                        "BIOS data area", "Partition types", "The ISO 9660 File System",
                                        "DOS and BIOS interrupt services", "FAT32 and file sytem guide"}));
        QCOMPARE(linkCounts, QList<int>({2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
    }

    // A link label opens its own caption; the version and known-issues labels the web site.
    void linkLabelsHandTheirAddressToTheOpener() {
        auto* links = qobject_cast<TfrmLinks*>(windows_["frmLinks"]);
        links->show();
        QList<QUrl> expected;
        for (TLinkLabel* label : links->linkLabels) {
            QVERIFY(label->text().startsWith("https://"));
            QTest::mouseClick(label, Qt::LeftButton);
            expected << QUrl(label->text());
        }
        QCOMPARE(opened_, expected);

        opened_.clear();
        QTest::mouseClick(qobject_cast<TfrmVersion*>(windows_["frmVersion"])->Label4, Qt::LeftButton);
        QTest::mouseClick(qobject_cast<TfrmKnownIssues*>(windows_["frmKnownIssues"])->Label2, Qt::LeftButton);
        QCOMPARE(opened_,
                 QList<QUrl>({QUrl("https://tarnwick.org/"), QUrl("https://tarnwick.org/#knownissues")}));
    }

    void linkLabelsUnderlineWhileThePointerIsOverThem() {
        auto* links = qobject_cast<TfrmLinks*>(windows_["frmLinks"]);
        links->show();
        TLinkLabel* label = links->linkLabels.at(3);
        QVERIFY(!label->font().underline());
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QCoreApplication::sendEvent(label, &enter);
        QVERIFY(label->font().underline());
        QVERIFY(!links->linkLabels.at(4)->font().underline());
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(label, &leave);
        QVERIFY(!label->font().underline());
    }

    // Each button closes its own window, which is hidden, not destroyed, and shows again.
    void buttonsCloseTheirOwnWindow_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("button");
        QTest::newRow("version") << "frmVersion"
                                 << "&Ok";
        QTest::newRow("license") << "frmLicense"
                                 << "&Ok";
        QTest::newRow("credits") << "frmCredits"
                                 << "Thanks!";
        QTest::newRow("links") << "frmLinks"
                               << "&Close";
        QTest::newRow("to do") << "frmToDo"
                               << "&Close";
    }
    void buttonsCloseTheirOwnWindow() {
        QFETCH(QString, window);
        QFETCH(QString, button);
        QPointer<QWidget> w = windows_[window];
        for (QWidget* other : windows_)
            other->show();
        QPushButton* press = nullptr;
        for (auto* b : w->findChildren<QPushButton*>())
            if (b->text() == button) press = b;
        QVERIFY(press);
        QTest::mouseClick(press, Qt::LeftButton);
        QTRY_VERIFY(!w->isVisible());
        for (QWidget* other : windows_)
            if (other != w) QVERIFY2(other->isVisible(), qPrintable(other->objectName()));
        QCoreApplication::processEvents();
        QVERIFY(w);
        w->show();
        QVERIFY(w->isVisible());
    }

    // With ISA-L linked, Credits name it and the version line gives its version (loaded here as the
    // program's loader loads it).
    void isalIsNamedWhenTheProgramLinksIt() {
#ifndef TARNWICK_ISAL_VERSION
        QSKIP("this build does not link ISA-L");
#else
        QStringList credits;
        for (QLabel* label : windows_["frmCredits"]->findChildren<QLabel*>())
            credits << label->text();
        QVERIFY2(credits.join('\n').contains("ISA-L, "), qPrintable(credits.join(" | ")));
        const std::unique_ptr<void, int (*)(void*)> isal(::dlopen(TW_ISAL_LIBRARY, RTLD_NOW | RTLD_GLOBAL),
                                                         ::dlclose);
        QVERIFY2(isal, TW_ISAL_LIBRARY);
        const QString build = TfrmVersion(owner_.get(), recorder()).lblBuild->text();
        QVERIFY2(build.contains("ISA-L " TARNWICK_ISAL_VERSION), qPrintable(build));
#endif
    }

    // Shown beside the main window, never modal; the version window stays on top.
    void windowsAreNonModalAndTheVersionStaysOnTop() {
        for (QWidget* w : windows_) {
            QVERIFY2(w->isWindow(), qPrintable(w->objectName()));
            QCOMPARE(w->windowModality(), Qt::NonModal);
            QCOMPARE(bool(w->windowFlags() & Qt::WindowStaysOnTopHint), w->objectName() == "frmVersion");
        }
        auto* license = qobject_cast<TfrmLicense*>(windows_["frmLicense"]);
        QVERIFY(license->mmoLicense->isReadOnly());
        QVERIFY(license->mmoLicense->toPlainText().contains("without warranty"));
        QVERIFY(!license->ValueListEditor1->isEnabled());
        QVERIFY(license->ValueListEditor1->rowCount() > 0);
    }

    // Three tabs of the built-in texts; the two tables in a fixed-width font.
    void referenceWindowLayout() {
        auto* w = qobject_cast<TfrmPartInfo*>(windows_["frmPartInfo"]);
        QCOMPARE(w->size(), QSize(717, 622));
        QCOMPARE(w->PageControl1->currentWidget(), w->tshPartitionTypes);
        QCOMPARE(w->PageControl1->widget(1), w->tshPartTable);
        QCOMPARE(w->PageControl1->widget(2), w->tshMBR);
        const struct {
            QPlainTextEdit* memo;
            QWidget* tab;
            info::ReferenceText text;
            bool fixedPitch;
        } tabs[] = {{w->Memo1, w->tshPartitionTypes, info::ReferenceText::PartitionTypes, true},
                    {w->Memo2, w->tshPartTable, info::ReferenceText::PartitionTable, false},
                    {w->Memo3, w->tshMBR, info::ReferenceText::MasterBootRecord, true}};
        for (const auto& t : tabs) {
            QCOMPARE(t.memo->parentWidget(), t.tab);
            const auto text = info::referenceText(t.text);
            QCOMPARE(t.memo->toPlainText(), QString::fromUtf8(text.data(), qsizetype(text.size())));
            QCOMPARE(QFontInfo(t.memo->font()).fixedPitch(), t.fixedPitch);
            QVERIFY(!t.memo->isReadOnly());
            QCOMPARE(t.memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        }
        QCOMPARE(w->Memo1->font().pointSize(), 8);
        QCOMPARE(w->Memo3->font().pointSize(), 8);
    }

    void referenceWindowKeepsTabAndScrollWhenClosed() {
        auto* w = qobject_cast<TfrmPartInfo*>(windows_["frmPartInfo"]);
        w->show();
        w->PageControl1->setCurrentIndex(2);
        QScrollBar* bar = w->Memo3->verticalScrollBar();
        QVERIFY(bar->maximum() > 40);
        bar->setValue(40);
        QVERIFY(w->close());
        QVERIFY(!w->isVisible());
        w->show();
        QCOMPARE(w->PageControl1->currentIndex(), 2);
        QCOMPARE(bar->value(), 40);
    }
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    InfoWindowsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "info_windows_test.moc"
