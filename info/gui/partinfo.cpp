#include "info/gui/partinfo.h"

#include "info/info_texts.h"
#include "info/reference_texts.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QString q(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// "Courier New" 8 pt where it is installed, else the system's fixed-width font at that size:
// the two monospaced tabs need equal character widths for their columns.
QFont monospaced() {
    QFont font("Courier New", 8);
    font.setStyleHint(QFont::TypeWriter);
    if (!QFontInfo(font).fixedPitch()) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPointSize(8);
    }
    return font;
}

// A text box that fills its tab, with a vertical scroll bar only. It stays editable, as the
// reader may want to note something; the text is built in, so nothing is kept.
QPlainTextEdit* memo(const char* name, std::string_view text, QWidget* tab) {
    auto* m = new QPlainTextEdit(q(text));
    m->setObjectName(name);
    m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m);
    return m;
}

} // namespace

TfrmPartInfo::TfrmPartInfo(QWidget* owner) : QWidget(owner, Qt::Window) {
    setObjectName("frmPartInfo");
    setWindowTitle(q(info::kPartInfoCaption));
    // The window's own font: "MS Sans Serif" 8 pt, or the nearest sans-serif face.
    QFont windowFont("MS Sans Serif", 8);
    windowFont.setStyleHint(QFont::SansSerif);
    setFont(windowFont);
    resize(717, 622);

    PageControl1 = new QTabWidget;
    PageControl1->setObjectName("PageControl1");
    tshPartitionTypes = new QWidget;
    tshPartitionTypes->setObjectName("tshPartitionTypes");
    tshPartTable = new QWidget;
    tshPartTable->setObjectName("tshPartTable");
    tshMBR = new QWidget;
    tshMBR->setObjectName("tshMBR");

    Memo1 = memo("Memo1", info::referenceText(info::ReferenceText::PartitionTypes), tshPartitionTypes);
    Memo1->setFont(monospaced());
    Memo2 = memo("Memo2", info::referenceText(info::ReferenceText::PartitionTable), tshPartTable);
    Memo3 = memo("Memo3", info::referenceText(info::ReferenceText::MasterBootRecord), tshMBR);
    Memo3->setFont(monospaced());

    PageControl1->addTab(tshPartitionTypes, q(info::kPartTypesTab));
    PageControl1->addTab(tshPartTable, q(info::kPartTableTab));
    PageControl1->addTab(tshMBR, q(info::kMbrTab));
    PageControl1->setCurrentIndex(0);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(PageControl1);
}
