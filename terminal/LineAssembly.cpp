#include "LineAssembly.h"

#include <algorithm>

namespace {

std::size_t countLf(std::string_view s) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n')); }

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

} // namespace

LineAssembly::LineAssembly(std::size_t byteLimit, std::size_t lineLimit)
    : byteLimit_(std::max<std::size_t>(byteLimit, 2)), lineLimit_(std::max<std::size_t>(lineLimit, 1)) {}

LineAssembly::~LineAssembly() = default;

void LineAssembly::setEncoding(Encoding e) {
    if (decoder_)
        decoder_->setEncoding(e);
    else
        decoder_ = std::make_unique<TextDecoder>(e);
}

std::optional<Encoding> LineAssembly::encoding() const {
    if (!decoder_)
        return std::nullopt;
    return decoder_->encoding();
}

// Applies one change to the per-chunk update and to the one the view has yet to take.
template <class F>
static void both(LineAssembly::Update& u, LineAssembly::Update& pending, F f) {
    f(u);
    f(pending);
}

LineAssembly::Update LineAssembly::append(std::string_view chunk) {
    if (lines_.empty()) {
        lines_.emplace_back();
        rows_ = 1;
    }
    Update u;
    u.firstChanged = lines_.size() - 1;
    u.kept = lines_.back().size();
    if (decoder_) {
        decoded_.clear();
        decoder_->decode(chunk, decoded_);
        chunk = decoded_;
    }

    const std::size_t n = chunk.size();
    std::size_t start = 0;
    while (start < n) {
        std::size_t end = chunk.find('\r', start);
        if (end == std::string_view::npos)
            end = n;
        appendText(chunk.substr(start, end - start));
        if (end == n)
            break;
        endLine();
        start = end + 1;
        if (start < n && chunk[start] == '\n')
            ++start;
        // Bound as we go, so a chunk of many short lines never holds more than the limit.
        if (rows_ > lineLimit_ || bytes_ > byteLimit_)
            enforceBound(u);
    }
    enforceBound(u);
    if (observer_)
        observeRows();
    return u;
}

void LineAssembly::setLineObserver(LineObserver observer) {
    observer_ = std::move(observer);
    completed_.clear();
    observed_ = scanned_ = 0;
}

void LineAssembly::observeRows() {
    const std::string& cur = lines_.back();
    const std::size_t lf = std::string_view(cur).substr(scanned_).rfind('\n');
    if (lf != std::string_view::npos) {
        const std::size_t end = scanned_ + lf + 1;
        completed_.append(cur, observed_, end - observed_);
        observed_ = end;
    }
    scanned_ = cur.size();
    if (!completed_.empty()) {
        observer_(completed_);
        completed_.clear();
    }
}

void LineAssembly::appendText(std::string_view segment) {
    std::string& line = lines_.back();
    const std::size_t before = line.size();
    if (decoder_ && segment.find('\0') != std::string_view::npos) {
        for (char c : segment)
            if (c != '\0')
                line.push_back(c);
    } else {
        line.append(segment);
    }
    bytes_ += line.size() - before;
    rows_ += countLf(segment);
}

void LineAssembly::endLine() {
    if (observer_) {
        completed_.append(lines_.back(), observed_);
        completed_ += '\n';
    }
    observed_ = scanned_ = 0;
    lines_.emplace_back();
    bytes_ += 1;
    rows_ += 1;
}

LineAssembly::Update LineAssembly::takeUpdate() {
    Update u = pending_;
    pending_ = Update{};
    if (!lines_.empty()) {
        pending_.firstChanged = lines_.size() - 1;
        pending_.kept = lines_.back().size();
    }
    return u;
}

LineAssembly::Update LineAssembly::merge(Update first, Update then) {
    // Lines `then` drops beyond those `first` left unchanged were changed lines, which
    // the merged update replaces anyway.
    const std::size_t alsoDropped = std::min(then.dropped, first.firstChanged);
    Update u;
    u.dropped = first.dropped + alsoDropped;
    const std::size_t firstLine = first.firstChanged - alsoDropped;
    u.firstChanged = std::min(then.firstChanged, firstLine);
    // The view keeps its part of `first`'s line only where `then` did not touch that line.
    if (then.dropped <= first.firstChanged && then.firstChanged > firstLine) {
        u.kept = first.kept;
        u.cutRows = first.cutRows;
    }
    return u;
}

void LineAssembly::enforceBound(Update& u) {
    while (lines_.size() > 1 && (rows_ > lineLimit_ || bytes_ > byteLimit_)) {
        bytes_ -= lines_.front().size() + 1;
        rows_ -= countLf(lines_.front()) + 1;
        lines_.pop_front();
        // An unchanged line the view shows goes from its front; a changed one it would
        // have replaced anyway, so it is simply never shown.
        both(u, pending_, [](Update& x) {
            if (x.firstChanged > 0) {
                --x.firstChanged;
                ++x.dropped;
            } else {
                x.kept = 0;  // the view's last line itself is gone
                x.cutRows = 0;
            }
        });
    }
    if (bytes_ > byteLimit_ || rows_ > lineLimit_)
        cutCurrentLine(u);
}

// A single line beyond the whole scrollback keeps its newer part, at most half the bound:
// cut behind an LF where there is one, so its oldest rows go whole; else at a character
// boundary, so no character is split.
void LineAssembly::cutCurrentLine(Update& u) {
    std::string& cur = lines_.back();  // the only line left
    std::size_t need = 0;
    if (bytes_ > byteLimit_)
        need = cur.size() - byteLimit_ / 2;
    if (rows_ > lineLimit_) {
        std::size_t at = 0;
        for (std::size_t k = rows_ - std::max<std::size_t>(lineLimit_ / 2, 1); k > 0; --k) {
            const std::size_t lf = cur.find('\n', at);
            if (lf == std::string::npos)
                break;
            at = lf + 1;
        }
        need = std::max(need, at);
    }
    std::size_t cut;
    bool atRow = false;
    const std::size_t lf = cur.find('\n', need > 0 ? need - 1 : 0);
    if (lf != std::string::npos) {
        cut = lf + 1;
        atRow = true;
    } else if (decoder_) {
        cut = need;
        while (cut < cur.size() && (static_cast<unsigned char>(cur[cut]) & 0xC0) == 0x80)
            ++cut;
    } else {
        cut = 0;
        while (cut < need)
            cut += isLeadByte(static_cast<unsigned char>(cur[cut])) ? 2 : 1;
        cut = std::min(cut, cur.size());
    }
    const std::size_t cutRows = countLf(std::string_view(cur).substr(0, cut));
    if (observer_ && cut > observed_)
        completed_.append(cur, observed_, cut - observed_);
    observed_ = observed_ > cut ? observed_ - cut : 0;
    scanned_ = scanned_ > cut ? scanned_ - cut : 0;
    cur.erase(0, cut);
    bytes_ -= cut;
    rows_ -= cutRows;
    both(u, pending_, [&](Update& x) {
        x.firstChanged = 0;
        if (x.kept > 0 && atRow && cut < x.kept) {
            x.kept -= cut;
            x.cutRows += cutRows;
        } else {
            x.kept = 0;
            x.cutRows = 0;
        }
    });
}

std::string LineAssembly::unfinishedLine() const {
    std::string line = lines_.empty() ? std::string() : lines_.back().substr(observed_);
    if (decoder_ && decoder_->holding())
        line += kReplacement;
    return line;
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
