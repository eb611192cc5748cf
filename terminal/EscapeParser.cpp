#include "EscapeParser.h"

#include <array>
#include <algorithm>
#include <cstring>

namespace {

using State = EscapeParser::State;

// Byte classes: the columns of the table.
enum Class : std::uint8_t {
    Ctl,      // C0 controls carried out: 00-06, 08-17, 19, 1C-1F
    Bel,      // 07: carried out, and the end of an OSC string
    Abort,    // CAN 18, SUB 1A
    Esc,      // 1B
    Inter,    // 20-2F
    Digit,    // 30-39
    Colon,    // 3A: sub-parameters (38:5:n)
    Semi,     // 3B
    Priv,     // 3C-3F: private markers
    CsiOpen,  // [
    OscOpen,  // ]
    StrOpen,  // P X ^ _: DCS, SOS, PM, APC
    Final,    // the rest of 40-7E
    Del,      // 7F: ignored everywhere
    High,     // 80-FF: part of a non-ASCII character
    kClasses
};

constexpr Class classify(unsigned char b) {
    if (b >= 0x80) return High;
    if (b == 0x07) return Bel;
    if (b == 0x18 || b == 0x1A) return Abort;
    if (b == 0x1B) return Esc;
    if (b < 0x20) return Ctl;
    if (b < 0x30) return Inter;
    if (b < 0x3A) return Digit;
    if (b == 0x3A) return Colon;
    if (b == 0x3B) return Semi;
    if (b < 0x40) return Priv;
    if (b == '[') return CsiOpen;
    if (b == ']') return OscOpen;
    if (b == 'P' || b == 'X' || b == '^' || b == '_') return StrOpen;
    if (b < 0x7F) return Final;
    return Del;
}

constexpr std::array<Class, 256> kClassOf = [] {
    std::array<Class, 256> t{};
    for (int b = 0; b < 256; ++b)
        t[static_cast<std::size_t>(b)] = classify(static_cast<unsigned char>(b));
    return t;
}();

enum Action : std::uint8_t {
    No,        // nothing
    Print,     // (in ground, runs of text are printed before the table is asked)
    Exec,      // carry out a control
    Clear,     // a new sequence begins
    Collect,   // a private marker or an intermediate
    Param,     // a digit, ';' or ':'
    EscDo,     // dispatch a two-byte ESC sequence
    CsiDo,     // dispatch a CSI sequence
    Reground,  // a non-ASCII character ends the sequence and is printed
};

struct Step {
    Action action;
    State next;
};

constexpr State G = State::Ground, E = State::Escape, EI = State::EscInter, CE = State::CsiEntry,
                CP = State::CsiParam, CI = State::CsiInter, CX = State::CsiIgnore, OS = State::OscString,
                IS = State::IgnoredString;

// state x class -> action, next state. Columns:
//   Ctl       Bel       Abort     Esc        Inter        Digit      Colon      Semi       Priv
//   CsiOpen   OscOpen   StrOpen   Final      Del          High
constexpr Step kTable[][kClasses] = {
    /* Ground */ {{Exec, G}, {Exec, G}, {Exec, G}, {Clear, E}, {Print, G}, {Print, G}, {Print, G}, {Print, G}, {Print, G},
                  {Print, G}, {Print, G}, {Print, G}, {Print, G}, {No, G}, {Print, G}},
    /* Escape */ {{Exec, E}, {Exec, E}, {Exec, G}, {Clear, E}, {Collect, EI}, {EscDo, G}, {EscDo, G}, {EscDo, G}, {EscDo, G},
                  {No, CE}, {No, OS}, {No, IS}, {EscDo, G}, {No, E}, {Reground, G}},
    /* EscInter */ {{Exec, EI}, {Exec, EI}, {Exec, G}, {Clear, E}, {Collect, EI}, {EscDo, G}, {EscDo, G}, {EscDo, G}, {EscDo, G},
                    {EscDo, G}, {EscDo, G}, {EscDo, G}, {EscDo, G}, {No, EI}, {Reground, G}},
    /* CsiEntry */ {{Exec, CE}, {Exec, CE}, {Exec, G}, {Clear, E}, {Collect, CI}, {Param, CP}, {Param, CP}, {Param, CP}, {Collect, CP},
                    {CsiDo, G}, {CsiDo, G}, {CsiDo, G}, {CsiDo, G}, {No, CE}, {Reground, G}},
    /* CsiParam */ {{Exec, CP}, {Exec, CP}, {Exec, G}, {Clear, E}, {Collect, CI}, {Param, CP}, {Param, CP}, {Param, CP}, {No, CX},
                    {CsiDo, G}, {CsiDo, G}, {CsiDo, G}, {CsiDo, G}, {No, CP}, {Reground, G}},
    /* CsiInter */ {{Exec, CI}, {Exec, CI}, {Exec, G}, {Clear, E}, {Collect, CI}, {No, CX}, {No, CX}, {No, CX}, {No, CX},
                    {CsiDo, G}, {CsiDo, G}, {CsiDo, G}, {CsiDo, G}, {No, CI}, {Reground, G}},
    /* CsiIgnore */ {{Exec, CX}, {Exec, CX}, {Exec, G}, {Clear, E}, {No, CX}, {No, CX}, {No, CX}, {No, CX}, {No, CX},
                     {No, G}, {No, G}, {No, G}, {No, G}, {No, CX}, {Reground, G}},
    /* OscString */ {{No, OS}, {No, G}, {Exec, G}, {Clear, E}, {No, OS}, {No, OS}, {No, OS}, {No, OS}, {No, OS},
                     {No, OS}, {No, OS}, {No, OS}, {No, OS}, {No, OS}, {No, OS}},
    /* IgnoredString */ {{No, IS}, {No, IS}, {Exec, G}, {Clear, E}, {No, IS}, {No, IS}, {No, IS}, {No, IS}, {No, IS},
                         {No, IS}, {No, IS}, {No, IS}, {No, IS}, {No, IS}, {No, IS}},
};
static_assert(std::size(kTable) == static_cast<std::size_t>(State::IgnoredString) + 1);

// True when a byte of the word is below 0x20, is DEL, or is C2 (which may open a C1
// character): the word cannot be taken as printable text whole.
bool mayStop(std::uint64_t w) {
    constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
    const std::uint64_t below = (w - ones * 0x20) & ~w & highs;
    const std::uint64_t del = w ^ (ones * 0x7F), c2 = w ^ (ones * 0xC2);
    return (below | ((del - ones) & ~del & highs) | ((c2 - ones) & ~c2 & highs)) != 0;
}

// End of the printable text that starts at i: up to a control, DEL or a C1 character.
std::size_t printableRun(std::string_view s, std::size_t i) {
    const std::size_t n = s.size();
    for (std::uint64_t w; i + 8 <= n; i += 8) {
        std::memcpy(&w, s.data() + i, 8);
        if (mayStop(w))
            break;
    }
    for (; i < n; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x20 || b == 0x7F)
            break;
        if (b == 0xC2 && i + 1 < n && static_cast<unsigned char>(s[i + 1]) < 0xA0)
            break;
    }
    return i;
}

