#pragma once
// Runs the event loop without pauses until `done` holds or the time is up (QTest::qWaitFor
// sleeps between passes, which would leave datagrams unread at the socket changes of a run,
// and hold each chunk a reader thread hands over).
#include <QEventLoop>
#include <QObject>
#include <QTimer>

template <typename F>
bool waitUntil(F done, int timeoutMs = 10000) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(2);
    loop.exec();
    return done();
}
