#include "LineAssembly.h"

#include <algorithm>

#include "CharWidth.h"

namespace {

std::size_t countLf(std::string_view s) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n')); }

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

} // namespace

LineAssembly::LineAssembly(std::size_t byteLimit, std::size_t lineLimit)
    : byteLimit_(std::max<std::size_t>(byteLimit, 2)), lineLimit_(std::max<std::size_t>(lineLimit, 1)) {}

LineAssembly::~LineAssembly() = default;

void LineAssembly::setEncoding(Encoding e) {
    if (decoder_) {
        decoder_->setEncoding(e);
    } else {
        decoder_ = std::make_unique<TextDecoder>(e);
        if (!lines_.empty()) {
            row_.start(lines_.back(), runs_.back());  // what came before stays as it is
            counted_ = lines_.back().size();
        }
    }
    row_.setRule(e == Encoding::Utf8 ? WidthRule::Unicode : WidthRule::Japanese);
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
    if (lines_.empty())
        newLine();
    Update u;
    u.firstChanged = lines_.size() - 1;
    u.kept = lines_.back().size();
    chunkUpdate_ = &u;
    if (decoder_) {
        decoded_.clear();
        decoder_->decode(chunk, decoded_);
        appendConsole(decoded_);
    } else {
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
            boundAsWeGo();
        }
    }
    settle();
    enforceBound(u);
    if (observer_)
        observeRows();
    chunkUpdate_ = nullptr;
    return u;
}

// One LF directly behind a CR of the chunk is dropped: the text goes to the escape stage
// up to each such CR, and on behind its LF.
void LineAssembly::appendConsole(std::string_view text) {
    std::size_t from = 0;
    for (std::size_t cr; (cr = text.find("\r\n", from)) != std::string_view::npos; from = cr + 2)
        parser_.feed(text.substr(from, cr + 1 - from), *this);
    parser_.feed(text.substr(from), *this);
}

void LineAssembly::print(std::string_view utf8) { row_.print(utf8, attr_); }

void LineAssembly::control(char c) {
    switch (c) {
    case '\r': endLine(); boundAsWeGo(); break;
    case '\n': endRow(); boundAsWeGo(); break;
    case '\b': row_.left(1); break;
    case '\t': row_.tab(attr_); break;
    case '\a': ++bells_; break;
    default: break;  // NUL and the other controls show nothing
    }
}

void LineAssembly::csi(const Csi& seq) {
    if (!seq.plain())
        return;
    switch (seq.final) {
    case 'C': row_.right(static_cast<std::size_t>(seq.param(0, 1))); break;
    case 'D': row_.left(static_cast<std::size_t>(seq.param(0, 1))); break;
    case 'K':
    case 'J': {
        // Below the current line there is nothing: erasing the screen from the write
        // position on (or up to it) erases within the line.
        const int which = seq.param(0, 0);
        if (which == 0)
            row_.eraseRight();
        else if (which == 1)
            row_.eraseLeft();
        else if (seq.final == 'K')
            row_.eraseAll();
        else
            freshPage();
        break;
    }
    case 'm': attr_ = applySgr(attr_, seq); break;
    default: break;  // cursor addressing and the rest: not modelled
    }
}

void LineAssembly::escape(char intermediate, char final) {
    if (intermediate == 0 && final == 'c') {  // full reset
        attr_ = attr::kPlain;
        freshPage();
    }
}

// The page starts with a line of its own; what the current line holds stays above it.
void LineAssembly::freshPage() {
    settle();
    if (!lines_.back().empty() || row_.columns() > 0) {
        endLine();
        boundAsWeGo();
    }
    pageLine_ = linesDropped_ + lines_.size() - 1;
    ++pages_;
}

std::optional<std::size_t> LineAssembly::pageTop() const {
    if (pages_ == 0 || pageLine_ < linesDropped_)
        return std::nullopt;
    return pageLine_ - linesDropped_;
}

// Brings the current line's text in line with the row being written, and the bound's
// count and the updates with the text.
void LineAssembly::settle() {
    if (!decoder_ || lines_.empty())
        return;
    std::string& cur = lines_.back();
    const std::size_t stale = row_.staleFrom();
    if (stale != std::string::npos) {
        const std::size_t current = lines_.size() - 1;
        auto erase = [&](Update& x) {
            if (x.firstChanged != current || stale >= x.kept)
                return;
            x.erased += utf16Length(std::string_view(cur).substr(stale, x.kept - stale));
            x.kept = stale;
            if (x.kept == 0)
                x.erased = x.cutRows = x.cutUnits = 0;
        };
        if (chunkUpdate_)
            erase(*chunkUpdate_);
        erase(pending_);
        row_.render();
    }
    bytes_ = bytes_ - counted_ + cur.size();
    counted_ = cur.size();
}

