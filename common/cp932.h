#pragma once
// Code page 932 (Shift-JIS) byte text <-> UTF-8. Every text inside the programs
// is CP932 bytes; UTF-8 exists only on the way to and from the toolkit.
#include <string>
#include <string_view>

namespace cp932 {

// Undecodable bytes become U+FFFD, so no input is ever dropped silently.
std::string toUtf8(std::string_view sjis);

// Characters that CP932 cannot hold become '?'; invalid UTF-8 likewise.
std::string fromUtf8(std::string_view utf8);

// A CP932 text written as a UTF-8 literal in the source ("検索" and the like).
inline std::string sj(const char* utf8) { return fromUtf8(utf8); }

} // namespace cp932
