#pragma once
// One iconv conversion kept open across the chunks of a stream. A byte sequence the
// target cannot take becomes `bad`; nothing is dropped silently.
#include <cstddef>
#include <string>
#include <string_view>

class Transcoder {
public:
    // fromUtf8: the source is UTF-8, so an invalid sequence is stepped over whole.
    Transcoder(const char* to, const char* from, std::string_view bad, bool fromUtf8 = false);
    ~Transcoder();
    Transcoder(const Transcoder&) = delete;
    Transcoder& operator=(const Transcoder&) = delete;

    // Appends the conversion of `in` to `out`. With keepIncomplete, a sequence cut off
    // at the end of `in` is left unconverted and its length returned, for the caller to
    // put in front of the next chunk; otherwise it becomes `bad` and 0 is returned.
    std::size_t convert(std::string_view in, std::string& out, bool keepIncomplete = false);

private:
    void* cd_;
    std::string bad_;
    bool fromUtf8_;
};
