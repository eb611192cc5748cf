#pragma once
// Stand-in for the session text codec until the real one arrives: the encodings the
// session can speak and the encoding of outgoing text. Characters an encoding cannot
// hold become '?', as typed text in code page 932 always has.
#include <iconv.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "cp932.h"

enum class Encoding { Cp932, Utf8, EucJp };

inline std::string encodeText(Encoding enc, std::string_view utf8) {
    if (enc == Encoding::Cp932)
        return cp932::fromUtf8(utf8);
    if (enc == Encoding::Utf8)
        return std::string(utf8);
    std::string out;
    iconv_t cd = ::iconv_open("EUC-JP", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return out;
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char buf[256];
    while (inLeft > 0) {
        char* o = buf;
        std::size_t oLeft = sizeof buf;
        std::size_t r = ::iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buf, static_cast<std::size_t>(o - buf));
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // Skip the one character that does not convert (or the bad byte).
            std::size_t skip = 1;
            while (skip < inLeft && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80)
                ++skip;
            out += '?';
            in += skip;
            inLeft -= skip;
        }
    }
    ::iconv_close(cd);
    return out;
}
