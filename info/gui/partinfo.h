#pragma once
// The offline reference window: partition types, the partition table, and the master boot
// record with the start-up sequence. Created once at start-up; closing only hides it, so it
// keeps its tab and scroll positions. The texts are the engine's (info/reference_texts.h).

#include <QWidget>

class QPlainTextEdit;
class QTabWidget;

class TfrmPartInfo : public QWidget {
    Q_OBJECT
public:
    explicit TfrmPartInfo(QWidget* owner = nullptr);

    QTabWidget* PageControl1 = nullptr;
    QWidget* tshPartitionTypes = nullptr;
    QWidget* tshPartTable = nullptr;
    QWidget* tshMBR = nullptr;
    QPlainTextEdit* Memo1 = nullptr; // partition types, monospaced
    QPlainTextEdit* Memo2 = nullptr; // partition table, the window's font
    QPlainTextEdit* Memo3 = nullptr; // master boot record, monospaced
};
