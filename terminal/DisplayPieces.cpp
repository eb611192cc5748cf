#include "DisplayPieces.h"

namespace {

constexpr std::size_t kTab = 8;

} // namespace

void PieceCutter::cut(std::string_view utf8, std::size_t base, std::vector<std::size_t>& cuts) {
    const std::size_t n = utf8.size();
    std::size_t i = 0;
    while (i < n) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        std::size_t width, bytes = 1;
        if (b == '\n') {
            col_ = 0;
            ++i;
            continue;
        }
        if (b == '\t') {
            width = kTab - col_ % kTab;
        } else if (b < 0x80) {
            width = 1;
        } else {
            const Utf8Char c = firstChar(utf8.substr(i));
            bytes = c.bytes;
            const int w = ::columnsOf(c.code, rule_);
            width = w < 0 ? 0 : static_cast<std::size_t>(w);
        }
        if (width > 0 && col_ > 0 && col_ + width > limit_) {
            cuts.push_back(base + i);
            col_ = 0;
            if (b == '\t')
                width = kTab;  // a tab at a block's start goes to its first stop
        }
        col_ += width;
        i += bytes;
    }
}

std::size_t PieceCutter::columnsOf(std::string_view utf8) {
    const std::size_t saved = col_;
    col_ = 0;
    std::vector<std::size_t> ignored;
    cut(utf8, 0, ignored);
    const std::size_t cols = col_;
    col_ = saved;
    return cols;
}
