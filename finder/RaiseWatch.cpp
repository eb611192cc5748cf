#include "RaiseWatch.h"

#include <QSocketNotifier>
#include <QWidget>

RaiseWatch::RaiseWatch(RaiseListener& listener, std::function<void()> raise) : listener_(listener) {
    listener_.OnRaise = std::move(raise);
    if (!listener_.listening())
        return;
    auto* incoming = new QSocketNotifier(listener_.fd(), QSocketNotifier::Read, &context_);
    QObject::connect(incoming, &QSocketNotifier::activated, &context_, [this] {
        const RaiseListener::Watch w = listener_.acceptWaiting();
        for (int fd : w.dropped)
            unwatch(fd);
        for (int fd : w.added)
            watch(fd);
    });
}

RaiseWatch::~RaiseWatch() { listener_.OnRaise = nullptr; }

void RaiseWatch::watch(int connection) {
    auto* n = new QSocketNotifier(connection, QSocketNotifier::Read, &context_);
    connections_[connection] = n;
    QObject::connect(n, &QSocketNotifier::activated, &context_, [this, connection] {
        if (listener_.readFrom(connection))
            unwatch(connection);
    });
}

// The listener has closed the socket already; the notifier may be the one whose signal runs.
void RaiseWatch::unwatch(int connection) {
    auto it = connections_.find(connection);
    if (it == connections_.end())
        return;
    it->second->setEnabled(false);
    it->second->deleteLater();
    connections_.erase(it);
}

void bringToFront(QWidget& window) {
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.show();
    window.raise();
    window.activateWindow();
}
