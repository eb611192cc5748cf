#include "LineAssembly.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "cp932.h"
#include "line_view.h"

namespace {

using Lines = std::vector<std::string>;

Lines linesOf(const LineAssembly& a) { return Lines(a.lines().begin(), a.lines().end()); }

Lines assemble(const std::vector<std::string>& chunks) {
    LineAssembly a;
    for (const auto& c : chunks)
        a.append(c);
    return linesOf(a);
}

// A view that mirrors the assembly only through its updates, as the window does.
struct Mirror {
    Lines shown;
    void apply(const LineAssembly& a, LineAssembly::Update u) {
        ASSERT_LE(u.dropped, shown.size());
        shown.erase(shown.begin(), shown.begin() + static_cast<long>(u.dropped));
        ASSERT_LE(u.firstChanged, shown.size());
        shown.resize(u.firstChanged);
        for (size_t i = u.firstChanged; i < a.lines().size(); ++i)
            shown.push_back(a.lines()[i]);
    }
};

} // namespace

TEST(LineAssembly, ChunkSequencesToLines) {
    struct Case {
        const char* name;
        std::vector<std::string> chunks;
        Lines lines;  // the last one is the current line
    };
    const std::vector<Case> cases = {
        {"chunks join on one line", {"abc", "def"}, {"abcdef"}},
        {"CR LF ends a line", {"a\r\nb"}, {"a", "b"}},
        {"lone CR ends a line", {"a\rb"}, {"a", "b"}},
        {"lone LF is an ordinary byte", {"a\nb"}, {"a\nb"}},
        {"CR LF CR LF", {"a\r\n\r\nb"}, {"a", "", "b"}},
        {"CR CR LF", {"a\r\r\nb"}, {"a", "", "b"}},
        {"second LF of CR LF LF is kept", {"a\r\n\nb"}, {"a", "\nb"}},
        {"LF opening the next chunk is kept", {"a\r", "\nb"}, {"a", "\nb"}},
        {"text ending in CR LF leaves an empty current line", {"a\r\n"}, {"a", ""}},
        {"empty first chunk gives one empty line", {""}, {""}},
        {"empty chunk changes nothing", {"ab", "", "c"}, {"abc"}},
        {"CR NUL keeps the NUL byte and the text behind it", {std::string("a\r\0b\r\n", 6)}, {"a", std::string("\0b", 2), ""}},
        {"control bytes are kept", {"\x1b[1m\b\a\t"}, {"\x1b[1m\b\a\t"}},
        {"split double-byte character stays one line", {"\x82", "\xa0x"}, {"\x82\xa0x"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(assemble(c.chunks), c.lines) << c.name;
    EXPECT_TRUE(LineAssembly().lines().empty());
}

TEST(LineAssembly, DisplayHidesNulAndHoldsBackHalfCharacter) {
    EXPECT_EQ(displayBytes(std::string("a\0b\0", 4), false), "ab");
    // "あ" is 82 A0 in code page 932: the lead byte alone is held back on the current line.
    EXPECT_EQ(displayBytes("x\x82", true), "x");
    EXPECT_EQ(displayBytes("x\x82\xa0", true), "x\x82\xa0");
    EXPECT_EQ(cp932::toUtf8(displayBytes("x\x82\xa0", true)), "x\xe3\x81\x82");
    // A finished line shows what it holds, a trailing lead byte included.
    EXPECT_EQ(displayBytes("x\x82", false), "x\x82");
    // A trail byte that looks like a lead byte does not start a new character.
    EXPECT_EQ(displayBytes("\x88\x9f", true), "\x88\x9f");
    // Half-width katakana are single bytes.
    EXPECT_EQ(displayBytes("\xb1", true), "\xb1");
}

TEST(LineAssembly, ScrollbackDropsOldestLinesWhole) {
    LineAssembly a(40, 1000);
    Mirror m;
    for (int i = 0; i < 30; ++i) {
        auto u = a.append("line" + std::to_string(i) + "\r\n");
        m.apply(a, u);
    }
    EXPECT_LE(a.storedBytes(), 40u);
    EXPECT_EQ(m.shown, linesOf(a));
    EXPECT_EQ(a.lines().back(), "");
    EXPECT_EQ(a.lines()[a.lines().size() - 2], "line29");
    // What is kept is whole lines: the oldest kept line is one that was sent whole.
    EXPECT_EQ(a.lines().front().rfind("line", 0), 0u);

    LineAssembly byCount(1 << 20, 3);
    byCount.append("a\r\nb\r\nc\r\nd\r\ne");
    EXPECT_EQ(linesOf(byCount), (Lines{"c", "d", "e"}));
}

TEST(LineAssembly, LongLineKeptWholeWithinBound) {
    LineAssembly a(100000, 1000);
    std::string longLine(20000, 'x');
    for (int i = 0; i < 5; ++i)
        a.append(longLine.substr(i * 4000, 4000));
    ASSERT_EQ(a.lines().size(), 1u);
    EXPECT_EQ(a.lines()[0], longLine);
    a.append("\r\nnext");
    EXPECT_EQ(linesOf(a), (Lines{longLine, "next"}));
}

TEST(LineAssembly, LineLongerThanScrollbackKeepsNewestPartAtCharacterBoundary) {
    LineAssembly a(64, 100);
    Mirror m;
    std::string sent;
    for (int i = 0; i < 40; ++i) {
        std::string chunk = "\x82\xa0z";  // two-byte character, then one byte
        sent += chunk;
        m.apply(a, a.append(chunk));
    }
    EXPECT_LE(a.storedBytes(), 64u);
    const std::string& cur = a.lines().back();
    EXPECT_EQ(sent.substr(sent.size() - cur.size()), cur);
    // It starts on a character, never on the trail byte of one (offset 1 of each "\x82\xa0z").
    EXPECT_NE((sent.size() - cur.size()) % 3, 1u);
    EXPECT_EQ(m.shown, linesOf(a));
}

// A view that catches up after several chunks with one merged update ends up the same as
// one that followed every chunk, also while the scrollback drops lines.
TEST(LineAssembly, MergedUpdatesCatchUpAView) {
    std::mt19937 rng(4242);
    for (int round = 0; round < 200; ++round) {
        LineAssembly a(60, 8);
        Mirror each, batched;
        LineAssembly::Update pending;
        bool havePending = false;
        for (int i = 0; i < 40; ++i) {
            std::string c(rng() % 30, 'x');
            for (char& b : c)
                b = "ab\r\n"[rng() % 4];
            auto u = a.append(c);
            each.apply(a, u);
            pending = havePending ? LineAssembly::merge(pending, u) : u;
            havePending = true;
            if (rng() % 5 == 0) {
                batched.apply(a, pending);
                havePending = false;
            }
        }
        if (havePending)
            batched.apply(a, pending);
        EXPECT_EQ(batched.shown, linesOf(a)) << "round " << round;
        EXPECT_EQ(each.shown, linesOf(a)) << "round " << round;
    }
}

// Random chunk streams: the lines hold every byte that is neither a line-ending CR nor
// the one LF behind it, and a mirroring view always matches.
TEST(LineAssembly, RandomStreamsLoseNoByte) {
    std::mt19937 rng(777);
    const char alphabet[] = {'a', '\r', '\n', '\0', '\x82', '\xa0', '\xff'};
    for (int round = 0; round < 200; ++round) {
        LineAssembly a(1 << 20, 100000);
        Mirror m;
        std::string stream;
        std::vector<size_t> cuts;
        int chunks = 1 + rng() % 30;
        for (int i = 0; i < chunks; ++i) {
            std::string c(rng() % 12, 'a');
            for (char& b : c)
                b = alphabet[rng() % sizeof alphabet];
            stream += c;
            m.apply(a, a.append(c));
            cuts.push_back(stream.size());
        }
        // Expected: the same rule applied to the whole stream, with the chunk edges
        // deciding which LF counts as "directly behind a CR".
        Lines expect{""};
        size_t edge = 0, prev = 0;
        for (size_t i = 0; i < stream.size(); ++i) {
            while (edge < cuts.size() && cuts[edge] <= i)
                prev = cuts[edge++];
            if (stream[i] == '\r') {
                expect.emplace_back();
                if (i + 1 < stream.size() && stream[i + 1] == '\n' && (edge >= cuts.size() || i + 1 < cuts[edge]))
                    ++i;
            } else {
                expect.back() += stream[i];
            }
        }
        (void)prev;
        EXPECT_EQ(linesOf(a), expect) << "round " << round;
        EXPECT_EQ(m.shown, linesOf(a)) << "round " << round;
    }
}

namespace {

const std::string kBad = "\xEF\xBF\xBD";  // U+FFFD

std::size_t rowsOf(const LineAssembly& a) {
    std::size_t rows = 0;
    for (const auto& l : a.lines())
        rows += 1 + static_cast<std::size_t>(std::count(l.begin(), l.end(), '\n'));
    return rows;
}

using AppendingMirror = LineView;

} // namespace

// Once an encoding is set, lines hold the text as shown: decoded to UTF-8, NUL bytes left
// out, a character split across chunks whole, invalid bytes as U+FFFD.
TEST(LineAssembly, DecodedLines) {
    struct Case {
        Encoding encoding;
        std::vector<std::string> chunks;
        Lines lines;
    };
    const std::vector<Case> cases = {
        {Encoding::Cp932, {"ab\x82", "\xa0\r\n"}, {"ab\xE3\x81\x82", ""}},
        {Encoding::Cp932, {std::string("a\r\0b\0", 5)}, {"a", "b"}},
        {Encoding::Cp932, {"a\nb", "\r", "\nc"}, {"a\nb", "\nc"}},
        {Encoding::Cp932, {"x\x82\ry"}, {"x" + kBad, "y"}},
        {Encoding::Cp932, {"x\x82", "\r\ny"}, {"x" + kBad, "y"}},
        {Encoding::Utf8, {"\xE3\x81", "\x82x\xF0", "\x9F\x98", "\x80"}, {"\xE3\x81\x82x\xF0\x9F\x98\x80"}},
        {Encoding::Utf8, {"\xE3\x81\r\n"}, {kBad, ""}},
        {Encoding::EucJp, {"\x8f", "\xb0", "\xa1\xa4", "\xa2\r\n"}, {"\xE4\xB8\x82\xE3\x81\x82", ""}},
    };
    for (const Case& c : cases) {
        LineAssembly a;
        a.setEncoding(c.encoding);
        for (const auto& chunk : c.chunks)
            a.append(chunk);
        EXPECT_EQ(linesOf(a), c.lines) << encodingName(c.encoding) << " " << c.chunks[0];
    }
}

TEST(LineAssembly, EncodingSwitchAppliesToLaterBytes) {
    LineAssembly a;
    EXPECT_EQ(a.encoding(), std::nullopt);
    a.setEncoding(Encoding::Cp932);
    a.append("\x82\xa0\r\n\x82");
    a.setEncoding(Encoding::Utf8);
    EXPECT_EQ(a.encoding(), Encoding::Utf8);
    a.append("\xE3\x81\x82\r\n\x82\xa0");
    EXPECT_EQ(linesOf(a), (Lines{"\xE3\x81\x82", kBad + "\xE3\x81\x82", kBad + kBad}));
}

// The observer sees every row once, in order, a chunk's rows in one call, also when the
// scrollback drops them before the view could show them, and for bare-LF hosts.
TEST(LineAssembly, ObserverSeesEveryRowOnce) {
    struct Case {
        const char* name;
        std::size_t byteLimit, lineLimit;
        std::vector<std::string> chunks;
        std::vector<std::string> calls;
        std::string unfinished;
    };
    std::string many;
    std::string manyRows;
    for (int i = 0; i < 50; ++i) {
        many += "line" + std::to_string(i) + "\r\n";
        manyRows += "line" + std::to_string(i) + "\n";
    }
    const std::vector<Case> cases = {
        {"CR LF lines", 1 << 20, 1000, {"one\r\ntwo\r\nthr", "ee\r\n", "x"}, {"one\ntwo\n", "three\n"}, "x"},
        {"bare LF rows", 1 << 20, 1000, {"one\ntw", "o\nx"}, {"one\n", "two\n"}, "x"},
        {"NUL left out", 1 << 20, 1000, {std::string("a\r\0b\r\n", 6)}, {"a\nb\n"}, ""},
        {"held character", 1 << 20, 1000, {"ok\r\nx\x82"}, {"ok\n"}, "x" + kBad},
        {"lines dropped within a chunk", 40, 3, {many}, {manyRows}, ""},
        {"rows of a line beyond the bound", 40, 3, {std::string(manyRows).append("end")}, {manyRows}, "end"},
    };
    for (const Case& c : cases) {
        LineAssembly a(c.byteLimit, c.lineLimit);
        a.setEncoding(Encoding::Cp932);
        std::vector<std::string> calls;
        a.setLineObserver([&](std::string_view rows) { calls.emplace_back(rows); });
        for (const auto& chunk : c.chunks)
            a.append(chunk);
        EXPECT_EQ(calls, c.calls) << c.name;
        EXPECT_EQ(a.unfinishedLine(), c.unfinished) << c.name;
    }
}

// A bare-LF stream far beyond the bound, in random chunks: the observer's text followed by
// the unfinished row is exactly the stream.
TEST(LineAssembly, ObserverLosesNothingOfALongLine) {
    std::mt19937 rng(99);
    LineAssembly a(300, 20);
    a.setEncoding(Encoding::Cp932);
    std::string seen, expect;
    a.setLineObserver([&](std::string_view rows) { seen += rows; });
    std::string stream;
    for (int i = 0; i < 2000; ++i)
        stream += (i % 7 == 0 ? std::string(rng() % 50, 'y') : "row" + std::to_string(i)) + "\n";
    stream += std::string(700, 'z');  // a last row longer than the bound, with no LF
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t n = std::min<std::size_t>(1 + rng() % 200, stream.size() - at);
        a.append(stream.substr(at, n));
        at += n;
    }
    EXPECT_EQ(seen + a.unfinishedLine(), stream);
    EXPECT_LE(a.storedBytes(), 300u);
}

// Views fed per chunk, by takeUpdate() at random moments, or by merged per-chunk updates
// all end up with the lines, and the bounds hold, in both modes, with bytes, rows and
// CR rules mixed at random.
TEST(LineAssembly, AppendingViewsStayInLine) {
    const std::vector<std::string> alphabet = {"a", "\r", "\n", std::string(1, '\0'), "\x82\xa0", "\x82", "\xa0"};
    std::mt19937 rng(4711);
    for (int round = 0; round < 300; ++round) {
        const bool decoded = round % 2 == 0;
        const std::size_t byteLimit = 20 + rng() % 60, lineLimit = 2 + rng() % 10;
        LineAssembly a(byteLimit, lineLimit);
        if (decoded)
            a.setEncoding(Encoding::Cp932);
        followRandomChunks(a, alphabet, 25, rng, "round " + std::to_string(round), [&] {
            ASSERT_LE(a.storedBytes(), byteLimit) << "round " << round;
            ASSERT_LE(rowsOf(a), lineLimit) << "round " << round;
        });
    }
}

// What the view inserts is never more than what arrived: a growing line costs its new
// bytes, also for a host that ends lines with a bare LF and so never ends a line at all.
TEST(LineAssembly, ViewInsertsOnlyNewText) {
    for (const std::string eol : {"\r\n", "\n"}) {
        LineAssembly a(4000, 100);
        a.setEncoding(Encoding::Cp932);
        AppendingMirror view;
        std::size_t received = 0;
        std::string text;
        for (int i = 0; i < 3000; ++i)
            text += "\x8a\xbf\x8e\x9a row " + std::to_string(i) + eol;
        for (std::size_t at = 0, k = 0; at < text.size(); ++k) {
            const std::size_t n = std::min<std::size_t>(37 + k % 300, text.size() - at);
            a.append(text.substr(at, n));
            received += n;
            at += n;
            if (k % 3 == 0)
                view.apply(a, a.takeUpdate());
        }
        view.apply(a, a.takeUpdate());
        EXPECT_EQ(view.shown, linesOf(a));
        // Kanji take three bytes in UTF-8 against two received.
        EXPECT_LE(view.inserted, received * 3 / 2) << (eol == "\n" ? "LF" : "CR LF");
    }
}
