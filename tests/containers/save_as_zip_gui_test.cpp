// The save-as-zip progress window as a user meets it: a real window under the offscreen platform,
// its Stop button with the question answered from a script, and its title bar's close.

#include "checkers.h"
#include "containers/gui/save_as_zip_window.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "support/shown_text.h"
#include "support/test_backend.h"
#include "ui/qt_dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMap>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <random>

namespace {

TfrmSaveAsZip* shownWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* f = qobject_cast<TfrmSaveAsZip*>(w)) return f;
    return nullptr;
}

} // namespace

class SaveAsZipGuiTest : public QObject {
    Q_OBJECT

    fixtures::TempDir dir_;
    std::string source_;
    platform::testkit::TestBackend backend_;

    TFileInfo selection() {
        TFileInfo sel;
        sel.FileName = source_;
        sel.Description = source_;
        sel.DefaultName = "random.bin";
        sel.Size = 8 << 20;
        sel.CanRead = true;
        return sel;
    }

    // Exports into a new archive while `during` acts on the window at the first event pump.
    ScriptedUi exportWith(const std::string& archive, std::function<void(TfrmSaveAsZip&)> during) {
        ScriptedUi ui;
        ui.files = {archive};
        ui.answers = {Button::Yes}; // the Stop question, if it comes
        QTimer::singleShot(0, [during] {
            TfrmSaveAsZip* w = shownWindow();
            QVERIFY(w && w->isVisible());
            during(*w);
        });
        SaveAsZip(backend_, ui, selection());
        return ui;
    }

    // The archive is whole and its one entry holds what the window said it holds.
    void expectShortValidArchive(const std::string& archive, const ScriptedUi& ui) {
        QVERIFY(!shownWindow());
        QVERIFY(ui.texts().back().find("because the export was stopped.") != std::string::npos);
        fixtures::shell("mkdir -p '" + dir_.file("x") + "'");
        const auto v = checkers::extractEntries(archive, dir_.file("x"));
        QVERIFY2(v.status == 0, v.output.c_str());
        const auto bytes = fixtures::readFile(dir_.file("x/0"));
        const auto all = fixtures::readFile(source_);
        QVERIFY(!bytes.empty() && bytes.size() < all.size());
        QVERIFY(std::equal(bytes.begin(), bytes.end(), all.begin()));
    }

private slots:
    void initTestCase() {
        if (!checkers::missing("python3").empty()) QSKIP("python3 is not installed");
        source_ = dir_.file("random.bin");
        std::vector<uint8_t> bytes(8 << 20);
        std::mt19937 rng(3);
        for (auto& b : bytes)
            b = uint8_t(rng());
        fixtures::writeFile(source_, bytes);
    }

    void windowAsBuilt() {
        ScriptedUi ui;
        TfrmSaveAsZip w(ui);
        QCOMPARE(w.windowTitle(), QString("Save as zip"));
        QVERIFY(w.windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(w.lblCaption->text(), QString("Saving as zip"));
        QCOMPARE(w.btnStop->text(), QString("&Stop"));
        QCOMPARE(w.pgbProgress->minimum(), 0);
        QCOMPARE(w.pgbProgress->maximum(), 100);
    }

    // Stop asks; Yes hides the window at once, and the archive still gets its directory.
    void stopAnsweredYes() {
        const std::string archive = dir_.file("stopped.zip");
        bool hidden = false;
        const ScriptedUi ui = exportWith(archive, [&](TfrmSaveAsZip& w) {
            w.btnStop->click();
            hidden = !w.isVisible();
        });
        QVERIFY(hidden);
        QCOMPARE(
            ui.asked.at(0).text,
            std::string("Stopping will leave you with a corrupted zip file. Are you sure you want to quit?"));
        QCOMPARE(ui.asked[0].buttons, (std::vector<Button>{Button::Yes, Button::No, Button::Ignore}));
        QVERIFY(ui.asked.size() == 2);
        expectShortValidArchive(archive, ui);
    }

    // The Stop question's box: Yes, No, Ignore from left to right, No the default and what Escape
    // answers. A message naming "x<u>y  z.zip" shows the name as it is.
    void questionBoxesAsShown() {
        ScriptedUi ui;
        TfrmSaveAsZip w(ui);
        w.btnStop->click(); // answered No
        ui.files = {dir_.file("no folder/x<u>y  z.zip")};
        SaveAsZip(backend_, ui, selection());
        QCOMPARE(ui.asked.size(), size_t(2));
        const auto stop = QtDialogs::questionBox(ui.asked[0], &w);
        stop->show();
        QMap<int, int> order; // answers by place
        for (QAbstractButton* b : stop->buttons())
            order[b->mapToGlobal(QPoint()).x()] = b->property("answer").toInt();
        QCOMPARE(order.values(), (QList<int>{int(Button::Yes), int(Button::No), int(Button::Ignore)}));
        QCOMPARE(stop->defaultButton()->property("answer").toInt(), int(Button::No));
        QCOMPARE(stop->escapeButton()->property("answer").toInt(), int(Button::No));
        const auto message = QtDialogs::questionBox(ui.asked[1], nullptr);
        QVERIFY(ui.asked[1].text.find("x<u>y  z.zip") != std::string::npos);
        QCOMPARE(shownText(message->findChild<QLabel*>("qt_msgbox_label")),
                 QString::fromStdString(ui.asked[1].text));
    }

    // Closing the window by its title bar stops as Yes would, without the question.
    void titleBarCloseStopsWithoutAsking() {
        const std::string archive = dir_.file("closed.zip");
        const ScriptedUi ui = exportWith(archive, [](TfrmSaveAsZip& w) { w.close(); });
        QCOMPARE(ui.asked.size(), size_t(1)); // only what the export says at its end
        expectShortValidArchive(archive, ui);
    }
};

QTEST_MAIN(SaveAsZipGuiTest)
#include "save_as_zip_gui_test.moc"
