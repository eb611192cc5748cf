#include "QtWindowDispatcher.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <exception>
#include <system_error>

QtWindowDispatcher::QtWindowDispatcher(QObject* context)
    : windowThread_(std::this_thread::get_id()), context_(context) {
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    notifier_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
    // With the context as receiver the calls stop running once the context is gone; the
    // notifier goes quiet then too, or the unread wake-up would keep the loop spinning.
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, context, [this] { drain(); });
    QObject::connect(context, &QObject::destroyed, notifier_.get(),
                     [n = notifier_.get()] { n->setEnabled(false); });
}

// Queued calls are freed unrun here, on the window thread; the notifier goes before its fd.
QtWindowDispatcher::~QtWindowDispatcher() {
    notifier_.reset();
    ::close(wakeFd_);
}

void QtWindowDispatcher::Post(std::function<void()> call) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        calls_.push_back(std::move(call));
    }
    wake();
}

void QtWindowDispatcher::RunOrPost(std::function<void()> call) {
    if (OnWindowThread())
        call();
    else
        Post(std::move(call));
}

// The counter only saturates if nobody drains for 2^64 posts, so a failed write loses
// nothing the next successful one would not report too.
void QtWindowDispatcher::wake() {
    const std::uint64_t one = 1;
    ssize_t n;
    do
        n = ::write(wakeFd_, &one, sizeof one);
    while (n < 0 && errno == EINTR);
}

// Runs the calls queued when the wake-up came; later ones wait for their own wake-up, so a
// busy poster cannot starve the window's other events. One call at a time is taken off under
// the lock, so a call that opens a nested event loop (a message box) may drain the rest from
// there. An error a call raises is raised again from the event loop, as a queued call's was,
// instead of unwinding through the notifier's signal; the calls after it still run.
void QtWindowDispatcher::drain() {
    std::uint64_t count;
    while (::read(wakeFd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
    std::size_t due;
    {
        std::lock_guard<std::mutex> guard(lock_);
        due = calls_.size();
    }
    for (; due > 0; --due) {
        std::function<void()> call;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (calls_.empty())
                break;
            call = std::move(calls_.front());
            calls_.pop_front();
        }
        try {
            call();
        } catch (...) {
            QMetaObject::invokeMethod(
                context_, [error = std::current_exception()] { std::rethrow_exception(error); },
                Qt::QueuedConnection);
        }
    }
}
