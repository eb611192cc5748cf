#include "KeyMap.h"

#include <gtest/gtest.h>

TEST(KeyMap, KeysToBytes) {
    using K = KeyPress::Kind;
    struct Case {
        KeyPress key;
        std::string bytes;
    };
    const Case cases[] = {
        {{K::Text, false, 'A', "a"}, "a"},
        {{K::Text, false, 0, "!"}, "!"},
        {{K::Enter, false, 0, "\r"}, "\r"},
        {{K::Backspace, false, 0, "\b"}, "\b"},
        {{K::Escape, false, 0, "\x1b"}, "\x1b"},
        {{K::Text, true, 'A', "\x01"}, "\x01"},
        {{K::Text, true, 'C', ""}, "\x03"},
        {{K::Text, true, 'Z', "\x1a"}, "\x1a"},
        {{K::Text, true, 0, "1"}, ""},  // Ctrl with a key that is no letter
        {{K::Tab, false, 0, "\t"}, ""},
        {{K::NoCharacter, false, 0, ""}, ""},
        {{K::Text, false, 0, "\x7f"}, ""},  // Delete's DEL stays local
        {{K::Text, false, 0, "\xe3\x81\x82"}, "\x82\xa0"},  // あ in code page 932
        {{K::Text, false, 0, "\xef\xbd\xb1"}, "\xb1"},      // half-width katakana ｱ
    };
    for (const Case& c : cases)
        EXPECT_EQ(keyBytes(c.key), c.bytes) << c.key.utf8;
}

TEST(KeyMap, ComposedTextIsCodePage932) {
    EXPECT_EQ(composedBytes("\xe6\x97\xa5\xe6\x9c\xac"), "\x93\xfa\x96\x7b");  // 日本
    EXPECT_EQ(composedBytes(""), "");
}
