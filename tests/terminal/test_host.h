#pragma once
// A scripted telnet host on loopback for window tests: it sends what the test hands it,
// records every byte it receives, and ends the connection when the test says so.
#include <sys/socket.h>

#include <QTest>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "LoopbackServer.h"
#include "guardedapp.h"

class TestHost {
public:
    TestHost() {
        server_ = std::make_unique<LoopbackServer>([this](int fd) { serve(fd); });
    }
    ~TestHost() {
        {
            std::lock_guard<std::mutex> l(m_);
            closing_ = true;
        }
        cv_.notify_all();
        const int fd = fd_.load();
        if (fd >= 0)
            ::shutdown(fd, SHUT_RDWR);
        server_.reset();
    }
    std::string port() const { return std::to_string(server_->Port()); }
    void send(std::string bytes) {
        {
            std::lock_guard<std::mutex> l(m_);
            out_.push_back(std::move(bytes));
        }
        cv_.notify_all();
    }
    // The host ends the connection in order, after everything sent before.
    void close() {
        {
            std::lock_guard<std::mutex> l(m_);
            closing_ = true;
        }
        cv_.notify_all();
    }
    std::string received() {
        std::lock_guard<std::mutex> l(m_);
        return in_;
    }
    // Runs the event loop until `count` bytes have arrived (or 5 s have passed).
    std::string receive(std::size_t count) {
        (void)QTest::qWaitFor([&] { return received().size() >= count; }, 5000);
        return received();
    }

private:
    void serve(int fd) {
        fd_ = fd;
        std::thread reader([this, fd] {
            char buf[4096];
            for (;;) {
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                std::lock_guard<std::mutex> l(m_);
                in_.append(buf, static_cast<std::size_t>(n));
            }
        });
        for (;;) {
            std::unique_lock<std::mutex> l(m_);
            cv_.wait(l, [&] { return !out_.empty() || closing_; });
            if (out_.empty())
                break;
            std::string s = std::move(out_.front());
            out_.pop_front();
            l.unlock();
            SendAll(fd, s);
        }
        ::shutdown(fd, SHUT_WR);
        reader.join();
        fd_ = -1;
    }

    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::string> out_;
    std::string in_;
    bool closing_ = false;
    std::atomic<int> fd_{-1};
    std::unique_ptr<LoopbackServer> server_;
};

// Errors the application would show in its error box.
struct ErrorBoxes {
    std::vector<std::string> shown;
    ErrorBoxes() {
        app()->setErrorSink([this](const std::string& m) { shown.push_back(m); });
    }
    ~ErrorBoxes() {
        app()->setErrorSink([](const std::string& m) { ADD_FAILURE() << "error box: " << m; });
    }
    static GuardedApplication* app() { return static_cast<GuardedApplication*>(QCoreApplication::instance()); }
};
