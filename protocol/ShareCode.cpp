#include "protocol/ShareCode.h"

#include <memory>
#include <string>

#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include "protocol/UTF8.h"

namespace wex {

namespace {

bool isSeparator(std::string_view cluster) {
    return cluster == "-" || cluster == " " || cluster == "\t" || cluster == "_";
}

// Without segmentation rules each code point counts as a character.
std::size_t countCodePoints(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<uint8_t>(text[i]) & 0xC0) == 0x80) continue;
        if (!isSeparator(text.substr(i, 1))) ++count;
    }
    return count;
}

} // namespace

std::size_t shareCodeLength(std::string_view utf8) {
    // Segmentation needs well-formed text; each repaired byte run then counts as one character.
    const std::string text = repairUTF8(utf8);
    if (text.empty()) return 0;

    // Making an iterator loads its rules; keep one per thread.
    thread_local std::unique_ptr<icu::BreakIterator> it = [] {
        UErrorCode s = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), s));
        return U_SUCCESS(s) ? std::move(made) : nullptr;
    }();
    if (!it) return countCodePoints(text);

    UErrorCode status = U_ZERO_ERROR;
    UText* ut = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status)) return countCodePoints(text);
    it->setText(ut, status);
    std::size_t count = 0;
    if (U_SUCCESS(status)) {
        int32_t start = it->first();
        for (int32_t end = it->next(); end != icu::BreakIterator::DONE; start = end, end = it->next()) {
            const auto cluster =
                std::string_view(text).substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
            if (!isSeparator(cluster)) ++count;
        }
    } else {
        count = countCodePoints(text);
    }
    // Detach the iterator from the text before the text goes away.
    it->setText(icu::UnicodeString());
    utext_close(ut);
    return count;
}

} // namespace wex
