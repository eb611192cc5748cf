#pragma once
// An application whose event handlers may throw: every uncaught error of a handler
// ends that handler, is shown once in the error box, and the message loop goes on.
//
// The program ends when its last window has closed and no error is waiting to be shown:
// an error whose handler also closed the last window (a failed connect, say) still gets
// its box, with the loop running, and the program ends once the box is dismissed.
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
    // How many errors reached the sink so far.
    int errorsReported() const { return reported_; }

    // For reportingErrors: an error is on its way to the sink, so a quit must wait.
    void holdQuit() { ++held_; }
    void releaseQuit() { --held_; }

private:
    void report(const std::string& message);
    void quitWhenSettled();

    ErrorSink sink_;
    int reported_ = 0;
    int held_ = 0;            // errors queued or being shown; window thread only
    bool quitWanted_ = false;  // the last window has closed
};

// Runs an event handler. An error it raises reaches the error box from the event loop
// itself (a queued rethrow), instead of unwinding through the toolkit's signal and key
// delivery code; connect every handler through it.
void reportingErrors(const std::function<void()>& handler);
