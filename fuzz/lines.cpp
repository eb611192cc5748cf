// Any chunks through the line assembly, once with a small scrollback bound and once
// without one. The bound holds, the unbounded lines give back the text, the bounded lines
// are the newest ones (each the tail of its whole line, cut between characters), and a
// view that follows the updates shows what the assembly holds.
#include <deque>
#include <vector>

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

}  // namespace

// Input: the byte bound less 2, the line bound less 1 (mod 16), then length-prefixed chunks.
std::string lines(std::string_view bytes) {
    Input in(bytes);
    const std::size_t byteLimit = 2 + in.byte();
    const std::size_t lineLimit = 1 + in.byte() % 16;
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
    return "";
}

}  // namespace fuzzprops
