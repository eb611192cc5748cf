// Replays each file of fuzz/corpus/<target>/ through that target's property check, so
// the plain and sanitizer builds (gcc) check every input the fuzzers kept. Inputs whose
// name starts with "open-" reproduce a fault that is not fixed yet; their test name says so.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "props.h"

namespace fs = std::filesystem;

namespace {

struct Case {
    const fuzzprops::Target* target;
    fs::path file;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.target->name << "/" << c.file.filename().string(); }

std::vector<Case> allCases() {
    std::vector<Case> cases;
    for (const auto& t : fuzzprops::kTargets) {
        const fs::path dir = fs::path(FUZZ_CORPUS_DIR) / t.name;
        std::vector<fs::path> files;
        if (fs::is_directory(dir))
            for (const auto& e : fs::directory_iterator(dir))
                if (e.is_regular_file()) files.push_back(e.path());
        std::sort(files.begin(), files.end());
        for (auto& f : files) cases.push_back({&t, f});
    }
    return cases;
}

std::string caseName(const testing::TestParamInfo<Case>& info) {
    const std::string file = info.param.file.filename().string();
    std::string name = (file.rfind("open-", 0) == 0 ? "OPEN_FAULT_" : "") + std::string(info.param.target->name) +
                       "_" + file;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

class CorpusReplay : public testing::TestWithParam<Case> {};

TEST_P(CorpusReplay, PropertyHolds) {
    std::ifstream in(GetParam().file, std::ios::binary);
    ASSERT_TRUE(in) << GetParam().file;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(GetParam().target->check(bytes), "") << GetParam().file;
}

INSTANTIATE_TEST_SUITE_P(Fuzz, CorpusReplay, testing::ValuesIn(allCases()), caseName);

// Every target keeps a seed corpus, so a target whose folder went missing is noticed.
TEST(CorpusReplay, EveryTargetHasInputs) {
    for (const auto& t : fuzzprops::kTargets) {
        const fs::path dir = fs::path(FUZZ_CORPUS_DIR) / t.name;
        EXPECT_TRUE(fs::is_directory(dir) && !fs::is_empty(dir)) << dir;
    }
}

}  // namespace
