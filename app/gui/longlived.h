#pragma once
// The windows created once at start-up and shown from the menus. Their contents arrive with
// their own features; until then each shows its title.

#include <QWidget>

class TLongLivedWindow : public QWidget {
    Q_OBJECT
public:
    TLongLivedWindow(const QString& objectName, const QString& caption, QWidget* owner);
};
