// The line assembly as a console reads the host's text: controls, escape sequences,
// columns and overwriting, attributes, fresh pages. Bytes in, lines as shown out.
#include "LineAssembly.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "CharWidth.h"
#include "Sgr.h"
#include "line_view.h"

namespace {

using Lines = std::vector<std::string>;

Lines linesOf(const LineAssembly& a) { return Lines(a.lines().begin(), a.lines().end()); }

const std::string ESC = "\x1b";
const std::string BS8(8, '\b');
const std::string A = "\x82\xa0", I = "\x82\xa2", U = "\x82\xa4";  // あ い う in code page 932

// Everything a screen holds: the lines, their attributes, the bells and pages, the caret.
struct Screen {
    Lines lines;
    std::vector<Runs> runs;
    std::size_t bells, pages, caret;
    bool operator==(const Screen&) const = default;
};

Screen screenOf(const LineAssembly& a) {
    Screen s{linesOf(a), {}, a.bells(), a.pages(), a.unitsAfterCaret()};
    for (std::size_t i = 0; i < a.lines().size(); ++i)
        s.runs.push_back(a.runs(i));
    return s;
}

std::ostream& operator<<(std::ostream& os, const Screen& s) {
    for (const auto& l : s.lines)
        os << '[' << l << ']';
    return os << " bells " << s.bells << " pages " << s.pages << " caret " << s.caret;
}

Screen feed(const std::vector<std::string>& chunks, Encoding e = Encoding::Cp932) {
    LineAssembly a;
    a.setEncoding(e);
    for (const auto& c : chunks)
        a.append(c);
    return screenOf(a);
}

Lines console(const std::vector<std::string>& chunks, Encoding e = Encoding::Cp932) { return feed(chunks, e).lines; }

} // namespace

