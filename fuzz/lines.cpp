// Any chunks through the line assembly, once with a small scrollback bound and once
// without one. The bound holds, the unbounded lines give back the text, the bounded lines
// are the newest ones (each the tail of its whole line, cut between characters), and a
// view that follows the updates shows what the assembly holds.
// The same chunks read as a console reads them (decoded, escape sequences carried out):
// cut byte by byte instead they give the same screen; no control character but HT is
// shown; the bound holds and a view that follows the updates (taking back overwritten
// text) shows the lines. And a stream of text, BS, CSI C/D/K, HT, SGR and line ends made
// from the input gives the lines and attributes of a plain model of a console row. A view
// that shows a few bytes per refresh loses no text and catches up; the lines cut into
// display blocks of a few columns keep every character whole.
#include <algorithm>
#include <deque>
#include <vector>

#include "CharWidth.h"
#include "DisplayPieces.h"
#include "LineAssembly.h"
#include "input.h"
#include "props.h"

namespace fuzzprops {
namespace {

// Start offsets of the characters of a code page 932 line.
std::vector<bool> charStarts(std::string_view line) {
    std::vector<bool> starts(line.size() + 1, false);
    std::size_t i = 0;
    while (i < line.size()) {
        starts[i] = true;
        i += isLeadByte(static_cast<unsigned char>(line[i])) ? 2 : 1;
    }
    starts[std::min(i, line.size())] = true;
    return starts;
}

void follow(std::deque<std::string>& view, const LineAssembly& a, LineAssembly::Update u) {
    for (std::size_t i = 0; i < u.dropped && !view.empty(); ++i) view.pop_front();
    view.resize(std::min(view.size(), u.firstChanged));
    for (std::size_t i = u.firstChanged; i < a.lines().size(); ++i) view.push_back(a.lines()[i]);
}

// A shown line never ends in half a character; the current line holds a lone lead byte back.
std::string checkShown(const std::string& line, bool current) {
    const std::string shownBytes = displayBytes(line, current);
    std::size_t i = 0;
    while (i < shownBytes.size()) {
        const bool lead = isLeadByte(static_cast<unsigned char>(shownBytes[i]));
        if (lead && i + 1 == shownBytes.size() && current) return "current line shows half a character";
        i += lead ? 2 : 1;
    }
    std::string noNul;
    for (char c : line)
        if (c != '\0') noNul += c;
    // Every byte but a NUL is shown; a NUL is shown only as the second byte of a character.
    if (shownBytes.size() + (current ? 1 : 0) < noNul.size() || shownBytes.size() > line.size())
        return "a line shows " + std::to_string(shownBytes.size()) + " of its " + std::to_string(line.size()) + " bytes";
    return "";
}

// ---- console reading ----

struct Screen {
    std::vector<std::string> lines;
    std::vector<Runs> runs;
    std::size_t bells, pages, caret;
    std::optional<std::size_t> top;
    bool operator==(const Screen&) const = default;
};

Screen screenOf(const LineAssembly& a) {
    Screen s{std::vector<std::string>(a.lines().begin(), a.lines().end()), {}, a.bells(), a.pages(),
             a.unitsAfterCaret(), a.pageTop()};
    for (std::size_t i = 0; i < a.lines().size(); ++i) s.runs.push_back(a.runs(i));
    return s;
}

// Takes off the front of the view's last line what an update cuts there: whole rows, then
// UTF-16 units of the row that stays.
std::string cutFront(std::string& last, const LineAssembly::Update& u) {
    for (std::size_t r = 0; r < u.cutRows; ++r) {
        const std::size_t lf = last.find('\n');
        if (lf == std::string::npos) return "an update cuts rows the view does not have";
        last.erase(0, lf + 1);
    }
    for (std::size_t units = 0; units < u.cutUnits;) {
        if (last.empty() || last[0] == '\n') return "an update cuts text the view does not have";
        const std::size_t n = utf8Length(static_cast<unsigned char>(last[0]));
        units += utf16Length(std::string_view(last).substr(0, n));
        last.erase(0, n);
    }
    return "";
}

// A view that applies the updates as the window does, taking back `erased` UTF-16 units.
std::string followConsole(std::deque<std::string>& view, const LineAssembly& a, LineAssembly::Update u) {
    const auto& all = a.lines();
    if (u.dropped > view.size()) return "an update drops lines the view does not have";
    view.erase(view.begin(), view.begin() + static_cast<long>(u.dropped));
    if (u.kept > 0) {
        if (view.size() != u.firstChanged + 1) return "an update keeps a line the view does not end with";
        std::string& last = view.back();
        if (std::string wrong = cutFront(last, u); !wrong.empty()) return wrong;
        if (u.kept > last.size() || utf16Length(std::string_view(last).substr(u.kept)) != u.erased)
            return "an update takes back other text than the view has";
        last.resize(u.kept);
        last += all[u.firstChanged].substr(u.kept);
    } else {
        if (u.firstChanged > view.size()) return "an update starts past the view's lines";
        view.resize(u.firstChanged);
        view.push_back(all[u.firstChanged]);
    }
    for (std::size_t i = u.firstChanged + 1; i < all.size(); ++i) view.push_back(all[i]);
    return "";
}

// Shown text holds no control character but HT and the LF between rows, and no C1 character.
std::string checkNoControls(const std::vector<std::string>& lines) {
    for (const std::string& l : lines)
        for (std::size_t i = 0; i < l.size(); ++i) {
            const auto b = static_cast<unsigned char>(l[i]);
            if ((b < 0x20 && b != '\t' && b != '\n') || b == 0x7F ||
                (b == 0xC2 && i + 1 < l.size() && static_cast<unsigned char>(l[i + 1]) < 0xA0))
                return "a control character is shown: " + shown(l);
        }
    return "";
}

// A view that shows at most `budget` bytes of new text per refresh, as the window does,
// and tells the assembly where it stopped. What it shows is always the lines' text, the
// last line's up to where it stopped: no text lost, none twice.
std::string followShare(std::deque<std::string>& view, LineAssembly& a, std::size_t budget) {
    const LineAssembly::Update u = a.takeUpdate();
    const auto& all = a.lines();
    if (all.empty()) return "";
    if (u.dropped > view.size()) return "a held-back update drops lines the view does not have";
    view.erase(view.begin(), view.begin() + static_cast<long>(u.dropped));
    std::size_t line = u.firstChanged, from = 0;
    if (u.kept > 0) {
        if (view.size() != line + 1) return "a held-back update keeps a line the view does not end with";
        std::string& last = view.back();
        if (std::string wrong = cutFront(last, u); !wrong.empty()) return wrong;
        if (u.kept > last.size() || utf16Length(std::string_view(last).substr(u.kept)) != u.erased)
            return "a held-back update takes back other text than the view has";
        last.resize(u.kept);
        from = u.kept;
    } else {
        if (line > view.size()) return "a held-back update starts past the view's lines";
        view.resize(line);
        view.emplace_back();
    }
    for (;;) {
        const std::string& src = all[line];
        std::size_t end = src.size();
        if (end - from > budget) {
            end = from + budget;
            while (end < src.size() && (static_cast<unsigned char>(src[end]) & 0xC0) == 0x80) ++end;
        }
        budget -= std::min(budget, end - from);
        view.back().append(src, from, end - from);
        if (end < src.size()) {
            a.holdBack(line, end);
            break;
        }
        if (line + 1 == all.size()) break;
        if (budget == 0) {
            a.holdBack(line + 1, 0);
            break;
        }
        ++line;
        from = 0;
        view.emplace_back();
    }
    for (std::size_t i = 0; i + 1 < view.size(); ++i)
        if (view[i] != all[i]) return "a view that shows a share per refresh lost or changed a line";
    if (all[view.size() - 1].compare(0, view.back().size(), view.back()) != 0)
        return "a view that shows a share per refresh shows other text than the line's";
    return "";
}

// Display blocks of `columns` columns: each cut stands between characters, never before a
// combining mark, and each block but one of a single wide character or a tab fits.
std::string checkPieces(const std::vector<std::string>& lines, std::size_t columns, WidthRule rule) {
    PieceCutter cutter(columns);
    cutter.setRule(rule);
    for (const std::string& line : lines) {
        std::vector<std::size_t> cuts;
        cutter.resume(0);
        cutter.cut(line, 0, cuts);
        std::size_t from = 0;
        cuts.push_back(line.size());
        for (const std::size_t at : cuts) {
            if (at <= from && at != line.size()) return "display blocks cut in the wrong order";
            if (at < line.size() && (static_cast<unsigned char>(line[at]) & 0xC0) == 0x80)
                return "a display block cut splits a character: " + shown(line);
            if (at < line.size() && columnsOf(firstChar(std::string_view(line).substr(at)).code, rule) == 0)
                return "a display block starts with a combining mark";
            std::string_view piece = std::string_view(line).substr(from, at - from);
            for (std::size_t lf; (lf = piece.find('\n')) != std::string_view::npos;) piece.remove_prefix(lf + 1);
            const std::size_t cols = cutter.columnsOf(piece);
            // The block's first character that takes columns (combining marks may go before it).
            std::size_t lead = 0;
            while (lead < piece.size() && piece[lead] != '\t' &&
                   columnsOf(firstChar(piece.substr(lead)).code, rule) == 0)
                lead += utf8Length(static_cast<unsigned char>(piece[lead]));
            const std::size_t leadEnd = lead < piece.size() ? lead + utf8Length(static_cast<unsigned char>(piece[lead])) : lead;
            const std::size_t first = cutter.columnsOf(piece.substr(0, leadEnd));
            const bool tab = lead < piece.size() && piece[lead] == '\t';
            if (cols > columns && cols > first && !(tab && cols <= std::max<std::size_t>(columns, 8)))
                return "a display block of " + std::to_string(cols) + " columns, more than " + std::to_string(columns);
            from = at;
        }
    }
    return "";
}

std::string consoleChecks(const std::vector<std::string_view>& chunks, Encoding enc, std::size_t byteLimit,
                          std::size_t lineLimit) {
    LineAssembly whole(1u << 30, 1u << 30), bytewise(1u << 30, 1u << 30), bounded(byteLimit, lineLimit),
        lagging(byteLimit, lineLimit);
    for (LineAssembly* a : {&whole, &bytewise, &bounded, &lagging}) a->setEncoding(enc);
    std::deque<std::string> view, share;
    const std::size_t budget = 1 + byteLimit % 13;
    for (std::string_view chunk : chunks) {
        whole.append(chunk);
        // Byte by byte, but a CR LF within a chunk stays together: the line rules read a
        // CR and an LF in two chunks as two line ends. (An empty chunk still counts.)
        if (chunk.empty()) bytewise.append(chunk);
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            const bool pair = chunk[i] == '\r' && i + 1 < chunk.size() && chunk[i + 1] == '\n';
            bytewise.append(chunk.substr(i, pair ? 2 : 1));
            i += pair;
        }
        const auto u = bounded.append(chunk);
        if (std::string e = followConsole(view, bounded, u); !e.empty()) return e;
        if (view != std::deque<std::string>(bounded.lines().begin(), bounded.lines().end()))
            return "a view that follows the console updates differs";
        if (bounded.storedBytes() > byteLimit) return "the console scrollback holds too many bytes";
        lagging.append(chunk);
        if (std::string e = followShare(share, lagging, budget); !e.empty()) return e;
    }
    if (std::string e = followShare(share, lagging, std::string::npos); !e.empty()) return e;
    if (share != std::deque<std::string>(lagging.lines().begin(), lagging.lines().end()))
        return "a view that shows a share per refresh does not catch up with the lines";
    const WidthRule rule = enc == Encoding::Utf8 ? WidthRule::Unicode : WidthRule::Japanese;
    if (std::string e = checkPieces(screenOf(whole).lines, 2 + lineLimit % 7, rule); !e.empty()) return e;
    if (!(screenOf(whole) == screenOf(bytewise))) return "a stream cut byte by byte gives another screen";
    return checkNoControls(screenOf(whole).lines);
}

// The model: one row of cells, each a character's text, or the further column of one.
struct Model {
    struct Cell {
        std::string text;  // empty: a further column of the character before
        Attr attr;
    };
    std::vector<std::string> lines{""};
    std::vector<std::vector<Attr>> attrs{{}};  // one per byte of each line
    std::vector<Cell> row;
    std::size_t col = 0;
    Attr attr = attr::kPlain;

