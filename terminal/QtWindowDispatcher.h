#pragma once
// The reader thread's way into the window thread. Calls are queued under a plain mutex and
// an eventfd wakes the window thread, whose socket notifier drains the queue; every step of
// the hand-off is then visible to a thread checker (Qt's own queued calls synchronise inside
// Qt, where ThreadSanitizer cannot see). Calls still queued when the dispatcher or its
// context goes away are dropped; a thread waiting on one is stopped first (the telnet
// component does so).
#include <QObject>
#include <QSocketNotifier>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "IdThread.h"

class QtWindowDispatcher : public TIdWindowDispatcher {
public:
    // Make it on the context's thread: that is the window thread whose loop runs the calls.
    explicit QtWindowDispatcher(QObject* context);
    ~QtWindowDispatcher() override;
    QtWindowDispatcher(const QtWindowDispatcher&) = delete;
    QtWindowDispatcher& operator=(const QtWindowDispatcher&) = delete;

    // Any thread: queues call for the window thread and wakes it.
    void Post(std::function<void()> call) override;
    // Runs call at once on the window thread, posts it from any other.
    void RunOrPost(std::function<void()> call);
    bool OnWindowThread() const { return std::this_thread::get_id() == windowThread_; }

private:
    void drain();
    void wake();

    const std::thread::id windowThread_;
    QObject* context_;
    int wakeFd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::mutex lock_;  // guards calls_ between the posting threads and the window thread
    std::deque<std::function<void()>> calls_;
};
