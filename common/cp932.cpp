#include "cp932.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace cp932 {
namespace {

// One conversion; on a byte sequence the target cannot take, emit `bad` and step over
// the smallest unit of the source (one byte of CP932, one UTF-8 sequence).
std::string convert(const char* to, const char* from, std::string_view in, std::string_view bad,
                    bool fromIsUtf8) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    std::string out;
    out.reserve(in.size() * 2);
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    char buf[1024];
    while (left > 0) {
        char* dst = buf;
        size_t room = sizeof buf;
        size_t r = iconv(cd, &src, &left, &dst, &room);
        out.append(buf, dst - buf);
        if (r != static_cast<size_t>(-1) || errno == E2BIG)
            continue;
        // EILSEQ or EINVAL (truncated tail): replace one unit and go on.
        size_t skip = 1;
        if (fromIsUtf8) {
            unsigned char c = static_cast<unsigned char>(*src);
            skip = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (skip > left)
                skip = left;
        }
        out.append(bad);
        src += skip;
        left -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

} // namespace

std::string toUtf8(std::string_view sjis) {
    return convert("UTF-8", "CP932", sjis, "\xEF\xBF\xBD", false);
}

std::string fromUtf8(std::string_view utf8) {
    return convert("CP932", "UTF-8", utf8, "?", true);
}

} // namespace cp932
