#pragma once
// The six information windows of the Extra and About menus. Each is created once at start-up,
// hidden, shown without blocking the main window, and hidden again by its button or close box.
// Their texts and addresses are the engine's (info/info_texts.h).

#include <QLabel>
#include <QWidget>

#include <functional>

class QGroupBox;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QTableWidget;
class QUrl;

// Opens a web address; the desktop's default handler unless a test records it instead.
using UrlOpener = std::function<void(const QUrl&)>;
UrlOpener desktopUrlOpener();

// A label that acts as a link: blue, a pointing hand, underlined while the pointer is over it.
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(const QString& text, QWidget* parent = nullptr);

signals:
    void clicked();
    void entered();
    void left();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
};

class TfrmVersion : public QWidget {
    Q_OBJECT
public:
    explicit TfrmVersion(QWidget* owner = nullptr, UrlOpener opener = {});

    QLabel* Label1 = nullptr; // the product
    QLabel* Label2 = nullptr; // what it is
    QLabel* lblVersion = nullptr;
    TLinkLabel* Label4 = nullptr; // the maker, a link to the web site
    QLabel* lblBuild = nullptr;   // this build and the libraries it runs with
    QPushButton* btnOk = nullptr;

public slots:
    void Label4Click();

private:
    UrlOpener open_;
};

class TfrmLicense : public QWidget {
    Q_OBJECT
public:
    explicit TfrmLicense(QWidget* owner = nullptr);

    QPlainTextEdit* mmoLicense = nullptr;
    QTableWidget* ValueListEditor1 = nullptr;
    QWidget* pnlBottom = nullptr;
    QLabel* lblContact = nullptr;
    QPushButton* btnOk = nullptr;
};

class TfrmCredits : public QWidget {
    Q_OBJECT
public:
    explicit TfrmCredits(QWidget* owner = nullptr);

    QLabel* lblHeading = nullptr;
    QPushButton* btnThanks = nullptr;
};

class TfrmLinks : public QWidget {
    Q_OBJECT
public:
    explicit TfrmLinks(QWidget* owner = nullptr, UrlOpener opener = {});

    QWidget* pnlTop = nullptr;
    QScrollArea* ScrollBox1 = nullptr;
    QWidget* pnlBottom = nullptr;
    QPushButton* btnClose = nullptr;
    QList<QGroupBox*> groups;      // in their order on the page
    QList<TLinkLabel*> linkLabels; // in their order on the page

public slots:
    // Shared by every link label: the label that sent the signal is the one meant.
    void Label1Click();
    void Label1MouseEnter();
    void Label1MouseLeave();

private:
    UrlOpener open_;
};

class TfrmToDo : public QWidget {
    Q_OBJECT
public:
    explicit TfrmToDo(QWidget* owner = nullptr);

    QPushButton* btnClose = nullptr;
};

class TfrmKnownIssues : public QWidget {
    Q_OBJECT
public:
    explicit TfrmKnownIssues(QWidget* owner = nullptr, UrlOpener opener = {});

    QLabel* Label1 = nullptr; // the heading
    QPlainTextEdit* mmoKnownIssues = nullptr;
    TLinkLabel* Label2 = nullptr; // more on the web site

public slots:
    void Label2Click();

private:
    UrlOpener open_;
};
