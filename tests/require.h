#pragma once
// A test that needs a tool the machine may lack (telnetd, network namespaces) skips when
// a person runs ctest without it, and says which tool is missing. Under scripts/test, which
// sets QLX_REQUIRE_ALL_TESTS=1, the same test fails instead: a skip there would count as a pass.
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

inline bool requireAllTests() {
    const char* v = std::getenv("QLX_REQUIRE_ALL_TESTS");
    return v && std::strcmp(v, "1") == 0;
}

// Use as a statement in a test body or SetUp; returns from it.
#define QLX_SKIP_OR_FAIL(missing)                                                          \
    if (requireAllTests()) GTEST_FAIL() << "cannot run: " << missing << " (QLX_REQUIRE_ALL_TESTS=1)"; \
    else GTEST_SKIP() << "skipped: " << missing
