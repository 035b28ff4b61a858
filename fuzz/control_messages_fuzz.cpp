// The small control messages and the catalogue: anything decoded re-encodes to the bytes it came from
// (text repaired), and the raw-value mappings agree with themselves.
#include <cstdlib>

#include "FuzzSeeds.h"
#include "RoundTrip.h"
#include "protocol/ControlMessages.h"
#include "protocol/ControlType.h"

using namespace wex;
using fuzz::checkRoundTrip;
using fuzz::Exact;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const ByteView in(data, size);
    if (size > 0) {
        const auto t = controlTypeFromRaw(data[0]);
        if (t.has_value() != (data[0] >= 1 && data[0] <= 33)) std::abort();
        if (t && (static_cast<uint8_t>(*t) != data[0] || controlTypeName(*t) == "unknown")) std::abort();
        if (const auto c = sessionCmdFromRaw(data[0]); c && static_cast<uint8_t>(*c) != data[0]) std::abort();
    }
    checkRoundTrip<Ping>(in, Exact::prefix);
    checkRoundTrip<Pong>(in, Exact::prefix);
    checkRoundTrip<StreamStart>(in, Exact::prefix);
    checkRoundTrip<KeyframeRequest>(in, Exact::prefix);
    checkRoundTrip<SessionCommand>(in, Exact::prefix);
    checkRoundTrip<CursorMsg>(in, Exact::prefix);
    checkRoundTrip<Clipboard>(in, Exact::prefix);
    checkRoundTrip<DeckStat>(in, Exact::prefix);
    checkRoundTrip<DisplayList>(in, Exact::value);
    checkRoundTrip<ErrorMsg>(in, Exact::value);
    try {
        (void)ErrorMsg::decode(in).humanReason();
        (void)Clipboard::decode(in).text();
    } catch (const WEXError&) {
    }
    return 0;
}

std::vector<Bytes> fuzzSeeds() {
    CursorMsg cursor;
    cursor.flags = CursorFlags{CursorFlag::visible, CursorFlag::shapeIncluded};
    cursor.shapeW = 2;
    cursor.shapeH = 3;
    cursor.shape = Bytes(24, 0x40);
    return {
        Ping{1, 2}.encode(),
        Pong{7, 1000, 5}.encode(),
        SessionCommand{1, SessionCmd::restOn, 0}.encode(),
        cursor.encode(),
        DisplayList{0, {{1, 2560, 1440, 0, 0, DisplayFlag::primary, "Built-in"}, {2, 800, 600, -800, 0, {}, "Side"}}}
            .encode(),
        Clipboard(0, "hello \xC3\xA9").encode(),
        DeckStat{0, 12, 40, -1, 1}.encode(),
        ErrorMsg(0, ErrCode::refused, "Malformed wake request.").encode(),
    };
}
