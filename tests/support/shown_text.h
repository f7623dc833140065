#pragma once
// What a label shows, for names that look like markup ("x<u>y  z.bin"): a label left to guess
// takes such a text as markup, whose tags vanish and whose runs of blanks collapse.

#include <QLabel>
#include <QTextDocument>

inline QString shownText(const QLabel* label) {
    const Qt::TextFormat f = label->textFormat();
    if (f == Qt::PlainText || (f == Qt::AutoText && !Qt::mightBeRichText(label->text())))
        return label->text();
    QTextDocument document;
    document.setHtml(label->text());
    return document.toPlainText();
}
