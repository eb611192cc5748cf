#pragma once
// Whole-file byte reads and writes for the settings tests.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

inline std::string bytesOf(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}
