#pragma once
// Cuts a fuzz input into the pieces a target needs. Past the end every read gives
// zero or empty, so any input, however short, is a valid one.
#include <cstddef>
#include <string>
#include <string_view>

namespace fuzzprops {

class Input {
public:
    explicit Input(std::string_view bytes) : rest_(bytes) {}

    bool empty() const { return rest_.empty(); }
    unsigned char byte() {
        if (rest_.empty()) return 0;
        auto b = static_cast<unsigned char>(rest_.front());
        rest_.remove_prefix(1);
        return b;
    }
    // `n` bytes, fewer at the end.
    std::string_view take(std::size_t n) {
        std::string_view part = rest_.substr(0, n);
        rest_.remove_prefix(part.size());
        return part;
    }
    // A piece whose length is the next byte.
    std::string_view sized() { return take(byte()); }
    // Up to the next `sep` byte (not included), or the rest.
    std::string_view until(char sep) {
        std::size_t at = rest_.find(sep);
        std::string_view part = rest_.substr(0, at);
        rest_.remove_prefix(at == std::string_view::npos ? rest_.size() : at + 1);
        return part;
    }
    std::string_view rest() { return take(rest_.size()); }

private:
    std::string_view rest_;
};

// Printable form of bytes for a failure message.
std::string shown(std::string_view bytes);

}  // namespace fuzzprops
