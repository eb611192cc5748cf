#include "LineAssembly.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cp932.h"

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
