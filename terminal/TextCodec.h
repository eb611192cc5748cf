#pragma once
// The character encodings a host may speak. Received bytes are decoded to UTF-8 for the
// screen and the log; typed and pasted text is encoded from UTF-8 for the host.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

enum class Encoding { Cp932, Utf8, EucJp };

// "cp932", "utf-8", "euc-jp" (the option values and the names shown to the user).
const char* encodingName(Encoding e);
std::optional<Encoding> encodingByName(std::string_view name);

class Transcoder;

// Decodes a stream of chunks. A multi-byte character cut off at the end of a chunk is
// held until its remaining bytes arrive; invalid bytes become U+FFFD, never dropped.
class TextDecoder {
public:
    explicit TextDecoder(Encoding e = Encoding::Cp932);
    ~TextDecoder();

    Encoding encoding() const { return encoding_; }
    // Applies to bytes decoded from now on: a character still held is incomplete in the
    // old encoding and comes out as U+FFFD ahead of the next text.
    void setEncoding(Encoding e);

    // Appends the text of `bytes` to `out`.
    void decode(std::string_view bytes, std::string& out);
    // Ends the stream (or a line): a held partial character comes out as U+FFFD.
    void finish(std::string& out);
    // True while bytes of a partial character are held.
    bool holding() const { return !held_.empty() || !carry_.empty(); }

private:
    void convert(std::string_view bytes, std::string& out, bool keepIncomplete);

    Encoding encoding_;
    std::unique_ptr<Transcoder> iconv_;  // CP932 and EUC-JP; UTF-8 is checked by hand
    std::string held_;                   // start of a partial character
    std::string carry_;                  // text owed from before an encoding switch
};

// UTF-8 text -> bytes in `e`. A character `e` cannot hold becomes '?'.
std::string encodeText(std::string_view utf8, Encoding e);