    std::size_t head(std::size_t k) const {
        while (k > 0 && row[k].text.empty()) --k;
        return k;
    }
    std::size_t end(std::size_t h) const {
        std::size_t e = h + 1;
        while (e < row.size() && row[e].text.empty()) ++e;
        return e;
    }
    void blankOutside(std::size_t from, std::size_t to) {  // what [from, to) covers in part
        for (std::size_t k = from; k < to && k < row.size(); ++k) {
            const std::size_t h = head(k), e = end(h);
            for (std::size_t j = h; j < e; ++j)
                if (j < from || j >= to) row[j] = Cell{" ", row[j].attr};
        }
    }
    void write(const std::string& text, std::size_t width, Attr a) {
        while (row.size() < col) row.push_back(Cell{" ", attr::kPlain});
        blankOutside(col, col + width);
        if (row.size() < col + width) row.resize(col + width);
        row[col] = Cell{text, a};
        for (std::size_t k = 1; k < width; ++k) row[col + k] = Cell{"", a};
        col += width;
    }
    void flushRow() {
        for (const Cell& c : row) {
            lines.back() += c.text;
            attrs.back().insert(attrs.back().end(), c.text.size(), c.attr);
        }
        row.clear();
        col = 0;
    }
    void eraseRight() {
        if (col >= row.size()) return;
        blankOutside(col, row.size());
        row.resize(col);
    }
    void eraseLeft() {
        if (col + 1 >= row.size()) {
            row.clear();
            return;
        }
        blankOutside(0, col + 1);
        for (std::size_t k = 0; k <= col; ++k) row[k] = Cell{" ", attr::kPlain};
    }
};

// Input bytes to a console stream (code page 932), and the model's reading of it.
std::string modelStream(std::string_view input, Model& m) {
    std::string out;
    const std::string esc = "\x1b[";
    for (std::size_t i = 0; i < input.size(); ++i) {
        const auto b = static_cast<unsigned char>(input[i]);
        const std::size_t n = i + 1 < input.size() ? static_cast<unsigned char>(input[i + 1]) % 12 : 0;
        switch (b % 16) {
        case 0: case 1: case 2: case 3: {
            const std::string letter(1, static_cast<char>('a' + b % 4));
            out += letter;
            m.write(letter, 1, m.attr);
            break;
        }
        case 4:
            out += "\x82\xa0";  // あ
            m.write("\xe3\x81\x82", 2, m.attr);
            break;
        case 5:
            out += '\b';
            m.col = m.col > 0 ? m.col - 1 : 0;
            break;
        case 6:
            out += esc + (n ? std::to_string(n) : "") + "C";
            if (const std::size_t limit = std::max(m.row.size(), ScreenRow::kRightLimit); m.col < limit)
                m.col = std::min(m.col + std::max<std::size_t>(n, 1), limit);
            ++i;
            break;
        case 7:
            out += esc + (n ? std::to_string(n) : "") + "D";
            m.col -= std::min(m.col, std::max<std::size_t>(n, 1));
            ++i;
            break;
        case 8:
            out += esc + (n % 3 ? std::to_string(n % 3) : "") + "K";
            if (n % 3 == 0) m.eraseRight();
            else if (n % 3 == 1) m.eraseLeft();
            else m.row.clear();
            ++i;
            break;
        case 9: {
            out += '\t';
            const std::size_t next = (m.col / 8 + 1) * 8;
            if (m.col < m.row.size()) {
                m.col = next;
            } else {
                const std::size_t at = m.col;
                m.write("\t", next - at, m.attr);
            }
            break;
        }
        case 10:
            out += "\r\n";
            m.flushRow();
            m.lines.emplace_back();
            m.attrs.emplace_back();
            break;
        case 11:
            out += '\n';
            m.flushRow();
            m.lines.back() += '\n';
            m.attrs.back().push_back(attr::kPlain);
            break;
        case 12:
            out += esc + "31m";
            m.attr = attr::withForeground(m.attr, 1);  // the rest stays
            break;
        case 13:
            out += esc + "m";
            m.attr = attr::kPlain;
            break;
        case 14:
            out += esc + "1;44m";
            m.attr = attr::withBackground(Attr(m.attr | attr::kBold), 4);
            break;
        default:
            out += "\x81\x40";  // the ideographic space, wide
            m.write("\xe3\x80\x80", 2, m.attr);
            break;
        }
    }
    m.flushRow();
    return out;
}

std::vector<Attr> attrsOf(const std::string& line, const Runs& runs) {
    std::vector<Attr> out;
    for (const ::Run& r : runs) out.resize(r.end, r.attr);
    out.resize(line.size(), attr::kPlain);
    return out;
}

std::string modelCheck(std::string_view input) {
    if (input.empty()) return "";
    Model m;
    const std::string stream = modelStream(input, m);
    LineAssembly a(1u << 30, 1u << 30);
    a.setEncoding(Encoding::Cp932);
    // Cut where the input says, never between a CR and its LF.
    for (std::size_t at = 0, k = 0; at < stream.size(); ++k) {
        std::size_t n = std::min<std::size_t>(1 + static_cast<unsigned char>(input[k % input.size()]) % 9, stream.size() - at);
        if (stream[at + n - 1] == '\r' && at + n < stream.size()) ++n;
        a.append(std::string_view(stream).substr(at, n));
        at += n;
    }
    const std::vector<std::string> got(a.lines().begin(), a.lines().end());
    if (got != m.lines) return "the lines differ from the model's: " + shown(got.back()) + " against " + shown(m.lines.back());
    for (std::size_t i = 0; i < got.size(); ++i)
        if (const auto have = attrsOf(got[i], a.runs(i)); have != m.attrs[i]) {
            std::size_t k = 0;
            while (k < have.size() && k < m.attrs[i].size() && have[k] == m.attrs[i][k]) ++k;
            return "line " + std::to_string(i) + " " + shown(got[i]) + " has other attributes than the model's from byte " +
                   std::to_string(k);
        }
    return "";
}

}  // namespace

