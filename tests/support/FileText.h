#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace dovrel::test {

// A whole file as text; empty when it cannot be read.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Writes `text` as the whole file, making its folders first.
inline void writeFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

} // namespace dovrel::test
