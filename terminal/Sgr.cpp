#include "Sgr.h"

#include <algorithm>

// Chosen so that every colour but black has a contrast of at least 4.5:1 on black.
const Rgb kPalette[16] = {
    {0, 0, 0},       {224, 60, 50},   {40, 190, 70},   {215, 190, 40},  {70, 130, 250},  {200, 80, 210},
    {40, 185, 200},  {210, 210, 210}, {128, 128, 128}, {255, 100, 90},  {90, 230, 110},  {250, 235, 90},
    {120, 170, 255}, {240, 120, 250}, {90, 225, 240},  {255, 255, 255},
};

int nearestPaletteColour(Rgb c) {
    int best = 0;
    long bestDistance = -1;
    for (int i = 0; i < 16; ++i) {
        const long dr = c.r - kPalette[i].r, dg = c.g - kPalette[i].g, db = c.b - kPalette[i].b;
        const long d = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

int nearestPaletteColour(int n) {
    if (n < 16)
        return n;
    if (n >= 232) {
        const auto grey = static_cast<std::uint8_t>(8 + 10 * (n - 232));
        return nearestPaletteColour(Rgb{grey, grey, grey});
    }
    static constexpr std::uint8_t kLevels[] = {0, 95, 135, 175, 215, 255};
    n -= 16;
    return nearestPaletteColour(Rgb{kLevels[n / 36], kLevels[n / 6 % 6], kLevels[n % 6]});
}

namespace {

std::uint8_t channel(int v) { return static_cast<std::uint8_t>(std::min(v, 255)); }

// The colour of an extended colour code (38 or 48) whose mode and values are `p[0..n)`
// (5 n, or 2 r g b, or 2 colour-space r g b in the ':' form): a palette index, or -1.
int extendedColour(const std::uint16_t* p, std::size_t n) {
    if (n >= 2 && p[0] == 5)
        return p[1] < 256 ? nearestPaletteColour(int(p[1])) : -1;
    if (n >= 4 && p[0] == 2)
        return nearestPaletteColour(Rgb{channel(p[n - 3]), channel(p[n - 2]), channel(p[n - 1])});
    return -1;
}

} // namespace

Attr applySgr(Attr a, const Csi& s) {
    using namespace attr;
    if (s.count == 0)
        return kPlain;
    for (std::size_t i = 0; i < s.count; ++i) {
        std::size_t subs = 0;  // the sub-parameters (":") that belong to this one
        while (i + 1 + subs < s.count && s.isSub(i + 1 + subs))
            ++subs;
        const int v = s.values[i];
        if (v == 38 || v == 48) {
            int colour = -1;
            if (subs > 0) {
                colour = extendedColour(&s.values[i + 1], subs);
            } else if (i + 1 < s.count) {
                // 38;5;n and 38;2;r;g;b: the values are parameters of their own.
                const std::size_t want = s.values[i + 1] == 5 ? 2 : s.values[i + 1] == 2 ? 4 : 1;
                const std::size_t have = std::min(want, s.count - i - 1);
                if (have == want)
                    colour = extendedColour(&s.values[i + 1], have);
                subs = have;
            }
            if (colour >= 0)
                a = v == 38 ? withForeground(a, colour) : withBackground(a, colour);
        } else if (v == 0) {
            a = kPlain;
        } else if (v == 1) {
            a |= kBold;
        } else if (v == 22) {
            a &= Attr(~kBold);
        } else if (v == 4) {
            a = subs > 0 && s.values[i + 1] == 0 ? Attr(a & ~kUnderline) : Attr(a | kUnderline);
        } else if (v == 24) {
            a &= Attr(~kUnderline);
        } else if (v == 7) {
            a |= kReverse;
        } else if (v == 27) {
            a &= Attr(~kReverse);
        } else if (v >= 30 && v <= 37) {
            a = withForeground(a, v - 30);
        } else if (v == 39) {
            a = withForeground(a, -1);
        } else if (v >= 40 && v <= 47) {
            a = withBackground(a, v - 40);
        } else if (v == 49) {
            a = withBackground(a, -1);
        } else if (v >= 90 && v <= 97) {
            a = withForeground(a, v - 90 + 8);
        } else if (v >= 100 && v <= 107) {
            a = withBackground(a, v - 100 + 8);
        }
        i += subs;
    }
    return a;
}

void appendRun(Runs& runs, std::size_t from, std::size_t to, Attr a) {
    if (from == to || a == attr::kPlain)
        return;
    const std::size_t last = runs.empty() ? 0 : runs.back().end;
    if (last == from && !runs.empty() && runs.back().attr == a) {
        runs.back().end = static_cast<std::uint32_t>(to);
        return;
    }
    if (runs.empty())
        runs.reserve(8);  // a coloured line has a few runs: one allocation, not four
    if (last < from)
        runs.push_back({static_cast<std::uint32_t>(from), attr::kPlain});
    runs.push_back({static_cast<std::uint32_t>(to), a});
}

void truncateRuns(Runs& runs, std::size_t size) {
    while (!runs.empty() && (runs.size() > 1 ? runs[runs.size() - 2].end : 0u) >= size)
        runs.pop_back();
    if (!runs.empty() && runs.back().end > size)
        runs.back().end = static_cast<std::uint32_t>(size);
    if (!runs.empty() && runs.back().attr == attr::kPlain)
        runs.pop_back();
}

void dropRunsFront(Runs& runs, std::size_t cut) {
    std::size_t gone = 0;
    while (gone < runs.size() && runs[gone].end <= cut)
        ++gone;
    runs.erase(runs.begin(), runs.begin() + static_cast<std::ptrdiff_t>(gone));
    for (Run& r : runs)
        r.end -= static_cast<std::uint32_t>(cut);
}
