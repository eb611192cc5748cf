// Memo1 on its own and in the window: what the user sees of the received bytes.
#include <gtest/gtest.h>

#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <QScrollBar>
#include <QTextLayout>

#include <future>
#include <memory>
#include <random>

#include "CharWidth.h"
#include "LoopbackServer.h"
#include "OutputView.h"
#include "guardedapp.h"
#include "mainform.h"

using namespace std::chrono_literals;

namespace {

// The assembly's lines as the document shows them in plain text: rows one per line.
QString expectedText(const LineAssembly& a) {
    std::string all;
    for (const auto& l : a.lines()) {
        if (&l != &a.lines().front())
            all += '\n';
        all += l;
    }
    return QString::fromUtf8(all.data(), static_cast<qsizetype>(all.size()));
}

int rowsOf(const LineAssembly& a) {
    int rows = 0;
    for (const auto& l : a.lines())
        rows += 1 + static_cast<int>(std::count(l.begin(), l.end(), '\n'));
    return rows;
}

} // namespace

// A lone LF is a break within its line: two rows on screen, one line of the scrollback.
TEST(OutputView, BareLfBreaksWithinTheLine) {
    OutputView v;
    v.append("a\nb");
    v.flush();
    v.append("c\nd\r\ne");
    v.flush();
    EXPECT_EQ(v.toPlainText(), "a\nbc\nd\ne");
    EXPECT_EQ(v.document()->blockCount(), 4);
    EXPECT_EQ(v.shownLines(), 2);
    EXPECT_TRUE(v.textCursor().atEnd());
}

// A selection made to copy survives text that arrives meanwhile, also when the
// scrollback drops lines before it; without one the caret follows the output.
TEST(OutputView, SelectionSurvivesArrivingText) {
    OutputView v(nullptr, 1 << 20, 4);
    v.append("one\r\ntwo\r\nthree\r\n");
    v.flush();
    QTextCursor sel(v.document());
    sel.setPosition(v.document()->findBlockByNumber(1).position());
    sel.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    v.setTextCursor(sel);
    v.append("four\r\nfive\r\n");  // "one" and "two" go
    v.flush();
    EXPECT_EQ(v.textCursor().selectedText(), "");  // its line went with the scrollback
    sel = QTextCursor(v.document());
    sel.setPosition(v.document()->findBlockByNumber(1).position());
    sel.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    v.setTextCursor(sel);
    const QString chosen = v.textCursor().selectedText();
    v.append("six");
    v.flush();
    EXPECT_EQ(v.textCursor().selectedText(), chosen);
    v.setTextCursor(QTextCursor(v.document()));  // the user clicks: no selection
    v.append("seven");
    v.flush();
    EXPECT_TRUE(v.textCursor().atEnd());
}

// Random streams of every kind of line end, NUL, split and invalid characters, past
// both bounds: after every refresh the document holds exactly the kept lines, row by row.
TEST(OutputView, FollowsTheLinesThroughEveryRefresh) {
    const std::vector<std::string> alphabet = {"ab", "\n", std::string(1, '\0'), "\x82\xa0", "\x82", "\x8a", "\r", "\r\n"};
    std::mt19937 rng(2024);
    for (int round = 0; round < 60; ++round) {
        // Every other round is a bare-LF host: one line that grows past both bounds.
        const std::size_t letters = alphabet.size() - (round % 2 ? 2 : 0);
        OutputView v(nullptr, 100 + rng() % 400, 3 + rng() % 20);
        for (int i = 0; i < 80; ++i) {
            std::string c;
            for (int k = static_cast<int>(rng() % 40); k > 0; --k)
                c += alphabet[rng() % letters];
            v.append(c);
            if (rng() % 3 == 0) {
                v.flush();
                ASSERT_EQ(v.toPlainText(), expectedText(v.lines())) << "round " << round << " chunk " << i;
                ASSERT_EQ(v.document()->blockCount(), rowsOf(v.lines())) << "round " << round;
            }
        }
    }
}

