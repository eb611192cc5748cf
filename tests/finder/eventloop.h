#pragma once
// Runs the event loop until `done` holds or the time is up; what is watched on the loop
// (socket notifiers, ended children) gets its turn meanwhile.
#include <QEventLoop>
#include <QTimer>

template <typename F>
bool spinUntil(F done, int timeoutMs) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(5);
    loop.exec();
    return done();
}
