// tw_html2pdf INPUT.html OUTPUT.pdf [--title TEXT] [--pictures FOLDER]
// Prints the manual's HTML page (its pictures named relative to FOLDER, by default the page's
// own folder) into an A4 PDF through
// Qt's own text layout, so that no converter outside this build is needed.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>

#include <cstdio>

namespace {

// Loads every picture the page names, so that they do not depend on how Qt resolves paths.
void addPictures(QTextDocument& document, const QString& html, const QDir& folder) {
    static const QRegularExpression source(R"re(<img src="([^"]+)")re");
    for (auto it = source.globalMatch(html); it.hasNext();) {
        const QString address = it.next().captured(1);
        QImage image(folder.filePath(address));
        if (!image.isNull()) document.addResource(QTextDocument::ImageResource, QUrl(address), image);
    }
}

// Pictures wider than the text are shrunk to its width, keeping their proportions.
void fitPictures(QTextDocument& document, qreal width) {
    QTextCursor cursor(&document);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid() || !fragment.charFormat().isImageFormat()) continue;
            QTextImageFormat format = fragment.charFormat().toImageFormat();
            const QImage image =
                document.resource(QTextDocument::ImageResource, QUrl(format.name())).value<QImage>();
            if (image.isNull() || image.width() <= width) continue;
            format.setWidth(width);
            format.setHeight(image.height() * width / image.width());
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: tw_html2pdf INPUT.html OUTPUT.pdf [--title TEXT] [--pictures FOLDER]\n");
        return 2;
    }
    QFile input(args[1]);
    if (!input.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "tw_html2pdf: cannot read %s\n", qPrintable(args[1]));
        return 1;
    }
    const QString html = QString::fromUtf8(input.readAll());
    QString title;
    QDir pictures = QFileInfo(args[1]).absoluteDir();
    for (int i = 3; i + 1 < args.size(); i += 2) {
        if (args[i] == "--title")
            title = args[i + 1];
        else if (args[i] == "--pictures")
            pictures = QDir(args[i + 1]);
    }

    QPdfWriter writer(args[2]);
    writer.setTitle(title);
    writer.setCreator("Tarnwick");
    writer.setResolution(96); // pictures are screenshots: one pixel a point at 96 dpi
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(18, 16, 18, 16), QPageLayout::Millimeter));

    QTextDocument document;
    document.setDefaultFont(QFont("DejaVu Sans", 10));
    document.setBaseUrl(QUrl::fromLocalFile(pictures.absolutePath() + "/"));
    addPictures(document, html, pictures);
    document.setHtml(html);
    const QRectF page = writer.pageLayout().paintRectPixels(writer.resolution());
    document.setPageSize(page.size());
    fitPictures(document, page.width() - 8);
    document.print(&writer);
    return 0;
}
