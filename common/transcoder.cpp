#include "transcoder.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

Transcoder::Transcoder(const char* to, const char* from, std::string_view bad, bool fromUtf8)
    : cd_(iconv_open(to, from)), bad_(bad), fromUtf8_(fromUtf8) {
    if (cd_ == reinterpret_cast<void*>(-1))
        throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
}

Transcoder::~Transcoder() { iconv_close(static_cast<iconv_t>(cd_)); }

std::size_t Transcoder::convert(std::string_view in, std::string& out, bool keepIncomplete) {
    auto cd = static_cast<iconv_t>(cd_);
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    char buf[4096];
    while (left > 0) {
        char* dst = buf;
        std::size_t room = sizeof buf;
        const std::size_t r = iconv(cd, &src, &left, &dst, &room);
        out.append(buf, static_cast<std::size_t>(dst - buf));
        if (r != static_cast<std::size_t>(-1) || errno == E2BIG)
            continue;
        if (errno == EINVAL) {
            // The rest is the start of one character, cut off.
            if (keepIncomplete)
                return left;
            out.append(bad_);
            break;
        }
        // An invalid sequence: replace the smallest unit of the source (one byte, or one
        // UTF-8 sequence: a whole character the target lacks, or a lead byte with the
        // continuation bytes that follow it) and go on. Bytes that cannot continue the
        // sequence are not part of it: they are converted on their own.
        std::size_t skip = 1;
        if (fromUtf8_) {
            const auto c = static_cast<unsigned char>(*src);
            const std::size_t length = c >= 0xF5 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 1;
            while (skip < length && skip < left && (static_cast<unsigned char>(src[skip]) & 0xC0) == 0x80)
                ++skip;
        }
        out.append(bad_);
        src += skip;
        left -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return 0;
}
