#include "guardedapp.h"

#include <QMessageBox>
#include <exception>

#include "errortext.h"
#include "qtext.h"

GuardedApplication::GuardedApplication(int& argc, char** argv)
    : QApplication(argc, argv), sink_(&GuardedApplication::showErrorBox) {}

bool GuardedApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        sink_(e.what());
    } catch (...) {
        sink_("Unknown exception");
    }
    return false;
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
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [e = std::current_exception()] { std::rethrow_exception(e); },
            Qt::QueuedConnection);
    }
}
