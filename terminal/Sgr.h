#pragma once
// Display attributes of received text (SGR: Select Graphic Rendition) and the 16-colour
// palette they are shown in, on the window's black background. Plain C++, no Qt types.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "EscapeParser.h"

// The attributes of a run of text in one word: foreground and background (0: the
// window's own, 1 + n: palette colour n), bold, underline, reverse video.
using Attr = std::uint16_t;

namespace attr {

constexpr Attr kPlain = 0;
constexpr Attr kBold = 1u << 10, kUnderline = 1u << 11, kReverse = 1u << 12;

// -1 for the window's own colour, else 0-15.
constexpr int foreground(Attr a) { return (a & 0x1F) - 1; }
constexpr int background(Attr a) { return (a >> 5 & 0x1F) - 1; }
constexpr Attr withForeground(Attr a, int colour) { return Attr((a & ~0x1Fu) | unsigned(colour + 1)); }
constexpr Attr withBackground(Attr a, int colour) { return Attr((a & ~(0x1Fu << 5)) | unsigned(colour + 1) << 5); }

} // namespace attr

// The attributes after an SGR sequence's parameters, applied in order: 0 (and an empty
// parameter) resets; 1/22 bold; 4/24 underline; 7/27 reverse; 30-37, 90-97, 39 the
// foreground; 40-47, 100-107, 49 the background; 38;5;n and 48;5;n (also 38:5:n) and the
// direct colours 38;2;r;g;b take the nearest palette colour. Others are passed over.
Attr applySgr(Attr a, const Csi& seq);

struct Rgb {
    std::uint8_t r, g, b;
};

// The palette: black, red, green, yellow, blue, magenta, cyan, white, then the bright
// ones. Each colour but black stands out from the black background.
extern const Rgb kPalette[16];
// The window's own foreground (text without a colour) and background.
constexpr Rgb kDefaultForeground{255, 255, 255};
constexpr Rgb kDefaultBackground{0, 0, 0};

// The palette colour nearest to a colour of the 256-colour set, or to an RGB colour.
int nearestPaletteColour(int index256);
int nearestPaletteColour(Rgb c);

// The attributes of a line's text: each run ends at byte `end` of the line and starts
// where the one before it ends; bytes behind the last run are plain. Kept canonical (no
// empty run, no two neighbours alike, no plain run last), so equal text shown alike has
// equal runs.
struct Run {
    std::uint32_t end;
    Attr attr;
    bool operator==(const Run&) const = default;
};
using Runs = std::vector<Run>;

// Text [from, to) at the end of the line (from is the line's old size) has `a`.
void appendRun(Runs& runs, std::size_t from, std::size_t to, Attr a);
// The line is cut back to its first `size` bytes.
void truncateRuns(Runs& runs, std::size_t size);
// The line lost its first `cut` bytes.
void dropRunsFront(Runs& runs, std::size_t cut);
