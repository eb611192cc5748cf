#pragma once
// The reader thread's way into the window thread: each call is queued on the Qt event loop
// of the context object's thread. Calls still queued when the context goes away are
// dropped; the thread that waits on one is stopped first (the telnet component does so).
#include <QMetaObject>
#include <QObject>

#include "IdThread.h"

class QtWindowDispatcher : public TIdWindowDispatcher {
public:
    explicit QtWindowDispatcher(QObject* context) : context_(context) {}
    void Post(std::function<void()> call) override {
        QMetaObject::invokeMethod(context_, std::move(call), Qt::QueuedConnection);
    }

private:
    QObject* context_;
};