// Characters from a host's own character set, whichever the user picked.
TEST(OutputView, ShowsEachEncoding) {
    struct Case {
        Encoding encoding;
        std::vector<std::string> chunks;
        const char* shown;
    };
    const Case cases[] = {
        {Encoding::Cp932, {"\x93\xfa", "\x96", "\x7b\r\n"}, "日本\n"},
        {Encoding::Utf8, {"\xE6\x97", "\xA5\xE6\x9C", "\xAC \xF0\x9F\x98", "\x80"}, "日本 😀"},
        {Encoding::EucJp, {"\xc6", "\xfc\xcb\xdc\x8f", "\xb0\xa1"}, "日本丂"},
        {Encoding::Utf8, {"a\xE2\x80\xA9" "b"}, "a\xEF\xBF\xBD" "b"},  // no paragraph break of its own
    };
    for (const Case& c : cases) {
        OutputView v;
        v.setEncoding(c.encoding);
        EXPECT_EQ(v.encoding(), c.encoding);
        for (const auto& chunk : c.chunks) {
            v.append(chunk);
            v.flush();
        }
        EXPECT_EQ(v.toPlainText(), QString::fromUtf8(c.shown)) << encodingName(c.encoding);
    }
}

// The switch applies to the bytes that arrive after it; what is on screen stays.
TEST(QtermWindow, EncodingSwitchDuringSession) {
    GuardedApplication* app = static_cast<GuardedApplication*>(QCoreApplication::instance());
    app->setErrorSink([](const std::string& m) { ADD_FAILURE() << "error box: " << m; });
    std::promise<void> switched;
    std::shared_future<void> switchedF = switched.get_future().share();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    LoopbackServer server([&](int fd) {
        SendAll(fd, "\x93\xfa\x96\x7b\r\n\xE3");  // 日本 in code page 932, then a UTF-8 start
        switchedF.wait();
        SendAll(fd, "\x81\x82\r\n\xE6\x97\xA5");
        released.wait();
    });
    TqTermMain w({"127.0.0.1", std::to_string(server.Port())});
    ASSERT_TRUE(w.FormShow());
    w.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Memo1->toPlainText().startsWith(QString::fromUtf8("日本\n")); }, 5000));
    // The lone E3 has arrived and is held as the start of a character.
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Memo1->lines().unfinishedLine() == "\xEF\xBF\xBD"; }, 5000));
    w.Memo1->setEncoding(Encoding::Utf8);
    switched.set_value();
    const QString want = QString::fromUtf8("日本\n\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\n日");
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.Memo1->toPlainText() == want; }, 5000))
        << w.Memo1->toPlainText().toStdString();
    release.set_value();
}

namespace {

const std::string ESC = "\x1b";

// A character format as text, for comparing and printing.
std::string formatKey(const QTextCharFormat& f) {
    std::string k;
    if (f.hasProperty(QTextFormat::ForegroundBrush))
        k += "fg" + f.foreground().color().name().toStdString();
    if (f.hasProperty(QTextFormat::BackgroundBrush))
        k += "bg" + f.background().color().name().toStdString();
    if (f.fontWeight() == QFont::Bold)
        k += "bold";
    if (f.fontUnderline())
        k += "ul";
    return k;
}

using Ranges = std::vector<std::vector<std::tuple<int, int, std::string>>>;

void addRange(std::vector<std::tuple<int, int, std::string>>& row, int start, int length, const std::string& key) {
    if (key.empty())
        return;
    if (!row.empty() && std::get<2>(row.back()) == key && std::get<0>(row.back()) + std::get<1>(row.back()) == start)
        std::get<1>(row.back()) += length;
    else
        row.emplace_back(start, length, key);
}

// The format ranges each row of the view should have: the line's runs, in UTF-16 units
// of their row.
Ranges rowRanges(const LineAssembly& a) {
    Ranges rows;
    for (std::size_t i = 0; i < a.lines().size(); ++i) {
        const std::string& text = a.lines()[i];
        rows.emplace_back();
        int units = 0;
        std::size_t at = 0;
        auto piece = [&](std::size_t end, Attr attr) {
            for (; at < end; ++at) {
                if (text[at] == '\n') {
                    rows.emplace_back();
                    units = 0;
                    continue;
                }
                const std::size_t n = utf8Length(static_cast<unsigned char>(text[at]));
                const int u = static_cast<int>(utf16Length(std::string_view(text).substr(at, n)));
                addRange(rows.back(), units, u, formatKey(OutputView::formatOf(attr)));
                units += u;
                at += n - 1;
            }
        };
        for (const ::Run& r : a.runs(i))
            piece(r.end, r.attr);
        piece(text.size(), attr::kPlain);
    }
    return rows;
}

// What the view's rows show of attributes, merged where neighbours are alike.
Ranges shownRanges(OutputView& v) {
    Ranges rows;
    for (QTextBlock b = v.document()->begin(); b.isValid(); b = b.next()) {
        rows.emplace_back();
        for (const auto& r : b.layout()->formats())
            addRange(rows.back(), r.start, r.length, formatKey(r.format));
    }
    return rows;
}

} // namespace

