#pragma once
// The escape-sequence stage of the display path: decoded text (UTF-8) in, and out come
// runs of printable text, control characters, CSI sequences and two-byte ESC sequences.
// A state machine after DEC's parser for ANSI-compatible terminals: every byte has a
// defined effect in every state, C0 controls inside a sequence are carried out there,
// CAN and SUB abort a sequence, ESC starts a new one. OSC, DCS, SOS, PM and APC strings
// are consumed up to ST (an OSC also up to BEL). Only 7-bit sequences exist here: the
// text is decoded first, so the lead bytes of code page 932 are never taken for C1
// controls, and the C1 characters U+0080-U+009F of a UTF-8 host are dropped.
// The state survives from one chunk to the next, so a sequence may be cut anywhere.
#include <array>
#include <cstdint>
#include <string_view>

// One CSI sequence: ESC [ prefix? parameters intermediate? final.
struct Csi {
    static constexpr std::size_t kMaxParams = 32;
    static constexpr std::uint16_t kMaxValue = 9999;  // larger values are taken as this

    char prefix = 0;        // a private marker '<', '=', '>' or '?', else 0
    char intermediate = 0;  // the intermediate byte (0x20-0x2F), else 0
    bool extra = false;     // more than one intermediate or marker: a sequence nobody here means
    char final = 0;
    std::uint8_t count = 0;  // parameters given; an empty one counts, as 0
    std::array<std::uint16_t, kMaxParams> values{};
    std::uint32_t subMask = 0;  // bit i: parameter i followed a ':' (a sub-parameter)

    // Parameter i, or `missing` when it is absent or 0.
    int param(std::size_t i, int missing) const {
        return i < count && values[i] != 0 ? values[i] : missing;
    }
    bool isSub(std::size_t i) const { return i < count && (subMask >> i & 1u); }
    // True when the sequence has no private marker and no intermediate.
    bool plain() const { return prefix == 0 && intermediate == 0 && !extra; }
};

class EscapeSink {
public:
    virtual ~EscapeSink() = default;
    // Printable characters (never a control, never cut inside a character).
    virtual void print(std::string_view utf8) = 0;
    // A C0 control character: 0x00-0x1F other than ESC.
    virtual void control(char c) = 0;
    virtual void csi(const Csi& seq) = 0;
    // ESC, at most one intermediate byte, final byte.
    virtual void escape(char intermediate, char final) = 0;
};

class EscapeParser {
public:
    enum class State : std::uint8_t {
        Ground, Escape, EscInter, CsiEntry, CsiParam, CsiInter, CsiIgnore, OscString, IgnoredString,
    };

    // `utf8` must be whole characters of valid UTF-8 (what the decoder gives).
    void feed(std::string_view utf8, EscapeSink& sink);
    State state() const { return state_; }

private:
    void collect(char c);
    void param(char c);

    State state_ = State::Ground;
    Csi seq_;
    bool full_ = false;  // the parameter list is full: further digits are dropped
};
