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

// The last `n` lines of `text`.
inline std::string lastLines(const std::string& text, std::size_t n) {
    std::size_t at = text.size();
    for (std::size_t i = 0; i <= n && at > 0 && at != std::string::npos; ++i)
        at = text.rfind('\n', at - 1);
    return at == std::string::npos ? text : text.substr(at + 1);
}

// Writes `text` as the whole file, making its folders first.
inline void writeFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

} // namespace dovrel::test
