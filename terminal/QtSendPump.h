#pragma once
// The window thread's sender: owns the connection's send queue and writes it whenever the
// socket can take bytes, from a write-readiness notifier that is on only while bytes wait
// (and a timer while a paced line waits for its time). Nothing here ever waits for the host,
// so the window keeps painting and the reader keeps handing over what arrives.
//
// The pump is the queue's one owner: drop() is the one way waiting bytes are thrown away. The
// window's close (after a disconnect too) detaches the pump, which drops them; a write that
// fails drops them itself.
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "SendQueue.h"

class QtSendPump {
public:
    // Writes what the socket takes now and returns how much that was (0: its buffer is full);
    // raises when the send fails or the connection is closed.
    using Write = std::function<std::size_t(std::string_view bytes)>;
    // An error of a write the event loop made (not one of send()'s own); the queue is dropped.
    using Failed = std::function<void(std::exception_ptr error)>;

    QtSendPump(QObject* context, Write write, Failed failed, std::size_t bound = SendQueue::kDefaultBound);
    ~QtSendPump();
    QtSendPump(const QtSendPump&) = delete;
    QtSendPump& operator=(const QtSendPump&) = delete;

    // Watches this socket from now on (TIdSocketHandle::KeepOpen keeps its number ours).
    void attach(std::shared_ptr<const int> socket);
    // Drops what waits and stops watching the socket.
    void detach();
    // Forgets every waiting byte.
    void drop();

    // Queues bytes. When nothing was waiting they are written at once, in one write, and an
    // error of that write is raised here; what the socket did not take waits.
    void send(std::string bytes);
    // The same for a paste whose lines go at least gap apart.
    void sendLines(std::string bytes, std::chrono::milliseconds gap);

    bool fits(std::size_t count) const { return queue_.fits(count); }
    std::size_t waiting() const { return queue_.size(); }
    std::size_t bound() const { return queue_.bound(); }
    // Called whenever the number of waiting bytes has changed.
    std::function<void()> changed;

private:
    void writeNow();
    void writeFromLoop();
    void arm();
    void notifyChanged();

    // One write call hands the socket at most this; one turn of the loop writes at most
    // kTurnBytes before it lets other events run.
    static constexpr std::size_t kWriteBytes = 256 * 1024;
    static constexpr std::size_t kTurnBytes = 1024 * 1024;

    QObject* context_;
    Write write_;
    Failed failed_;
    SendQueue queue_;
    std::shared_ptr<const int> socket_;
    QSocketNotifier* notifier_ = nullptr;  // a child of the context; it goes before socket_ does
    QTimer paceTimer_;
    unsigned drops_ = 0;  // a write that dropped the queue under us (a close) is seen by this
};
