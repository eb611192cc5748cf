#include "LineAssembly.h"

#include <algorithm>

LineAssembly::LineAssembly(std::size_t byteLimit, std::size_t lineLimit)
    : byteLimit_(std::max<std::size_t>(byteLimit, 2)), lineLimit_(std::max<std::size_t>(lineLimit, 1)) {}

LineAssembly::Update LineAssembly::append(std::string_view chunk) {
    Update u;
    if (lines_.empty())
        lines_.emplace_back();
    u.firstChanged = lines_.size() - 1;

    const std::size_t n = chunk.size();
    std::size_t start = 0;
    while (start < n) {
        std::size_t end = chunk.find('\r', start);
        if (end == std::string_view::npos)
            end = n;
        lines_.back().append(chunk.substr(start, end - start));
        bytes_ += end - start;
        if (end == n)
            break;
        lines_.emplace_back();
        bytes_ += 1;
        start = end + 1;
        if (start < n && chunk[start] == '\n')
            ++start;
        // Bound as we go, so a chunk of many short lines never holds more than the limit.
        if (lines_.size() > lineLimit_ || bytes_ > byteLimit_)
            enforceBound(u);
    }
    enforceBound(u);
    return u;
}

LineAssembly::Update LineAssembly::merge(Update first, Update then) {
    // Lines `then` drops beyond those `first` left unchanged were changed lines, which
    // the merged update replaces anyway.
    const std::size_t alsoDropped = std::min(then.dropped, first.firstChanged);
    Update u;
    u.dropped = first.dropped + alsoDropped;
    u.firstChanged = std::min(then.firstChanged, first.firstChanged - alsoDropped);
    return u;
}

void LineAssembly::enforceBound(Update& u) {
    while (lines_.size() > 1 && (lines_.size() > lineLimit_ || bytes_ > byteLimit_)) {
        bytes_ -= lines_.front().size() + 1;
        lines_.pop_front();
        // An unchanged line the view shows goes from its front; a changed one it would
        // have replaced anyway, so it is simply never shown.
        if (u.firstChanged > 0) {
            --u.firstChanged;
            ++u.dropped;
        }
    }
    std::string& cur = lines_.back();
    if (cur.size() <= byteLimit_)
        return;
    // A single line longer than the whole scrollback: keep its newer half, cut at a
    // character boundary so no double-byte character is split.
    std::size_t keepFrom = cur.size() - byteLimit_ / 2;
    std::size_t i = 0;
    while (i < keepFrom)
        i += isLeadByte(static_cast<unsigned char>(cur[i])) ? 2 : 1;
    i = std::min(i, cur.size());
    cur.erase(0, i);
    bytes_ -= i;
    u.firstChanged = std::min(u.firstChanged, lines_.size() - 1);
}

std::string displayBytes(std::string_view line, bool current) {
    std::string out;
    out.reserve(line.size());
    const std::size_t n = line.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(line[i]);
        if (b == 0)
            continue;
        if (isLeadByte(b)) {
            if (i + 1 == n) {
                if (!current)
                    out.push_back(line[i]);
                break;
            }
            out.push_back(line[i]);
            out.push_back(line[++i]);
            continue;
        }
        out.push_back(line[i]);
    }
    return out;
}