// The end of a CSI sequence of parameters alone (digits, ':' and ';') and its final
// byte that starts at i and is whole in s, or 0.
std::size_t wholeCsi(std::string_view s, std::size_t i) {
    if (s[i] != '\x1b' || i + 2 >= s.size() || s[i + 1] != '[')
        return 0;
    std::size_t k = i + 2;
    while (k < s.size() && s[k] >= '0' && s[k] <= ';')
        ++k;
    if (k == s.size() || kClassOf[static_cast<unsigned char>(s[k])] < CsiOpen ||
        kClassOf[static_cast<unsigned char>(s[k])] > Final)
        return 0;
    return k + 1;
}

} // namespace

void EscapeParser::feed(std::string_view s, EscapeSink& sink) {
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        if (state_ == State::Ground) {
            const std::size_t end = printableRun(s, i);
            if (end > i)
                sink.print(s.substr(i, end - i));
            i = end;
            if (i == n)
                break;
            if (static_cast<unsigned char>(s[i]) == 0xC2) {  // a C1 character: dropped
                i = std::min(i + 2, n);
                continue;
            }
            if (const std::size_t end = wholeCsi(s, i)) {
                // ESC [ parameters final, all here: what the table would do, in one go.
                seq_ = Csi{};
                full_ = false;
                for (std::size_t k = i + 2; k + 1 < end; ++k)
                    param(s[k]);
                seq_.final = s[end - 1];
                sink.csi(seq_);
                i = end;
                continue;
            }
        }
        const char c = s[i];
        const Step step = kTable[static_cast<int>(state_)][kClassOf[static_cast<unsigned char>(c)]];
        switch (step.action) {
        case No: break;
        case Print: sink.print(s.substr(i, 1)); break;
        case Exec: sink.control(c); break;
        case Clear:
            seq_ = Csi{};
            full_ = false;
            break;
        case Collect: collect(c); break;
        case Param: param(c); break;
        case EscDo:
            if (!seq_.extra)
                sink.escape(seq_.intermediate, c);
            break;
        case CsiDo:
            seq_.final = c;
            sink.csi(seq_);
            break;
        case Reground:
            state_ = State::Ground;
            continue;  // the character is looked at again, as text
        }
        state_ = step.next;
        ++i;
    }
}

void EscapeParser::collect(char c) {
    char& slot = c >= 0x3C ? seq_.prefix : seq_.intermediate;
    if (slot == 0)
        slot = c;
    else
        seq_.extra = true;
}

void EscapeParser::param(char c) {
    if (c == ';' || c == ':') {
        if (seq_.count == 0)
            seq_.count = 1;  // an empty first parameter
        if (seq_.count == Csi::kMaxParams) {
            full_ = true;
            return;
        }
        if (c == ':')
            seq_.subMask |= 1u << seq_.count;
        seq_.values[seq_.count++] = 0;
        return;
    }
    if (full_)
        return;
    if (seq_.count == 0)
        seq_.count = 1;
    std::uint16_t& v = seq_.values[seq_.count - 1];
    v = static_cast<std::uint16_t>(std::min<int>(v * 10 + (c - '0'), Csi::kMaxValue));
}
