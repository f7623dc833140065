#include "info/gui/infowindows.h"

#include "info/info_texts.h"
#include "info/versions.h"

#include <QDesktopServices>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#ifndef TARNWICK_VERSION
#define TARNWICK_VERSION "unknown"
#endif

namespace {

QString q(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

void setUnderlined(QLabel* label, bool on) {
    QFont font = label->font();
    font.setUnderline(on);
    label->setFont(font);
}

QPushButton* closingButton(const QString& caption, const QString& name, QWidget* window) {
    auto* button = new QPushButton(caption);
    button->setObjectName(name);
    QObject::connect(button, &QPushButton::clicked, window, &QWidget::close);
    return button;
}

QHBoxLayout* buttonRow(QPushButton* button) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(button);
    row->addStretch();
    return row;
}

void centreOnDesktop(QWidget* window) {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
}

// A window of its own, owned by the main window so that it lives as long as the program.
void setUpWindow(QWidget* window, const char* name, std::string_view caption, int width, int height) {
    window->setWindowFlag(Qt::Window);
    window->setObjectName(name);
    window->setWindowTitle(q(caption));
    window->resize(width, height);
}

QPlainTextEdit* memo(const QString& name, std::string_view text) {
    auto* m = new QPlainTextEdit(q(text));
    m->setObjectName(name);
    m->setReadOnly(true);
    m->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return m;
}

} // namespace

UrlOpener desktopUrlOpener() {
    // The result is not checked: a missing browser is not reported.
    return [](const QUrl& url) { QDesktopServices::openUrl(url); };
}

TLinkLabel::TLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setCursor(Qt::PointingHandCursor);
    setStyleSheet("color: blue");
    setTextInteractionFlags(Qt::NoTextInteraction);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
}

void TLinkLabel::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    emit entered();
}

void TLinkLabel::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    emit left();
}

// Version.

TfrmVersion::TfrmVersion(QWidget* owner, UrlOpener opener)
    : QWidget(owner), open_(opener ? std::move(opener) : desktopUrlOpener()) {
    setUpWindow(this, "frmVersion", info::kVersionCaption, 440, 240);
    setWindowFlag(Qt::WindowStaysOnTopHint);

    Label1 = new QLabel(q(info::kVersionProduct));
    Label1->setObjectName("Label1");
    QFont big = Label1->font();
    big.setPointSize(big.pointSize() + 6);
    big.setBold(true);
    Label1->setFont(big);
    Label2 = new QLabel(q(info::kVersionSubtitle));
    Label2->setObjectName("Label2");
    lblVersion = new QLabel(q(info::kVersionText));
    lblVersion->setObjectName("lblVersion");
    Label4 = new TLinkLabel(q(info::kVersionMaker));
    Label4->setObjectName("Label4");
    connect(Label4, &TLinkLabel::clicked, this, &TfrmVersion::Label4Click);
    connect(Label4, &TLinkLabel::entered, this, [this] { setUnderlined(Label4, true); });
    connect(Label4, &TLinkLabel::left, this, [this] { setUnderlined(Label4, false); });
    lblBuild = new QLabel(q(info::versionLine(TARNWICK_VERSION, qVersion(), info::loadedLibraryVersions())));
    lblBuild->setObjectName("lblBuild");
    lblBuild->setWordWrap(true);
    lblBuild->setTextInteractionFlags(Qt::TextSelectableByMouse);
    btnOk = closingButton(q(info::kOkButton), "btnOk", this);
    btnOk->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    for (QLabel* l :
         {Label1, Label2, static_cast<QLabel*>(lblVersion), static_cast<QLabel*>(Label4), lblBuild}) {
        l->setAlignment(Qt::AlignHCenter);
        layout->addWidget(l);
    }
    layout->addStretch();
    layout->addLayout(buttonRow(btnOk));
    centreOnDesktop(this);
}

void TfrmVersion::Label4Click() {
    open_(QUrl(q(info::kWebsite)));
}

// Licensing conditions.

