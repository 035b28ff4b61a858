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
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !it) return 0;
    UText* ut = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status)) return 0;
    it->setText(ut, status);
    std::size_t fitted = 0;
    if (U_SUCCESS(status)) {
        for (int32_t end = it->next(); end != icu::BreakIterator::DONE; end = it->next()) {
            if (static_cast<std::size_t>(end) > limit) break;
            fitted = static_cast<std::size_t>(end);
        }
    }
    it.reset(); // the iterator refers to the UText; drop it first
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
