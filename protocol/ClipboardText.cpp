#include "protocol/ClipboardText.h"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include "protocol/UTF8.h"

namespace wex {

namespace {

// End offset (in bytes) of the longest run of whole grapheme clusters within `limit` bytes,
// or 0 when not even the first cluster fits or segmentation is unavailable.
std::size_t graphemePrefix(std::string_view text, std::size_t limit) {
    // Making an iterator loads its rules; keep one per thread.
    thread_local std::unique_ptr<icu::BreakIterator> it = [] {
        UErrorCode s = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), s));
        return U_SUCCESS(s) ? std::move(made) : nullptr;
    }();
    if (!it) return 0;
    UErrorCode status = U_ZERO_ERROR;
    UText* ut = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status)) return 0;
    it->setText(ut, status);
    std::size_t fitted = 0;
    if (U_SUCCESS(status)) {
        // ICU moves an offset inside a code point back to its start before searching, so start from a
        // code point boundary: the one that begins the character holding byte `limit`. Searching backwards
        // from there keeps this O(1) in the size of the text.
        std::size_t q = limit;
        while (q > 0 && (static_cast<uint8_t>(text[q]) & 0xC0) == 0x80) --q;
        const auto at = static_cast<int32_t>(q);
        const int32_t end = it->isBoundary(at) ? at : it->preceding(at);
        if (end != icu::BreakIterator::DONE && end > 0) fitted = static_cast<std::size_t>(end);
    }
    // Detach the iterator from the text before the text goes away.
    it->setText(icu::UnicodeString());
    utext_close(ut);
    return fitted;
}

} // namespace

ClipboardWireText clipboardTextForWire(std::string_view utf8) {
    const std::size_t limit = maxClipboardTextBytes;
    if (utf8.size() <= limit) return {std::string(utf8), false};

    // Segmentation needs well-formed text; repairing first keeps byte offsets honest.
    const std::string text = repairUTF8(utf8);
    if (text.size() <= limit) return {text, false};

    if (const std::size_t fitted = graphemePrefix(text, limit); fitted > 0) return {text.substr(0, fitted), true};

    // A single character longer than the limit: cut its bytes and drop an incomplete tail.
    std::size_t n = limit;
    while (n > 0 && (static_cast<uint8_t>(text[n - 1]) & 0xC0) == 0x80) --n;
    if (n > 0 && static_cast<uint8_t>(text[n - 1]) >= 0x80) --n;
    return {repairUTF8(std::string_view(text.data(), n)), true};
}

} // namespace wex