TEST(ConsoleLines, ControlsAndSequencesShowAsAConsoleShowsThem) {
    struct Case {
        const char* name;
        std::string bytes;
        Lines lines;  // the last one is the current line
    };
    const std::vector<Case> cases = {
        {"pager prompt erased", "--More--" + BS8 + std::string(8, ' ') + BS8 + "interface eth0\r\n",
         {"interface eth0", ""}},
        {"erase behind a move left", "abcdef" + ESC + "[3DXY" + ESC + "[K", {"abcXY"}},
        {"BS never before the line's start", "ab\b\b\b\bX", {"Xb"}},
        {"BS never back over a lone LF", "ab\ncd\b\b\bX", {"ab\nXd"}},
        {"move right over text", "abc" + ESC + "[2D" + ESC + "[CX", {"abX"}},
        {"move right past the end pads once text follows", "ab" + ESC + "[3Cc" + ESC + "[9C\r\n", {"ab   c", ""}},
        {"a count of 0 is 1", "abc" + ESC + "[0DX", {"abX"}},
        {"erase up to the write position", "abcdef" + ESC + "[3D" + ESC + "[1K", {"    ef"}},
        {"erase the whole row, the position stays", "abcdef" + ESC + "[3D" + ESC + "[2KX", {"   X"}},
        {"erase below is erase to the end", "abcdef" + ESC + "[4D" + ESC + "[J", {"ab"}},
        {"tab at the end is kept", "a\tb", {"a\tb"}},
        {"tab within the text only moves", "0123456789" + ESC + "[10D\tX", {"01234567X9"}},
        {"overwriting a tab blanks the rest of it", "a\t\bX", {"a      X"}},
        {"BEL is not shown", "a\ab", {"ab"}},
        {"SGR", ESC + "[1mbold" + ESC + "[0m " + ESC + "[31mred" + ESC + "[m", {"bold red"}},
        {"OSC up to BEL", ESC + "]0;title\ax", {"x"}},
        {"OSC up to ST", ESC + "]0;title" + ESC + "\\x", {"x"}},
        {"OSC holds control bytes and text", ESC + "]2;a\r\nb\x93\xfa" + "\ax", {"x"}},
        {"DCS, APC up to ST", ESC + "Pq#0;1" + ESC + "\\" + ESC + "_app" + ESC + "\\x", {"x"}},
        {"two-byte sequences", ESC + "(B" + ESC + "7x" + ESC + "8" + ESC + "=", {"x"}},
        {"cursor addressing is passed over", "a" + ESC + "[5;10Hb" + ESC + "[3A" + ESC + "[?25l" + ESC + "[6n", {"ab"}},
        {"a control inside a sequence is carried out", "ab" + ESC + "[\b1mX", {"aX"}},
        {"CAN aborts a sequence", ESC + "[1\x18m", {"m"}},
        {"SUB aborts a sequence", ESC + "]0;t\x1ax", {"x"}},
        {"ESC starts a new sequence", ESC + "[1" + ESC + "[2mx", {"x"}},
        {"DEL is not shown", "a\x7f" "b", {"ab"}},
        {"NUL is not shown", std::string("a\0b", 3), {"ab"}},
        {"a character ends a sequence and shows", ESC + "[1" + A, {"あ"}},
        {"lead bytes 80-9F are no C1 controls", "\x88\x9f\x81\x40" "x", {"亜\u3000x"}},
        {"CR and CR LF still end lines", "a\rb\r\nc\r\r\nd", {"a", "b", "c", "", "d"}},
        {"CR inside a sequence ends the line", ESC + "[3\r\nm" + "x", {"", "x"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(console({c.bytes}), c.lines) << c.name;
}

TEST(ConsoleLines, WideCharactersTakeTwoColumns) {
    struct Case {
        const char* name;
        Encoding encoding;
        std::string bytes;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"BS into the right half, then text: the left half goes", Encoding::Cp932, A + "\bx", " x"},
        {"two BS, then text: the right half goes", Encoding::Cp932, A + "\b\bx", "x "},
        {"the console's kanji erase", Encoding::Cp932, A + I + "\b\b  \b\b" + U, "あう"},
        {"a wide character over the half of another", Encoding::Cp932, "a" + A + "\b\b\b" + I, "い "},
        {"over two narrow ones", Encoding::Cp932, "abc\b\b\b" + U, "うc"},
        {"halfwidth katakana take one", Encoding::Cp932, "\xb1\xb2\bx", "\xef\xbd\xb1x"},
        {"erase from the right half", Encoding::Cp932, "x" + A + "\b" + ESC + "[K", "x "},
        {"tab stops count wide characters as two", Encoding::Cp932, A + A + A + A + "\tx" + ESC + "[9D*",
         "ああああ*       x"},
        {"UTF-8 wide characters", Encoding::Utf8, "日本\b\bx", "日x "},
        {"UTF-8 combining mark stays with its letter", Encoding::Utf8, "e\xcc\x81" "a\b\bx", "xa"},
        {"EUC-JP double-byte characters", Encoding::EucJp, "\xc6\xfc\b\bx", "x "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(console({c.bytes}, c.encoding), Lines{c.line}) << c.name;
}

// Attributes are kept per run of text: canonical runs, so equal text shown alike compares equal.
TEST(ConsoleLines, SgrSetsTheAttributesOfRuns) {
    using namespace attr;
    const Attr red = withForeground(kPlain, 1);
    LineAssembly a;
    a.setEncoding(Encoding::Cp932);
    a.append("a" + ESC + "[31mred" + ESC + "[0m b" + ESC + "[1;4;7mX" + ESC + "[22;24;27mY\r\n");
    EXPECT_EQ(a.lines()[0], "ared bXY");
    EXPECT_EQ(a.runs(0), (Runs{{1, kPlain}, {4, red}, {6, kPlain}, {7, Attr(kBold | kUnderline | kReverse)}}));
    // Overwriting takes the attributes of the new text; the rest keeps its own.
    a.append("abc" + ESC + "[31m\b\bX" + ESC + "[m\r\n");
    EXPECT_EQ(a.lines()[1], "aXc");
    EXPECT_EQ(a.runs(1), (Runs{{1, kPlain}, {2, red}}));
    // An erase leaves plain blanks.
    a.append(ESC + "[44mabcd" + ESC + "[2D" + ESC + "[1K" + ESC + "[m");
    EXPECT_EQ(a.lines()[2], "   d");
    EXPECT_EQ(a.runs(2), (Runs{{3, kPlain}, {4, withBackground(kPlain, 4)}}));
}

TEST(ConsoleLines, SgrParameters) {
    using namespace attr;
    struct Case {
        const char* params;
        Attr from;
        Attr want;
    };
    const Attr bold = kBold;
    const Case cases[] = {
        {"", bold, kPlain},
        {"0", bold, kPlain},
        {";31", bold, withForeground(kPlain, 1)},  // empty is 0
        {"1;22", kPlain, kPlain},
        {"4:0", kUnderline, kPlain},
        {"4:3", kPlain, kUnderline},
        {"37;47", kPlain, withBackground(withForeground(kPlain, 7), 7)},
        {"90;107", kPlain, withBackground(withForeground(kPlain, 8), 15)},
        {"39;49", withBackground(withForeground(bold, 2), 3), bold},
        {"38;5;196", kPlain, withForeground(kPlain, 1)},
        {"38:5:21", kPlain, withForeground(kPlain, 4)},
        {"48;5;11", kPlain, withBackground(kPlain, 11)},
        {"48;5;255;1", kPlain, withBackground(bold, 15)},
        {"38;5;232", kPlain, withForeground(kPlain, 0)},
        {"38;2;250;250;250;4", kPlain, Attr(withForeground(kPlain, 15) | kUnderline)},
        {"38:2::0:200:60", kPlain, withForeground(kPlain, 2)},
        {"38;5", bold, bold},            // cut short: nothing
        {"38;5;300;1", kPlain, bold},    // no such colour; the next code still counts
        {"2;3;5;8;9;53", kPlain, kPlain},  // codes not shown are passed over
    };
    for (const Case& c : cases) {
        struct Catch : EscapeSink {
            Csi seq;
            void print(std::string_view) override {}
            void control(char) override {}
            void csi(const Csi& s) override { seq = s; }
            void escape(char, char) override {}
        } sink;
        EscapeParser p;
        p.feed(ESC + "[" + c.params + "m", sink);
        ASSERT_EQ(sink.seq.final, 'm') << c.params;
        EXPECT_EQ(applySgr(c.from, sink.seq), c.want) << c.params;
    }
    EXPECT_EQ(nearestPaletteColour(9), 9);
    EXPECT_EQ(nearestPaletteColour(Rgb{0, 0, 0}), 0);
}

// Every colour of the palette but black can be read on the black background.
TEST(ConsoleLines, PaletteIsReadableOnBlack) {
    auto luminance = [](Rgb c) {
        auto lin = [](int v) {
            const double x = v / 255.0;
            return x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * lin(c.r) + 0.7152 * lin(c.g) + 0.0722 * lin(c.b);
    };
    for (int i = 1; i < 16; ++i)
        EXPECT_GE((luminance(kPalette[i]) + 0.05) / 0.05, 4.5) << "colour " << i;
}

// The same stream, whole or cut at any point (never between a CR and its LF, which the
// line rules read as two line ends), byte by byte or in two pieces, gives the same screen.
TEST(ConsoleLines, SplitSequencesGiveTheSameScreen) {
    const std::string stream = "a" + ESC + "[1;31mb" + ESC + "[38:5:196mc" + ESC + "]0;t\x93\xfa" + ESC + "\\d" +
                               ESC + "]2;x\ae\x1b(Bf" + ESC + "[3D" + ESC + "[1K\a" + A + "\b\bg\thij" + ESC +
                               "[K" + ESC + "[2J" + ESC + "[H\r\n--More--" + BS8 + "        " + BS8 + "k" +
                               ESC + "Pq" + ESC + "\\" + ESC + "[?25h\x1b[\a4D" + ESC + "[C\nl" + ESC + "[0m";
    for (const Encoding e : {Encoding::Cp932, Encoding::Utf8}) {
        const Screen whole = feed({stream}, e);
        ASSERT_EQ(whole.pages, 1u);
        ASSERT_EQ(whole.bells, 2u);
        std::vector<std::string> bytes;
        for (std::size_t i = 0; i < stream.size(); ++i) {
            if (stream[i] == '\r' && i + 1 < stream.size() && stream[i + 1] == '\n')
                bytes.push_back(stream.substr(i++, 2));
            else
                bytes.push_back(stream.substr(i, 1));
        }
        EXPECT_EQ(feed(bytes, e), whole) << encodingName(e);
        for (std::size_t cut = 1; cut < stream.size(); ++cut) {
            if (stream[cut - 1] == '\r' && stream[cut] == '\n')
                continue;
            EXPECT_EQ(feed({stream.substr(0, cut), stream.substr(cut)}, e), whole) << "cut at " << cut;
        }
    }
}

// CSI 2 J and 3 J start a fresh page: what came before stays above it, a current line
// with text in it included; an empty current line is the page's first line.
TEST(ConsoleLines, EraseScreenStartsAFreshPage) {
    LineAssembly a(1 << 20, 5);
    a.setEncoding(Encoding::Cp932);
    EXPECT_EQ(a.pageTop(), std::nullopt);
    a.append("old\r\nprompt> " + ESC + "[2J" + ESC + "[HMenu\r\n");
    EXPECT_EQ(linesOf(a), (Lines{"old", "prompt> ", "Menu", ""}));
    EXPECT_EQ(a.pages(), 1u);
    EXPECT_EQ(a.pageTop(), 2u);
    a.append(ESC + "[3Jx");
    EXPECT_EQ(a.pageTop(), 3u);
    EXPECT_EQ(linesOf(a), (Lines{"old", "prompt> ", "Menu", "x"}));
    a.append("\r\n" + ESC + "c" + ESC + "[31my");  // a full reset is a fresh page too
    EXPECT_EQ(a.pages(), 3u);
    EXPECT_EQ(a.pageTop(), 4u);
    a.append("\r\n1\r\n2\r\n3\r\n4\r\n");  // the page's first line leaves the scrollback
    EXPECT_EQ(a.pageTop(), std::nullopt);
}

TEST(ConsoleLines, BellsAndTheWritePosition) {
    LineAssembly a;
    a.setEncoding(Encoding::Cp932);
    a.append("\a\a" + ESC + "]0;t\a" + ESC + "[\am");  // the BEL that ends an OSC does not ring
    EXPECT_EQ(a.bells(), 3u);
    EXPECT_EQ(a.unitsAfterCaret(), 0u);
    a.append("abc\b\b");
    EXPECT_EQ(a.unitsAfterCaret(), 2u);
    a.append(A + I + "\b\b");
    EXPECT_EQ(a.unitsAfterCaret(), 1u);
    a.append("\r\n" + std::string(ESC + "[5C"));
    EXPECT_EQ(a.unitsAfterCaret(), 0u);
}

// The log's feed sees each row as finally shown, once it is final.
TEST(ConsoleLines, ObserverSeesRowsAsShown) {
    LineAssembly a;
    a.setEncoding(Encoding::Cp932);
    std::string seen;
    a.setLineObserver([&](std::string_view rows) { seen += rows; });
    a.append("--More--" + BS8 + "        ");
    EXPECT_EQ(seen, "");
    a.append(BS8 + "line " + ESC + "[32mgreen" + ESC + "[m\nrow\b\bX");
    EXPECT_EQ(seen, "line green\n");
    EXPECT_EQ(a.unfinishedLine(), "rXw");
    a.append("\r\n" + ESC + "[2J" + ESC + "[Hpage\r");
    EXPECT_EQ(seen, "line green\nrXw\npage\n");
}

// A scrollback full of coloured text still holds at most the bound of text: runs are
// not counted, and each kept line keeps its own runs.
TEST(ConsoleLines, ScrollbackBoundWithAttributes) {
    LineAssembly a(600, 1000);
    a.setEncoding(Encoding::Cp932);
    auto lineBytes = [&](int i) {
        return "L" + std::to_string(i) + " " + ESC + "[3" + std::to_string(i % 8) + "mword" + ESC + "[0m tail\r\n";
    };
    for (int i = 0; i < 200; ++i)
        a.append(lineBytes(i));
    std::size_t sum = 0;
    for (const auto& l : a.lines())
        sum += l.size() + 1;
    EXPECT_EQ(a.storedBytes(), sum - 1);
    EXPECT_LE(a.storedBytes(), 600u);
    const std::size_t kept = a.lines().size() - 1;
    ASSERT_GT(kept, 10u);
    for (std::size_t k = 0; k < kept; ++k) {
        const int i = 200 - static_cast<int>(kept) + static_cast<int>(k);
        LineAssembly one;
        one.setEncoding(Encoding::Cp932);
        one.append(lineBytes(i));
        EXPECT_EQ(a.lines()[k], one.lines()[0]) << i;
        EXPECT_EQ(a.runs(k), one.runs(0)) << i;
    }

    // One coloured line far beyond the bound keeps its newest part with that part's runs.
    LineAssembly cut(64, 100), whole;
    cut.setEncoding(Encoding::Cp932);
    whole.setEncoding(Encoding::Cp932);
    for (int i = 0; i < 50; ++i) {
        const std::string chunk = ESC + "[3" + std::to_string(i % 8) + "m" + std::to_string(i) + A;
        cut.append(chunk);
        whole.append(chunk);
    }
    EXPECT_LE(cut.storedBytes(), 64u);
    const std::string& tail = cut.lines().back();
    const std::string& full = whole.lines().back();
    ASSERT_EQ(full.substr(full.size() - tail.size()), tail);
    const std::size_t off = full.size() - tail.size();
    auto attrAt = [](const Runs& runs, std::size_t at) {
        for (const ::Run& r : runs)
            if (at < r.end)
                return r.attr;
        return attr::kPlain;
    };
    for (std::size_t i = 0; i < tail.size(); ++i)
        ASSERT_EQ(attrAt(cut.runs(0), i), attrAt(whole.runs(0), off + i)) << i;
}


// Random console streams, past both bounds: views fed per chunk, by takeUpdate() at
// random moments, or by merged updates all show the kept lines.
TEST(ConsoleLines, ViewsFollowOverwritesAndErases) {
    const std::vector<std::string> alphabet = {"ab", "\r", "\n", "\b", "\t", A, ESC + "[2D", ESC + "[C",
                                               ESC + "[K", ESC + "[1K", ESC + "[2K", ESC + "[31m", ESC + "[m",
                                               ESC + "[5", "m", ESC + "[2J", "\r\n", "\xcc\x81"};
    std::mt19937 rng(31337);
    for (int round = 0; round < 300; ++round) {
        const std::size_t byteLimit = 30 + rng() % 200, lineLimit = 2 + rng() % 10;
        LineAssembly a(byteLimit, lineLimit);
        a.setEncoding(round % 3 == 0 ? Encoding::Utf8 : Encoding::Cp932);
        followRandomChunks(a, alphabet, 12, rng, "round " + std::to_string(round),
                           [&] { ASSERT_LE(a.storedBytes(), byteLimit) << "round " << round; });
    }
}

// A host that keeps rewriting the end of a long row (a spinner, a progress counter) costs
// the view what it rewrote, not the row.
TEST(ConsoleLines, RewritingTheEndOfALongRowCostsItsChangedPart) {
    LineAssembly a;
    a.setEncoding(Encoding::Cp932);
    LineView view;
    a.append(std::string(20000, 'x'));
    view.apply(a, a.takeUpdate());
    view.inserted = 0;
    const char spinner[] = "|/-\\";
    for (int i = 0; i < 1000; ++i) {
        a.append(std::string("\b") + spinner[i % 4] + ESC + "[3D" + std::to_string(i % 100) + ESC + "[K");
        view.apply(a, a.takeUpdate());
    }
    EXPECT_EQ(view.shown, linesOf(a));
    EXPECT_LE(view.inserted, 1000u * 8);
}

// A line beyond the whole scrollback with no line break in it: the bound takes text from
// its front, and the view takes the same from what it shows, so it inserts each received
// character once instead of the kept half again at every cut. Wide characters too.
TEST(ConsoleLines, LongLineCutAtTheBoundCostsTheViewOnlyNewText) {
    struct Case {
        Encoding encoding;
        std::string unit;  // one character as sent
        std::size_t shownBytes;
    };
    const Case cases[] = {{Encoding::Cp932, "x", 1}, {Encoding::Cp932, "\x82\xa0", 3}, {Encoding::Utf8, "\xF0\x9F\x98\x80", 4}};
    for (const Case& c : cases) {
        LineAssembly a(4096, 100);
        a.setEncoding(c.encoding);
        LineView view;
        std::string chunk;
        for (int i = 0; i < 333; ++i)
            chunk += c.unit;
        for (int i = 0; i < 300; ++i) {
            a.append(chunk);
            view.apply(a, a.takeUpdate());
            ASSERT_EQ(view.shown, linesOf(a)) << "chunk " << i;
        }
        EXPECT_LE(a.storedBytes(), 4096u);
        EXPECT_LE(view.inserted, 300u * 333 * c.shownBytes);
    }
}
