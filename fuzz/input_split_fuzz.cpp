// Splitting input into batches: whatever events the input decodes to, repeated past one batch's count,
// split at a limit the input chooses, every batch holds 1-255 events, fits the limit and the batches
// together type exactly what the events did.
#include <algorithm>
#include <cstdlib>
#include <variant>
#include <vector>

#include "FuzzSeeds.h"
#include "protocol/InputMessages.h"
#include "protocol/WEXError.h"

using namespace wex;

namespace {

// Events with each run of consecutive text events joined into one: what a receiver types is the same
// however the text was cut.
std::vector<InputBatch::Entry> typed(const std::vector<InputBatch::Entry>& entries) {
    std::vector<InputBatch::Entry> out;
    bool inText = false;
    for (const auto& e : entries) {
        if (const auto* t = e.event.get<TextEvent>()) {
            if (!inText) out.push_back({e.flags, TextEvent{}});
            std::get<TextEvent>(out.back().event.body).text += t->text;
            inText = true;
        } else {
            out.push_back(e);
            inText = false;
        }
    }
    return out;
}

void checkSplit(const std::vector<InputBatch::Entry>& events, std::size_t limit) {
    const auto batches = InputBatch::split(events, limit);
    std::vector<InputBatch::Entry> joined;
    for (const auto& b : batches) {
        if (b.events.empty() || b.events.size() > InputBatch::maxEvents) std::abort();
        if (b.encode().size() > std::max<std::size_t>(limit, 32)) std::abort();
        joined.insert(joined.end(), b.events.begin(), b.events.end());
    }
    if (typed(joined) != typed(events)) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    InputBatch batch;
    try {
        batch = InputBatch::decode(ByteView(data + 1, size - 1));
    } catch (const WEXError&) {
        return 0;
    }
    if (batch.events.empty()) return 0;
    // Copies until either the count or the size of one batch is exceeded.
    const std::size_t batchBytes = batch.encode().size();
    std::vector<InputBatch::Entry> many;
    for (std::size_t bytes = 0; many.size() <= InputBatch::maxEvents && bytes <= 2 * maxSealablePayload;
         bytes += batchBytes) {
        many.insert(many.end(), batch.events.begin(), batch.events.end());
    }
    checkSplit(many, maxSealablePayload);
    checkSplit(many, 16 + std::size_t{data[0]} * 4);
    return 0;
}

std::vector<Bytes> fuzzSeeds() {
    const auto withLimit = [](uint8_t limit, Bytes batch) {
        batch.insert(batch.begin(), limit);
        return batch;
    };
    return {
        withLimit(10, InputBatch{{{{}, KeyEvent{0x00070004, 1, 0}}}}.encode()),
        withLimit(3, InputBatch{{{EventFlag::reliable, TextEvent{"h\xC3\xA9llo w\xF0\x9F\x98\x80rld"}},
                                 {{}, TextEvent{"again"}},
                                 {{}, MouseMoveEvent{0, 1, 2, 0}}}}
                         .encode()),
        withLimit(255, InputBatch{{{{}, TextEvent{std::string(900, 'x')}}}}.encode()),
    };
}
