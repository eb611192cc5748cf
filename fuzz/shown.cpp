#include "input.h"

namespace fuzzprops {

std::string shown(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (unsigned char c : bytes.substr(0, 200)) {
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    if (bytes.size() > 200) out += "...";
    return out + "\"";
}

}  // namespace fuzzprops