// Input: the byte bound less 2, the line bound less 1 (mod 16) whose upper bits also pick
// the console's encoding, then length-prefixed chunks.
std::string lines(std::string_view bytes) {
    Input in(bytes);
    const std::size_t byteLimit = 2 + in.byte();
    const unsigned char lineByte = in.byte();
    const std::size_t lineLimit = 1 + lineByte % 16;
    const Encoding consoleEncoding = lineByte / 16 % 3 == 0 ? Encoding::Cp932 : lineByte / 16 % 3 == 1 ? Encoding::Utf8 : Encoding::EucJp;
    std::vector<std::string_view> chunks;
    while (!in.empty()) chunks.push_back(in.sized());

    LineAssembly bounded(byteLimit, lineLimit), whole(1u << 30, 1u << 30);
    std::deque<std::string> view, lateView;
    LineAssembly::Update pending;
    bool anyPending = false;
    std::string text;  // the chunks with each break as one CR
    for (std::string_view chunk : chunks) {
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            text += chunk[i];
            if (chunk[i] == '\r' && i + 1 < chunk.size() && chunk[i + 1] == '\n') ++i;
        }
        const auto u = bounded.append(chunk);
        whole.append(chunk);
        follow(view, bounded, u);
        pending = anyPending ? LineAssembly::merge(pending, u) : u;
        anyPending = true;

        const auto& kept = bounded.lines();
        std::size_t sum = 0;
        for (const auto& l : kept) sum += l.size();
        sum += kept.size() - 1;
        if (bounded.storedBytes() != sum) return "stored byte count is off";
        if (kept.size() > lineLimit || bounded.storedBytes() > byteLimit)
            return "scrollback holds " + std::to_string(kept.size()) + " lines, " +
                   std::to_string(bounded.storedBytes()) + " bytes";
        if (view != std::deque<std::string>(kept.begin(), kept.end())) return "a view that follows the updates differs";
        // Catch up every third chunk with one merged update.
        if (lateView.size() % 3 == 0 || chunk.size() % 3 == 0) {
            follow(lateView, bounded, pending);
            anyPending = false;
            if (lateView != view) return "a view that follows merged updates differs";
        }
    }
    if (chunks.empty()) return "";

    // The whole text, split at its breaks.
    std::vector<std::string> want{""};
    for (char c : text) {
        if (c == '\r') want.emplace_back();
        else want.back() += c;
    }
    const auto& all = whole.lines();
    if (std::vector<std::string>(all.begin(), all.end()) != want) return "the lines do not give back the text";

    const auto& kept = bounded.lines();
    const std::size_t offset = all.size() - kept.size();
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const std::string& full = all[offset + i];
        const std::string& line = kept[i];
        if (line.size() > full.size() || full.compare(full.size() - line.size(), line.size(), line) != 0)
            return "kept line " + std::to_string(i) + " is not the tail of its line";
        if (!charStarts(full)[full.size() - line.size()]) return "a cut line starts inside a character";
        if (std::string e = checkShown(line, i + 1 == kept.size()); !e.empty()) return e;
    }
    if (std::string e = consoleChecks(chunks, consoleEncoding, byteLimit, lineLimit); !e.empty()) return e;
    return modelCheck(bytes);
}

}  // namespace fuzzprops
