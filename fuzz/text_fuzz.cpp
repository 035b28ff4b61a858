// Text handling: string fields, UTF-8 repair, the clipboard cut and the service record.
#include <cstdlib>
#include <string_view>

#include "FuzzSeeds.h"
#include "protocol/ByteReader.h"
#include "protocol/ClipboardText.h"
#include "protocol/DovrelService.h"
#include "protocol/LogText.h"
#include "protocol/UTF8.h"
#include "protocol/WEXError.h"

using namespace wex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const ByteView in(data, size);
    const std::string repaired = repairUTF8(in);
    if (repairUTF8(repaired) != repaired) std::abort(); // repair must yield well-formed text
    try {
        ByteReader r(in);
        (void)r.string();
        (void)r.blob();
    } catch (const WEXError&) {
    }
    // Clipboard text arrives as large text; repeat the input to reach the cut.
    std::string big;
    while (big.size() <= maxClipboardTextBytes && !repaired.empty())
        big += repaired;
    const auto wire = clipboardTextForWire(big);
    if (wire.text.size() > maxClipboardTextBytes) std::abort();
    if (!wire.truncated && wire.text != big) std::abort();

    // A log line's text: well formed, nothing that breaks or disguises a line, never much past its limit.
    const std::string logged = logText(std::string_view(reinterpret_cast<const char*>(data), size), 64);
    if (logged.size() > 64 + 3 || repairUTF8(logged) != logged || containsLineBreakingOrHidden(logged)) std::abort();

    const std::size_t half = repaired.size() / 2;
    const auto record = DovrelService::txt(repaired.substr(0, half), repaired.substr(half), size & 1, 1);
    (void)DovrelService::parse(record);
    return 0;
}

std::vector<Bytes> fuzzSeeds() {
    const auto text = [](std::string_view s) { return Bytes(s.begin(), s.end()); };
    return {text("hello"), text("e\xCC\x81\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9"), text("\xC0\x80\xE2\x82\x41"),
            text("\x00\x03"
                 "abc")};
}
