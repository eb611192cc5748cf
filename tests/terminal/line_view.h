#pragma once
// A view of the line assembly's lines as the window has it, fed by the updates alone: it
// drops lines from its front, cuts the rows the scrollback took from its last line,
// removes the `erased` UTF-16 units of it (checking they are what it shows), and appends
// the rest. It counts the bytes it had to insert.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "CharWidth.h"
#include "LineAssembly.h"

struct LineView {
    std::vector<std::string> shown;
    std::size_t inserted = 0;
    void apply(const LineAssembly& a, LineAssembly::Update u) {
        const auto& all = a.lines();
        ASSERT_LE(u.dropped, shown.size());
        shown.erase(shown.begin(), shown.begin() + static_cast<long>(u.dropped));
        const std::size_t fc = u.firstChanged;
        if (u.kept > 0) {
            ASSERT_EQ(shown.size(), fc + 1);
            std::string& last = shown.back();
            for (std::size_t r = 0; r < u.cutRows; ++r) {
                const std::size_t lf = last.find('\n');
                ASSERT_NE(lf, std::string::npos);
                last.erase(0, lf + 1);
            }
            for (std::size_t units = 0; units < u.cutUnits;) {
                ASSERT_FALSE(last.empty());
                const std::size_t n = utf8Length(static_cast<unsigned char>(last[0]));
                units += utf16Length(std::string_view(last).substr(0, n));
                last.erase(0, n);
            }
            ASSERT_LE(u.kept, last.size());
            ASSERT_EQ(utf16Length(std::string_view(last).substr(u.kept)), u.erased);
            last.resize(u.kept);
            last += all[fc].substr(u.kept);
            inserted += all[fc].size() - u.kept;
        } else {
            ASSERT_LE(fc, shown.size());
            shown.resize(fc);
            shown.push_back(all[fc]);
            inserted += all[fc].size();
        }
        for (std::size_t i = fc + 1; i < all.size(); ++i) {
            shown.push_back(all[i]);
            inserted += all[i].size() + 1;
        }
    }
};


// Sixty random chunks of `alphabet` pieces into `a`: views fed per chunk, by takeUpdate()
// at random moments and by merged per-chunk updates all end up with the lines. `check`
// looks at the assembly after each chunk.
template <class Rng, class Check>
void followRandomChunks(LineAssembly& a, const std::vector<std::string>& alphabet, unsigned maxPieces, Rng& rng,
                        const std::string& what, Check check) {
    LineView each, taken, merged;
    LineAssembly::Update pending;
    bool havePending = false;
    for (int i = 0; i < 60; ++i) {
        std::string c;
        for (int k = static_cast<int>(rng() % maxPieces); k > 0; --k)
            c += alphabet[rng() % alphabet.size()];
        const auto u = a.append(c);
        each.apply(a, u);
        pending = havePending ? LineAssembly::merge(pending, u) : u;
        havePending = true;
        if (rng() % 4 == 0)
            taken.apply(a, a.takeUpdate());
        if (rng() % 4 == 0) {
            merged.apply(a, pending);
            havePending = false;
        }
        check();
    }
    taken.apply(a, a.takeUpdate());
    if (havePending)
        merged.apply(a, pending);
    const std::vector<std::string> lines(a.lines().begin(), a.lines().end());
    EXPECT_EQ(each.shown, lines) << what;
    EXPECT_EQ(taken.shown, lines) << what;
    EXPECT_EQ(merged.shown, lines) << what;
}
