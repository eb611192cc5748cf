#pragma once
// An application whose event handlers may throw: every uncaught error of a handler
// ends that handler, is shown once in the error box, and the message loop goes on.
#include <QApplication>
#include <functional>
#include <string>

class GuardedApplication : public QApplication {
public:
    // Receives the exception's message (CP932 bytes). The default shows the error box.
    using ErrorSink = std::function<void(const std::string& message)>;

    GuardedApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    void setErrorSink(ErrorSink sink) { sink_ = std::move(sink); }
    // Shows the error box: error icon, one OK button, titled with the program name.
    static void showErrorBox(const std::string& message);

private:
    ErrorSink sink_;
};

// Runs an event handler. An error it raises reaches the error box from the event loop
// itself (a queued rethrow), instead of unwinding through the toolkit's signal and key
// delivery code; connect every handler through it.
void reportingErrors(const std::function<void()>& handler);
