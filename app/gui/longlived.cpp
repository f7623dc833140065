#include "app/gui/longlived.h"

#include <QLabel>
#include <QVBoxLayout>

TLongLivedWindow::TLongLivedWindow(const QString& objectName, const QString& caption, QWidget* owner)
    : QWidget(owner, Qt::Window) {
    setObjectName(objectName);
    setWindowTitle(caption);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(caption));
    resize(400, 300);
}
