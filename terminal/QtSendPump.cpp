#include "QtSendPump.h"

#include <algorithm>

using Clock = SendQueue::Clock;

QtSendPump::QtSendPump(QObject* context, Write write, Failed failed, std::size_t bound)
    : context_(context), write_(std::move(write)), failed_(std::move(failed)), queue_(bound) {
    paceTimer_.setSingleShot(true);
    paceTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&paceTimer_, &QTimer::timeout, context_, [this] { writeFromLoop(); });
}

QtSendPump::~QtSendPump() { delete notifier_; }

void QtSendPump::attach(std::shared_ptr<const int> socket) {
    detach();
    if (!socket)
        return;
    socket_ = std::move(socket);
    notifier_ = new QSocketNotifier(*socket_, QSocketNotifier::Write, context_);
    notifier_->setEnabled(false);
    QObject::connect(notifier_, &QSocketNotifier::activated, context_, [this] { writeFromLoop(); });
}

// The notifier may be the one whose signal is running now (a write that failed closed the
// window), so it is deleted later; disabled, it watches nothing once the number is let go.
void QtSendPump::detach() {
    drop();
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_->disconnect();
        notifier_->deleteLater();
        notifier_ = nullptr;
    }
    socket_.reset();
}

void QtSendPump::drop() {
    ++drops_;
    const bool had = !queue_.empty();
    queue_.clear();
    paceTimer_.stop();
    if (notifier_)
        notifier_->setEnabled(false);
    if (had)
        notifyChanged();
}

void QtSendPump::send(std::string bytes) {
    const bool idle = queue_.empty();
    queue_.push(std::move(bytes));
    if (idle)
        writeNow();
    notifyChanged();
}

void QtSendPump::sendLines(std::string bytes, std::chrono::milliseconds gap) {
    const bool idle = queue_.empty();
    queue_.pushLines(std::move(bytes), gap);
    if (idle)
        writeNow();
    notifyChanged();
}

void QtSendPump::writeNow() {
    const unsigned drops = drops_;
    std::size_t turn = 0;
    try {
        while (turn < kTurnBytes) {
            const std::string_view bytes = queue_.ready(Clock::now());
            if (bytes.empty())
                break;
            const std::size_t n = write_(bytes.substr(0, kWriteBytes));
            if (drops != drops_)
                return;  // the write ended the session, and the close dropped the queue
            if (n == 0)
                break;
            queue_.taken(n, Clock::now());
            turn += n;
        }
    } catch (...) {
        drop();
        throw;
    }
    arm();
}

void QtSendPump::writeFromLoop() {
    try {
        writeNow();
    } catch (...) {
        if (failed_)
            failed_(std::current_exception());
    }
    notifyChanged();
}

// The notifier while bytes can go when the socket takes them; the timer while a paced line
// waits for its time; neither while nothing waits.
void QtSendPump::arm() {
    const auto now = Clock::now();
    const bool waiting = !queue_.empty();
    const bool paced = waiting && queue_.ready(now).empty();
    if (notifier_)
        notifier_->setEnabled(waiting && !paced);
    if (!paced) {
        paceTimer_.stop();
        return;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(queue_.due() - now).count();
    paceTimer_.start(int(std::max<long long>(ms, 1)));
}

void QtSendPump::notifyChanged() {
    if (changed)
        changed();
}
