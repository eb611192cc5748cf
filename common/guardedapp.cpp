#include "guardedapp.h"

#include <QMessageBox>
#include <QWindow>
#include <exception>

#include "errortext.h"
#include "qtext.h"

GuardedApplication::GuardedApplication(int& argc, char** argv)
    : QApplication(argc, argv), sink_(&GuardedApplication::showErrorBox) {
    // Qt would quit at once, and a box shown after that returns without being seen.
    setQuitOnLastWindowClosed(false);
    connect(this, &QGuiApplication::lastWindowClosed, this, [this] {
        quitWanted_ = true;
        // After the handler that closed the window has returned, and so has queued its error.
        QMetaObject::invokeMethod(this, [this] { quitWhenSettled(); }, Qt::QueuedConnection);
    });
}

bool GuardedApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        report(e.what());
    } catch (...) {
        report("Unknown exception");
    }
    return false;
}

void GuardedApplication::report(const std::string& message) {
    ++reported_;
    ++held_;
    sink_(message);
    --held_;
    quitWhenSettled();
}

void GuardedApplication::quitWhenSettled() {
    if (!quitWanted_ || held_ > 0)
        return;
    // A window shown since (a box, a new window) keeps the program going.
    for (QWindow* w : topLevelWindows())
        if (w->isVisible())
            return;
    quit();
}

void GuardedApplication::showErrorBox(const std::string& message) {
    QMessageBox box(QMessageBox::Critical, applicationName(), toQ(appErrorText(message)),
                    QMessageBox::Ok);
    box.exec();
}

void reportingErrors(const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        auto* app = dynamic_cast<GuardedApplication*>(QCoreApplication::instance());
        if (app)
            app->holdQuit();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [app, e = std::current_exception()] {
                // Released before the rethrow: notify holds the quit itself while it shows it.
                if (app)
                    app->releaseQuit();
                std::rethrow_exception(e);
            },
            Qt::QueuedConnection);
    }
}
