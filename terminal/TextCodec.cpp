#include "TextCodec.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "cp932.h"
#include "transcoder.h"

namespace {

struct Named {
    Encoding encoding;
    const char* name;
    const char* iconvName;
};
constexpr std::array<Named, 3> kEncodings{{
    {Encoding::Cp932, "cp932", "CP932"},
    {Encoding::Utf8, "utf-8", "UTF-8"},
    {Encoding::EucJp, "euc-jp", "EUC-JP"},
}};

const Named& named(Encoding e) {
    return *std::find_if(kEncodings.begin(), kEncodings.end(), [e](const Named& n) { return n.encoding == e; });
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the run of ASCII bytes at the start of `s`, eight bytes at a time.
std::size_t asciiRun(std::string_view s) {
    std::size_t i = 0;
    for (std::uint64_t word; i + 8 <= s.size(); i += 8) {
        std::memcpy(&word, s.data() + i, 8);
        if (word & 0x8080808080808080u)
            break;
    }
    while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80)
        ++i;
    return i;
}

// Bytes 2..4 of a UTF-8 sequence: the allowed range of the second byte depends on the
// first (no overlong forms, no surrogates, nothing past U+10FFFF); the rest are 80..BF.
struct Lead {
    int length;
    unsigned char low, high;
};
Lead leadOf(unsigned char c) {
    if (c >= 0xC2 && c <= 0xDF) return {2, 0x80, 0xBF};
    if (c == 0xE0) return {3, 0xA0, 0xBF};
    if (c == 0xED) return {3, 0x80, 0x9F};
    if (c >= 0xE1 && c <= 0xEF) return {3, 0x80, 0xBF};
    if (c == 0xF0) return {4, 0x90, 0xBF};
    if (c >= 0xF1 && c <= 0xF3) return {4, 0x80, 0xBF};
    if (c == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

// Copies valid UTF-8 from `in` to `out`; each maximal invalid part becomes `bad`. Returns
// the length of a valid but cut-off sequence at the end when keepIncomplete, else 0.
std::size_t checkUtf8(std::string_view in, std::string& out, std::string_view bad, bool keepIncomplete) {
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        const std::size_t ascii = i + asciiRun(in.substr(i));
        out.append(in.substr(i, ascii - i));
        i = ascii;
        if (i == n)
            break;
        const Lead lead = leadOf(static_cast<unsigned char>(in[i]));
        std::size_t j = i + 1;
        bool whole = lead.length > 0;
        for (int k = 1; whole && k < lead.length; ++k, ++j) {
            if (j == n) {
                if (keepIncomplete)
                    return n - i;
                whole = false;
                break;
            }
            const auto c = static_cast<unsigned char>(in[j]);
            const unsigned char low = k == 1 ? lead.low : 0x80, high = k == 1 ? lead.high : 0xBF;
            whole = c >= low && c <= high;
            if (!whole)
                break;
        }
        if (whole)
            out.append(in.substr(i, j - i));
        else
            out.append(bad);
        i = j;
    }
    return 0;
}

} // namespace

const char* encodingName(Encoding e) { return named(e).name; }

std::optional<Encoding> encodingByName(std::string_view name) {
    for (const Named& n : kEncodings)
        if (name == n.name)
            return n.encoding;
    return std::nullopt;
}

TextDecoder::TextDecoder(Encoding e) : encoding_(e) { setEncoding(e); }

TextDecoder::~TextDecoder() = default;

void TextDecoder::setEncoding(Encoding e) {
    // finish() moves the text already owed into its output first, so it may not write
    // into carry_ itself: a second switch would then lose the first one's U+FFFD.
    std::string owed;
    finish(owed);
    carry_ = std::move(owed);
    encoding_ = e;
    iconv_.reset();
    if (e != Encoding::Utf8)
        iconv_ = std::make_unique<Transcoder>("UTF-8", named(e).iconvName, kReplacement);
}

void TextDecoder::convert(std::string_view bytes, std::string& out, bool keepIncomplete) {
    if (!iconv_) {
        held_.assign(bytes.substr(bytes.size() - checkUtf8(bytes, out, kReplacement, keepIncomplete)));
        return;
    }
    // ASCII is the same in every encoding here: a leading run of it skips the converter.
    const std::size_t ascii = asciiRun(bytes);
    out.append(bytes.substr(0, ascii));
    bytes.remove_prefix(ascii);
    held_.assign(bytes.substr(bytes.size() - iconv_->convert(bytes, out, keepIncomplete)));
}

void TextDecoder::decode(std::string_view bytes, std::string& out) {
    if (!carry_.empty()) {
        out += carry_;
        carry_.clear();
    }
    if (held_.empty()) {
        convert(bytes, out, true);
        return;
    }
    // A held character is rare (once a chunk at most): decode it with the new bytes.
    std::string joined = held_;
    joined += bytes;
    convert(joined, out, true);
}

void TextDecoder::finish(std::string& out) {
    if (!carry_.empty()) {
        out += carry_;
        carry_.clear();
    }
    if (held_.empty())
        return;
    std::string held;
    held.swap(held_);
    convert(held, out, false);
}

std::string encodeText(std::string_view utf8, Encoding e) {
    std::string out;
    switch (e) {
    case Encoding::Cp932: return cp932::fromUtf8(utf8);
    case Encoding::Utf8: checkUtf8(utf8, out, "?", false); break;
    case Encoding::EucJp: Transcoder("EUC-JP", "UTF-8", "?", true).convert(utf8, out); break;
    }
    return out;
}