// Random console streams (moves, erases, colours, wide characters, fresh pages) past both
// bounds: after every refresh the document holds the kept lines, and each row shows the
// attributes of its text.
TEST(OutputView, PaintsWhatTheLinesDecideThroughEveryRefresh) {
    const std::vector<std::string> alphabet = {"ab", "\r\n", "\n", "\b", "\t", "\x82\xa0", ESC + "[3D", ESC + "[C",
                                               ESC + "[K", ESC + "[1K", ESC + "[2K", ESC + "[31m", ESC + "[1;44m",
                                               ESC + "[m", ESC + "[", "7m", ESC + "[2J", "\r", "\a"};
    std::mt19937 rng(99);
    for (int round = 0; round < 40; ++round) {
        OutputView v(nullptr, 100 + rng() % 400, 3 + rng() % 20);
        int bells = 0;
        v.ringBell = [&] { ++bells; };
        for (int i = 0; i < 80; ++i) {
            std::string c;
            for (int k = static_cast<int>(rng() % 20); k > 0; --k)
                c += alphabet[rng() % alphabet.size()];
            v.append(c);
            if (rng() % 3 == 0) {
                v.flush();
                ASSERT_EQ(v.toPlainText(), expectedText(v.lines())) << "round " << round << " chunk " << i;
                ASSERT_EQ(v.document()->blockCount(), rowsOf(v.lines())) << "round " << round;
                ASSERT_EQ(shownRanges(v), rowRanges(v.lines())) << "round " << round << " chunk " << i;
            }
        }
    }
}

// The caret stands where the host writes next, also inside the current line.
TEST(OutputView, CaretStandsAtTheWritePosition) {
    OutputView v;
    v.append("first\r\nabcdef\b\b\b");
    v.flush();
    EXPECT_EQ(v.textCursor().position(), QString("first\nabc").size());
    v.append("X" + ESC + "[K");
    v.flush();
    EXPECT_EQ(v.toPlainText(), "first\nabcX");
    EXPECT_TRUE(v.textCursor().atEnd());
}

// A BEL rings the bell; a flood of them rings it at most once every 200 ms.
TEST(OutputView, BellRingsAtMostEvery200Ms) {
    OutputView v;
    int rung = 0;
    qint64 now = 1000;
    v.ringBell = [&] { ++rung; };
    v.bellClock = [&] { return now; };
    v.append("\a");
    EXPECT_EQ(rung, 1);
    v.append("\a\a\a");
    now += 199;
    v.append("\a");
    EXPECT_EQ(rung, 1);
    now += 1;
    v.append("x\ay");
    EXPECT_EQ(rung, 2);
    v.append(ESC + "]0;title\a");  // the end of an OSC string is no bell
    now += 1000;
    v.append("text");
    EXPECT_EQ(rung, 2);
    v.flush();
    EXPECT_EQ(v.toPlainText(), "xytext");
}

