#include "agent/shell/TextUtil.h"

#include "protocol/UTF8.h"

namespace dovrel::agent {

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        if (end > at) lines.emplace_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

namespace {
std::string trimWith(std::string_view text, std::string_view set) {
    const std::size_t first = text.find_first_not_of(set);
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(set);
    return std::string(text.substr(first, last - first + 1));
}
} // namespace

std::string trimBlanks(std::string_view text) { return trimWith(text, " \t"); }
std::string trimWhite(std::string_view text) { return trimWith(text, " \t\r\n\v\f"); }

std::string firstNonEmptyLine(std::string_view text) {
    for (const std::string& line : splitLines(text)) {
        std::string t = trimWhite(line);
        if (!t.empty()) return t;
    }
    return {};
}

bool isValidUTF8(std::string_view text) { return wex::repairUTF8(text) == text; }

std::string_view dropIncompleteUTF8Tail(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    // Walk back over at most three continuation bytes to the lead byte of the last character.
    std::size_t lead = text.size();
    for (std::size_t back = 1; back <= 4 && back <= text.size(); ++back) {
        const unsigned char b = byte(text.size() - back);
        if ((b & 0xC0) != 0x80) {
            lead = text.size() - back;
            break;
        }
    }
    if (lead == text.size()) return text;
    const unsigned char b = byte(lead);
    const std::size_t need = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xC2 && b <= 0xDF ? 2 : 1;
    const std::size_t have = text.size() - lead;
    if (have >= need) return text;
    // Only a true beginning of a character is dropped; a sequence that could never be completed is
    // left in place for the caller's validity check to refuse.
    if (have >= 2) {
        const unsigned char second = byte(lead + 1);
        if ((b == 0xE0 && second < 0xA0) || (b == 0xED && second > 0x9F) || (b == 0xF0 && second < 0x90) ||
            (b == 0xF4 && second > 0x8F))
            return text;
    }
    return text.substr(0, lead);
}

} // namespace dovrel::agent
