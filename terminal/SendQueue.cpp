#include "SendQueue.h"

void SendQueue::push(std::string bytes) {
    if (bytes.empty())
        return;
    size_ += bytes.size();
    // Keys typed one by one become one run, so a backlog of them goes out in one write.
    if (!runs_.empty()) {
        Run& back = runs_.back();
        if (back.gap == Clock::duration::zero() && back.bytes.size() - back.at < kJoinBelow) {
            back.bytes.append(bytes);
            return;
        }
    }
    runs_.push_back({std::move(bytes), 0, {}});
}

void SendQueue::pushLines(std::string bytes, Clock::duration gap) {
    if (gap <= Clock::duration::zero()) {
        push(std::move(bytes));
        return;
    }
    if (bytes.empty())
        return;
    size_ += bytes.size();
    runs_.push_back({std::move(bytes), 0, gap});
}

std::size_t SendQueue::lineEnd(const Run& r) {
    // The socket took a line's CR but not its LF: the LF is what is left of that line.
    if (r.at > 0 && r.bytes[r.at - 1] == '\r' && r.bytes[r.at] == '\n')
        return r.at + 1;
    const std::size_t cr = r.bytes.find('\r', r.at);
    if (cr == std::string::npos)
        return r.bytes.size();
    const std::size_t end = cr + 1;
    return end < r.bytes.size() && r.bytes[end] == '\n' ? end + 1 : end;
}

std::string_view SendQueue::ready(Clock::time_point now) const {
    if (runs_.empty())
        return {};
    // Whatever follows a paced line waits for its gap, typed bytes too: the host is still
    // taking in that line. A line cut short by a full socket goes on at once, as its start
    // was due already.
    if (now < lineDue_)
        return {};
    const Run& r = runs_.front();
    const std::string_view rest = std::string_view(r.bytes).substr(r.at);
    if (r.gap == Clock::duration::zero())
        return rest;
    return rest.substr(0, lineEnd(r) - r.at);
}

void SendQueue::taken(std::size_t count, Clock::time_point now) {
    if (runs_.empty() || count == 0)
        return;
    Run& r = runs_.front();
    const bool paced = r.gap != Clock::duration::zero();
    const std::size_t end = paced ? lineEnd(r) : r.bytes.size();
    r.at += count;
    size_ -= count;
    if (paced && r.at >= end)
        lineDue_ = now + r.gap;
    if (r.at >= r.bytes.size())
        runs_.pop_front();
}

void SendQueue::clear() {
    runs_.clear();
    size_ = 0;
    lineDue_ = {};
}