TfrmLicense::TfrmLicense(QWidget* owner) : QWidget(owner) {
    setUpWindow(this, "frmLicense", info::kLicenseCaption, 580, 520);

    mmoLicense = memo("mmoLicense", info::kLicenseTerms);

    const auto& rows = info::licenseRows();
    ValueListEditor1 = new QTableWidget(int(rows.size()), 2);
    ValueListEditor1->setObjectName("ValueListEditor1");
    ValueListEditor1->setHorizontalHeaderLabels({q(info::kLicenseUsageTitle), q(info::kLicensePriceTitle)});
    ValueListEditor1->verticalHeader()->hide();
    ValueListEditor1->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    ValueListEditor1->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    for (int r = 0; r < int(rows.size()); ++r) {
        ValueListEditor1->setItem(r, 0, new QTableWidgetItem(q(rows[size_t(r)].usage)));
        ValueListEditor1->setItem(r, 1, new QTableWidgetItem(q(rows[size_t(r)].price)));
    }
    ValueListEditor1->setEnabled(false);
    ValueListEditor1->verticalHeader()->setDefaultSectionSize(ValueListEditor1->fontMetrics().height() + 8);
    ValueListEditor1->setFixedHeight(ValueListEditor1->horizontalHeader()->sizeHint().height() +
                                     int(rows.size()) *
                                         ValueListEditor1->verticalHeader()->defaultSectionSize() +
                                     2 * ValueListEditor1->frameWidth());

    pnlBottom = new QWidget;
    pnlBottom->setObjectName("pnlBottom");
    lblContact = new QLabel(q(info::kLicenseContact));
    lblContact->setObjectName("lblContact");
    btnOk = closingButton(q(info::kOkButton), "btnOk", this);
    btnOk->setDefault(true);
    auto* bottom = new QHBoxLayout(pnlBottom);
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->addWidget(lblContact);
    bottom->addStretch();
    bottom->addWidget(btnOk);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(mmoLicense, 1);
    layout->addWidget(ValueListEditor1);
    layout->addWidget(pnlBottom);
}

// Credits.

TfrmCredits::TfrmCredits(QWidget* owner) : QWidget(owner) {
    setUpWindow(this, "frmCredits", info::kCreditsCaption, 520, 420);

    auto* layout = new QVBoxLayout(this);
    lblHeading = new QLabel(q(info::kCreditsHeading));
    lblHeading->setObjectName("lblHeading");
    QFont bold = lblHeading->font();
    bold.setBold(true);
    lblHeading->setFont(bold);
    layout->addWidget(lblHeading);
    layout->addSpacing(8);
    int n = 0;
    for (const auto& credit : info::credits()) {
        auto* library = new QLabel(q(credit.library));
        library->setObjectName(QString("lblLibrary%1").arg(++n));
        library->setWordWrap(true);
        auto* licence = new QLabel(q(credit.licence));
        licence->setObjectName(QString("lblLicence%1").arg(n));
        licence->setIndent(16);
        layout->addWidget(library);
        layout->addWidget(licence);
        layout->addSpacing(4);
    }
    layout->addStretch();
    btnThanks = closingButton(q(info::kCreditsButton), "btnThanks", this);
    btnThanks->setDefault(true);
    layout->addLayout(buttonRow(btnThanks));
}

// External links.

