#include <gtest/gtest.h>

#include "errortext.h"

TEST(AppErrorText, AppendsFullStopOnlyAfterBytesThatSortAfterIt) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"Invalid buffer", "Invalid buffer."},
        {"Already connected.", "Already connected."},
        {"Set Size Exceeded.", "Set Size Exceeded."},
        {"Unknown Error No. 10", "Unknown Error No. 10."},  // '0' sorts after '.'
        {"abc-", "abc-"},                                   // '-' sorts before '.'
        {"trailing ", "trailing "},
        {"", ""},
        {"\x83\x47\x83\x89\x81\x5B", "\x83\x47\x83\x89\x81\x5B."},  // CP932 text: high bytes sort after
    };
    for (const auto& c : cases)
        EXPECT_EQ(appErrorText(c.in), c.out) << c.in;
}
