#pragma once
// The window thread's side of the raise channel: socket notifiers drive the listener, and
// a complete request runs the injected raise.
#include <QObject>
#include <functional>
#include <map>

#include "RaiseChannel.h"

class QSocketNotifier;
class QWidget;

class RaiseWatch {
public:
    // Nothing is watched when the listener does not listen.
    RaiseWatch(RaiseListener& listener, std::function<void()> raise);
    ~RaiseWatch();
    RaiseWatch(const RaiseWatch&) = delete;
    RaiseWatch& operator=(const RaiseWatch&) = delete;

private:
    void watch(int connection);
    void unwatch(int connection);

    RaiseListener& listener_;
    QObject context_;  // parent of every notifier, so they go with the watch
    std::map<int, QSocketNotifier*> connections_;
};

// Shows the window in front, restored and active, as far as the desktop lets a program
// bring itself forward.
void bringToFront(QWidget& window);