// Bound as we go, so a chunk of many short lines never holds more than the limit.
void LineAssembly::boundAsWeGo() {
    if (rows_ > lineLimit_ || bytes_ > byteLimit_)
        enforceBound(*chunkUpdate_);
}

void LineAssembly::setLineObserver(LineObserver observer) {
    observer_ = std::move(observer);
    completed_.clear();
    observed_ = scanned_ = 0;
}

void LineAssembly::observeRows() {
    if (!decoder_) {
        // Raw lines: the rows a chunk completed are found by their LF.
        const std::string& cur = lines_.back();
        const std::size_t lf = std::string_view(cur).substr(scanned_).rfind('\n');
        if (lf != std::string_view::npos) {
            const std::size_t end = scanned_ + lf + 1;
            completed_.append(cur, observed_, end - observed_);
            observed_ = end;
        }
        scanned_ = cur.size();
    }
    if (!completed_.empty()) {
        observer_(completed_);
        completed_.clear();
    }
}

// Raw lines: the segment as it came.
void LineAssembly::appendText(std::string_view segment) {
    lines_.back().append(segment);
    bytes_ += segment.size();
    rows_ += countLf(segment);
}

void LineAssembly::newLine() {
    lines_.emplace_back();
    runs_.emplace_back();
    rows_ += 1;
    counted_ = 0;
    if (decoder_)
        row_.start(lines_.back(), runs_.back());
}

void LineAssembly::endLine() {
    settle();
    if (observer_) {
        completed_.append(lines_.back(), observed_);
        completed_ += '\n';
    }
    observed_ = scanned_ = 0;
    bytes_ += 1;
    newLine();
}

// A lone LF: the row is final, and a new one starts within the line.
void LineAssembly::endRow() {
    settle();
    std::string& cur = lines_.back();
    cur += '\n';
    if (observer_)
        completed_.append(cur, observed_);
    observed_ = cur.size();
    bytes_ += 1;
    counted_ += 1;
    rows_ += 1;
    row_.start(cur, runs_.back());
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

void LineAssembly::holdBack(std::size_t line, std::size_t shownBytes) {
    pending_ = Update{};
    pending_.firstChanged = line;
    pending_.kept = shownBytes;
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
        u.cutUnits = first.cutUnits;
        u.erased = first.erased;
    }
    return u;
}

void LineAssembly::enforceBound(Update& u) {
    settle();
    while (lines_.size() > 1 && (rows_ > lineLimit_ || bytes_ > byteLimit_)) {
        bytes_ -= lines_.front().size() + 1;
        rows_ -= countLf(lines_.front()) + 1;
        lines_.pop_front();
        runs_.pop_front();
        ++linesDropped_;
        // An unchanged line the view shows goes from its front; a changed one it would
        // have replaced anyway, so it is simply never shown.
        both(u, pending_, [](Update& x) {
            if (x.firstChanged > 0) {
                --x.firstChanged;
                ++x.dropped;
            } else {
                x.kept = 0;  // the view's last line itself is gone
                x.cutRows = x.cutUnits = x.erased = 0;
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
    // Cut within one row: the view takes the text from the front of what it shows.
    const std::size_t cutUnits = !atRow && cutRows == 0 ? utf16Length(std::string_view(cur).substr(0, cut)) : 0;
    if (observer_ && cut > observed_)
        completed_.append(cur, observed_, cut - observed_);
    observed_ = observed_ > cut ? observed_ - cut : 0;
    scanned_ = scanned_ > cut ? scanned_ - cut : 0;
    cur.erase(0, cut);
    dropRunsFront(runs_.back(), cut);
    if (decoder_) {
        row_.cutFront(cut);
        counted_ -= cut;
    }
    bytes_ -= cut;
    rows_ -= cutRows;
    both(u, pending_, [&](Update& x) {
        x.firstChanged = 0;
        if (x.kept > 0 && atRow && cut < x.kept && x.cutUnits == 0) {
            x.kept -= cut;
            x.cutRows += cutRows;
        } else if (x.kept > 0 && !atRow && cutRows == 0 && cut < x.kept && decoder_) {
            x.kept -= cut;
            x.cutUnits += cutUnits;
        } else {
            x.kept = 0;
            x.cutRows = x.cutUnits = x.erased = 0;
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