// A fresh page from the host shows at the top of the view with the old text above it,
// until its own text fills the view; then the view follows the output again.
TEST(OutputView, FreshPageStartsAtTheTopOfTheView) {
    OutputView v;
    v.resize(400, 300);
    v.show();
    std::string old;
    for (int i = 0; i < 100; ++i)
        old += "old " + std::to_string(i) + "\r\n";
    v.append(old + "prompt" + ESC + "[2J" + ESC + "[HMenu\r\n1. one\r\n");
    v.flush();
    QCoreApplication::processEvents();
    auto topText = [&] { return v.cursorForPosition(QPoint(2, 2)).block().text(); };
    EXPECT_EQ(topText(), "Menu");
    EXPECT_EQ(v.document()->findBlockByNumber(99).text(), "old 99");  // still in the scrollback
    std::string more;
    for (int i = 0; i < 100; ++i)
        more += "item " + std::to_string(i) + "\r\n";
    v.append(more);
    v.flush();
    QCoreApplication::processEvents();
    EXPECT_NE(topText(), "Menu");
    EXPECT_TRUE(v.viewport()->rect().contains(v.cursorRect()));
}

namespace {

// The view's blocks joined into rows where a block goes on with the row before it: the
// text of each row and the attributes it shows, and the widest block in columns.
struct Joined {
    std::vector<QString> rows;
    Ranges ranges;
    std::size_t widest = 0;
};

Joined joinedRows(OutputView& v, WidthRule rule = WidthRule::Japanese) {
    Joined j;
    PieceCutter count;
    count.setRule(rule);
    for (QTextBlock b = v.document()->begin(); b.isValid(); b = b.next()) {
        int offset = 0;
        if (OutputView::continuesRow(b) && !j.rows.empty()) {
            offset = static_cast<int>(j.rows.back().size());
            j.rows.back() += b.text();
        } else {
            j.rows.push_back(b.text());
            j.ranges.emplace_back();
        }
        for (const auto& r : b.layout()->formats())
            addRange(j.ranges.back(), offset + r.start, r.length, formatKey(r.format));
        j.widest = std::max(j.widest, count.columnsOf(b.text().toStdString()));
    }
    return j;
}

std::vector<QString> rowsOfLines(const LineAssembly& a) {
    const QStringList rows = expectedText(a).split(QLatin1Char('\n'));
    return {rows.begin(), rows.end()};
}

} // namespace

// The same random console streams with display blocks of a few columns: rows of the
// lines go into several blocks, also while the host overwrites and erases them and the
// scrollback cuts them, and joined again they hold the lines' text and attributes.
TEST(OutputView, LongRowsInBlocksReadBackWholeThroughEveryRefresh) {
    const std::vector<std::string> alphabet = {"abc", "defgh", "\r\n", "\n", "\b", "\t", "\x82\xa0", ESC + "[3D",
                                               ESC + "[C", ESC + "[K", ESC + "[1K", ESC + "[31m", ESC + "[1;44m",
                                               ESC + "[m", "\xe3\x81\x82", "e\xcc\x81"};
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        OutputView v(nullptr, 100 + rng() % 400, 3 + rng() % 20);
        const std::size_t columns = 2 + rng() % 9;
        v.setPieceColumns(columns);
        const bool utf8 = round % 2;
        if (utf8)
            v.setEncoding(Encoding::Utf8);
        for (int i = 0; i < 80; ++i) {
            std::string c;
            for (int k = static_cast<int>(rng() % 20); k > 0; --k)
                c += alphabet[rng() % alphabet.size()];
            v.append(c);
            if (rng() % 3 == 0) {
                v.flush();
                const Joined j = joinedRows(v, utf8 ? WidthRule::Unicode : WidthRule::Japanese);
                ASSERT_EQ(j.rows, rowsOfLines(v.lines())) << "round " << round << " chunk " << i;
                ASSERT_EQ(j.ranges, rowRanges(v.lines())) << "round " << round << " chunk " << i;
                ASSERT_LE(j.widest, std::max<std::size_t>(columns, 8)) << "round " << round;  // a tab takes up to 8
                ASSERT_EQ(v.shownText(), expectedText(v.lines())) << "round " << round;
            }
        }
    }
}

