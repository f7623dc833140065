#pragma once
// The application object: an error that no handler caught is shown in a message box and the
// program goes on.

#include <QApplication>

#include <functional>
#include <string>

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // Where uncaught errors go; a message box unless replaced (tests record them instead).
    static void setErrorSink(std::function<void(const std::string&)> sink);
    static void reportError(const std::string& message);
};