TfrmLinks::TfrmLinks(QWidget* owner, UrlOpener opener)
    : QWidget(owner), open_(opener ? std::move(opener) : desktopUrlOpener()) {
    setUpWindow(this, "frmLinks", info::kLinksCaption, 600, 560);

    pnlTop = new QWidget;
    pnlTop->setObjectName("pnlTop");
    auto* intro = new QLabel(q(info::kLinksIntro));
    intro->setObjectName("lblIntro");
    (new QVBoxLayout(pnlTop))->addWidget(intro);

    auto* page = new QWidget;
    auto* pageLayout = new QVBoxLayout(page);
    int groupNumber = 0;
    for (const auto& group : info::linkGroups()) {
        auto* box = new QGroupBox(q(group.caption));
        box->setObjectName(QString("GroupBox%1").arg(++groupNumber));
        auto* boxLayout = new QVBoxLayout(box);
        auto* description = new QPlainTextEdit(q(group.description));
        description->setObjectName(QString("Memo%1").arg(groupNumber));
        description->setReadOnly(true);
        description->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        description->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        description->setFixedHeight(3 * description->fontMetrics().lineSpacing() + 12);
        boxLayout->addWidget(description);
        for (const auto& address : group.addresses) {
            auto* link = new TLinkLabel(q(address));
            link->setObjectName(QString("Label%1").arg(linkLabels.size() + 1));
            connect(link, &TLinkLabel::clicked, this, &TfrmLinks::Label1Click);
            connect(link, &TLinkLabel::entered, this, &TfrmLinks::Label1MouseEnter);
            connect(link, &TLinkLabel::left, this, &TfrmLinks::Label1MouseLeave);
            boxLayout->addWidget(link);
            linkLabels << link;
        }
        pageLayout->addWidget(box);
        groups << box;
    }
    ScrollBox1 = new QScrollArea;
    ScrollBox1->setObjectName("ScrollBox1");
    ScrollBox1->setWidgetResizable(true);
    ScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ScrollBox1->setWidget(page);

    pnlBottom = new QWidget;
    pnlBottom->setObjectName("pnlBottom");
    btnClose = closingButton(q(info::kCloseButton), "btnClose", this);
    auto* bottom = new QHBoxLayout(pnlBottom);
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->addStretch();
    bottom->addWidget(btnClose);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pnlTop);
    layout->addWidget(ScrollBox1, 1);
    layout->addWidget(pnlBottom);
}

void TfrmLinks::Label1Click() {
    // The label's own caption is the address.
    if (auto* label = qobject_cast<QLabel*>(sender())) open_(QUrl(label->text()));
}

void TfrmLinks::Label1MouseEnter() {
    if (auto* label = qobject_cast<QLabel*>(sender())) setUnderlined(label, true);
}

void TfrmLinks::Label1MouseLeave() {
    if (auto* label = qobject_cast<QLabel*>(sender())) setUnderlined(label, false);
}

// To do.

TfrmToDo::TfrmToDo(QWidget* owner) : QWidget(owner) {
    setUpWindow(this, "frmToDo", info::kToDoCaption, 460, 300);

    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(q(info::kToDoTitle));
    title->setObjectName("Label1");
    QFont big = title->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    title->setFont(big);
    auto* subtitle = new QLabel(q(info::kToDoSubtitle));
    subtitle->setObjectName("Label2");
    layout->addWidget(title);
    layout->addWidget(subtitle);
    layout->addSpacing(8);
    int n = 2;
    for (const auto& item : info::toDoItems()) {
        auto* label = new QLabel(q(item));
        label->setObjectName(QString("Label%1").arg(++n));
        // The "-" lines explain the "*" item above them.
        if (item.rfind("- ", 0) == 0) label->setIndent(16);
        layout->addWidget(label);
    }
    layout->addStretch();
    btnClose = closingButton(q(info::kCloseButton), "btnClose", this);
    btnClose->setDefault(true);
    layout->addLayout(buttonRow(btnClose));
}

// Known issues.

TfrmKnownIssues::TfrmKnownIssues(QWidget* owner, UrlOpener opener)
    : QWidget(owner), open_(opener ? std::move(opener) : desktopUrlOpener()) {
    setUpWindow(this, "frmKnownIssues", info::kKnownIssuesCaption, 560, 440);

    Label1 = new QLabel(q(info::kKnownIssuesHeading));
    Label1->setObjectName("Label1");
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    mmoKnownIssues = memo("mmoKnownIssues", info::kKnownIssues);
    Label2 = new TLinkLabel(q(info::kKnownIssuesMore));
    Label2->setObjectName("Label2");
    connect(Label2, &TLinkLabel::clicked, this, &TfrmKnownIssues::Label2Click);
    connect(Label2, &TLinkLabel::entered, this, [this] { setUnderlined(Label2, true); });
    connect(Label2, &TLinkLabel::left, this, [this] { setUnderlined(Label2, false); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(mmoKnownIssues, 1);
    layout->addWidget(Label2, 0, Qt::AlignRight);
}

void TfrmKnownIssues::Label2Click() {
    open_(QUrl(q(info::kKnownIssuesPage)));
}
