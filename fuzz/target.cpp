// One libFuzzer target; QLX_FUZZ_TARGET names its property function.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "props.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string failure =
        fuzzprops::QLX_FUZZ_TARGET(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!failure.empty()) {
        std::fprintf(stderr, "property failed: %s\n", failure.c_str());
        std::abort();  // libFuzzer keeps the input as a crash file
    }
    return 0;
}