// A row of a host's long line: blocks of at most 4096 columns, a wide character that
// would overrun one starts the next, a colour run goes on across the break, and the text
// reads back whole, selected all or in part across the break.
TEST(OutputView, LongRowKeepsCharactersAndColoursAcrossBlocks) {
    OutputView v(nullptr, 1 << 22, 100);
    const std::string head(4095, 'a');
    v.append(head + "\x82\xa0" + "bcd" + ESC + "[31m");  // あ at column 4095 would take 4095 and 4096
    v.flush();
    v.append(std::string(4096 - 5 - 3, 'r') + "RRRRR" + "rr" + ESC + "[m" + "tail\r\n");  // "RRRRR" across the next break, red to "rr"
    v.flush();
    ASSERT_EQ(v.document()->blockCount(), 4);
    QTextBlock b = v.document()->begin();
    EXPECT_EQ(b.text(), QString::fromStdString(head));
    b = b.next();
    EXPECT_TRUE(OutputView::continuesRow(b));
    EXPECT_EQ(b.text().left(4), QString::fromUtf8("\xe3\x81\x82" "bcd"));
    EXPECT_EQ(b.text().size(), 4096 - 1);  // あ takes two columns
    const int redStart = 1 + 3;
    ASSERT_EQ(b.layout()->formats().size(), 1);
    EXPECT_EQ(b.layout()->formats()[0].start, redStart);
    EXPECT_EQ(b.layout()->formats()[0].length, b.text().size() - redStart);
    b = b.next();
    EXPECT_TRUE(OutputView::continuesRow(b));
    EXPECT_EQ(b.text(), QString("RRrrtail"));
    ASSERT_EQ(b.layout()->formats().size(), 1);
    EXPECT_EQ(b.layout()->formats()[0].start, 0);
    EXPECT_EQ(b.layout()->formats()[0].length, 4);
    EXPECT_EQ(b.layout()->formats()[0].format.foreground(), b.previous().layout()->formats()[0].format.foreground());
    EXPECT_FALSE(OutputView::continuesRow(b.next()));

    const QString line = QString::fromUtf8(head + "\xe3\x81\x82" + "bcd" + std::string(4096 - 5 - 3, 'r') + "RRRRRrrtail");
    v.selectAll();
    EXPECT_EQ(v.selectedText(), line + "\n");
    EXPECT_EQ(v.shownText(), line + "\n");
    // "RRRRR" stands across the second break: its logical place maps to the document.
    const int at = static_cast<int>(line.indexOf("RRRRR"));
    QTextCursor c(v.document());
    c.setPosition(v.documentPosition(at));
    c.setPosition(v.documentPosition(at + 5), QTextCursor::KeepAnchor);
    v.setTextCursor(c);
    EXPECT_EQ(v.selectedText(), "RRRRR");
}

// A flood that arrives faster than the view shows it: each refresh shows a share, the rest
// follows on later turns of the event loop, and in the end every byte is there.
TEST(OutputView, RefreshShowsAShareAndTheRestFollows) {
    OutputView v(nullptr, 1 << 22, 100000);
    std::string flood;
    for (int i = 0; i < 6000; ++i)
        flood += std::to_string(i) + std::string(60, 'x') + "\r\n";
    flood += std::string(400000, 'y');  // and one long line
    QTest::qWait(OutputView::kRefreshMs + 5);  // a quiet spell: the next text shows at once
    v.append(flood);
    EXPECT_TRUE(v.pending());
    EXPECT_LT(v.document()->characterCount(), static_cast<int>(flood.size()) / 2);  // a share of it
    ASSERT_TRUE(QTest::qWaitFor([&] { return !v.pending(); }, 10000));
    EXPECT_EQ(v.shownText(), expectedText(v.lines()));
    EXPECT_EQ(v.lines().lines().size(), 6001u);
}
