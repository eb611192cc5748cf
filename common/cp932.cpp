#include "cp932.h"

#include "transcoder.h"

namespace cp932 {

std::string toUtf8(std::string_view sjis) {
    std::string out;
    out.reserve(sjis.size() * 2);
    Transcoder("UTF-8", "CP932", "\xEF\xBF\xBD").convert(sjis, out);
    return out;
}

std::string fromUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    Transcoder("CP932", "UTF-8", "?", true).convert(utf8, out);
    return out;
}

} // namespace cp932
