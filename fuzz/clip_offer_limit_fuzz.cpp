// Clipboard-file offers built from any names: the encoding never exceeds what a sealed frame carries,
// never says more than 255 entries, and decodes to exactly the leading entries it announced.
#include <cstdlib>
#include <string>

#include "FuzzSeeds.h"
#include "protocol/FileMessages.h"
#include "protocol/UTF8.h"
#include "protocol/WEXError.h"

using namespace wex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // Each input byte names one entry by the length of its name (0-255 bytes, times a factor the first
    // byte picks), so that a short input can describe offers on both sides of the limit.
    if (size < 2) return 0;
    const std::size_t factor = 1 + data[0] % 64;
    ClipFilesOffer offer{1, 2, {}};
    // Past twice the limit more entries change nothing.
    std::size_t bytes = 0;
    for (std::size_t i = 1; i < size && offer.files.size() < 400 && bytes <= 2 * ClipFilesOffer::maxPayloadBytes; ++i) {
        offer.files.push_back({std::string(data[i] * factor, static_cast<char>('a' + i % 26)), i});
        bytes += data[i] * factor + 10;
    }
    const Bytes wire = offer.encode();
    const std::size_t n = offer.wireEntryCount();
    if (wire.size() > ClipFilesOffer::maxPayloadBytes || n > ClipFilesOffer::maxEntries || wire[6] != n) std::abort();
    // Only the count or the limit may stop the entries short.
    if (n < offer.files.size() && n < ClipFilesOffer::maxEntries &&
        wire.size() + 10 + offer.files[n].name.size() <= ClipFilesOffer::maxPayloadBytes) {
        std::abort();
    }
    try {
        const ClipFilesOffer back = ClipFilesOffer::decode(wire);
        if (back.files.size() != n || !std::equal(back.files.begin(), back.files.end(), offer.files.begin()))
            std::abort();
    } catch (const WEXError&) {
        std::abort();
    }
    return 0;
}

std::vector<Bytes> fuzzSeeds() {
    Bytes overLimit(300, 255);
    overLimit[0] = 63;
    Bytes manySmall(300, 1);
    manySmall[0] = 0;
    return {Bytes{0, 5, 9, 0}, overLimit, manySmall};
}
