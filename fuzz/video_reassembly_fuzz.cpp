// The controller's receive path for video after a piece is opened: fragment headers, reassembly, what is
// kept of frames given up with pieces missing, and the sorting of the joined payload's units. Any series
// of pieces keeps the table within its caps, returns only payloads whose pieces all came, and sorting
// keeps every picture unit inside the payload. What is kept of a broken frame is never more than came,
// and of a frame whose pieces all came it is exactly what decoding the joined payload gives.
#include <cstdlib>

#include "FuzzSeeds.h"
#include "controller/client/video/Reassembler.h"
#include "protocol/ByteReader.h"
#include "protocol/ByteWriter.h"
#include "protocol/NalUnits.h"
#include "protocol/PartialVideoPayload.h"
#include "protocol/VideoPayload.h"
#include "protocol/WEXError.h"

using namespace dovrel::controller;
using wex::Bytes;
using wex::ByteView;

namespace {

void checkSalvaged(const Reassembler::Broken& broken) {
    std::size_t came = 0;
    for (const auto& p : broken.pieces)
        came += p ? p->size() : 0;
    const auto kept = wex::salvageVideoNALPayload(broken.pieces);
    if (!kept) return;
    if (kept->header.nalCount < kept->nals.size()) std::abort();
    std::size_t bytes = 0;
    for (const Bytes& u : kept->nals) {
        if (u.empty()) std::abort();
        bytes += u.size();
    }
    if (bytes > came) std::abort();
}

// Every piece there: the walk over the pieces keeps the units decoding gives, empty ones aside, or a
// first run of them when the payload is cut short.
void checkWholeSalvage(const Bytes& payload, std::size_t pieceSize) {
    if (payload.size() < wex::VideoNALHeader::size || pieceSize < wex::VideoNALHeader::size) return;
    std::vector<std::optional<Bytes>> pieces;
    for (std::size_t at = 0; at < payload.size(); at += pieceSize)
        pieces.emplace_back(
            Bytes(payload.begin() + static_cast<std::ptrdiff_t>(at),
                  payload.begin() + static_cast<std::ptrdiff_t>(std::min(at + pieceSize, payload.size()))));
    const auto kept = wex::salvageVideoNALPayload(pieces);
    if (!kept) std::abort();
    std::vector<Bytes> decoded;
    bool whole = true;
    try {
        decoded = wex::decodeVideoNALPayload(payload).nals;
    } catch (const wex::WEXError&) {
        whole = false;
    }
    if (!whole) return;
    std::erase_if(decoded, [](const Bytes& u) { return u.empty(); });
    if (kept->nals != decoded) std::abort();
}

// The input is a series of pieces: a flag byte (bit 0: fragmented), then for a fragment its 8-byte
// header, then a u16 length and that many bytes.
void run(ByteView in) {
    Reassembler r;
    wex::ByteReader rd(in);
    try {
        while (rd.remaining() > 0) {
            const uint8_t flags = rd.u8();
            std::optional<wex::FragmentHeader> header;
            if (flags & 1) header = wex::FragmentHeader::decode(rd);
            const uint16_t len = rd.u16();
            const Bytes slice = rd.take(len);
            if (header)
                for (const auto& broken : r.closeBefore(header->frameId))
                    checkSalvaged(broken);
            const auto res = r.add(header, slice);
            if (res.pushedOut) checkSalvaged(*res.pushedOut);
            if (r.pendingFrames() > Reassembler::maxPending) std::abort();
            if (r.bytesHeld() > Reassembler::maxPending * Reassembler::maxFrameBytes) std::abort();
            if (res.outcome == Reassembler::Outcome::complete) {
                if (header && r.isPending(header->frameId)) std::abort();
                if (res.payload.size() > Reassembler::maxFrameBytes) std::abort();
                if (!header && res.payload.size() != slice.size()) std::abort();
                checkWholeSalvage(res.payload, 1000);
                checkWholeSalvage(res.payload, 23);
                try {
                    const auto payload = wex::decodeVideoNALPayload(res.payload);
                    for (const wex::VideoCodec codec : {wex::VideoCodec::h264, wex::VideoCodec::hevc}) {
                        const wex::SortedUnits s = wex::sortUnits(codec, payload.nals);
                        for (const ByteView u : s.picture)
                            if (u.empty()) std::abort();
                        if (s.parameterSets(codec).has_value() != s.hasAllParameterSets(codec)) std::abort();
                    }
                } catch (const wex::WEXError&) {
                }
            } else if (!res.payload.empty()) {
                std::abort();
            }
        }
    } catch (const wex::WEXError&) {
        // The input ran out in the middle of a piece.
    }
}

Bytes piece(std::optional<wex::FragmentHeader> h, const Bytes& slice) {
    wex::ByteWriter w;
    w.u8(h ? 1 : 0);
    if (h) h->encode(w);
    w.u16(static_cast<uint16_t>(slice.size()));
    w.raw(slice);
    return w.bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    run(ByteView(data, size));
    return 0;
}

// A whole payload, the same payload in three pieces out of order with a duplicate, then without its
// middle piece, an oversized announcement, and many frames left incomplete.
std::vector<Bytes> fuzzSeeds() {
    wex::VideoNALHeader h;
    h.frameId = 1;
    h.width = 64;
    h.height = 64;
    h.nalFlags = wex::NALFlag::codecH264;
    const Bytes payload =
        wex::encodeVideoNALPayload(h, {Bytes{0x67, 0x42, 0xc0}, Bytes{0x68, 0xce}, Bytes{0x06, 5}, Bytes(40, 0x65)});
    std::vector<Bytes> seeds;
    seeds.push_back(piece(std::nullopt, payload));
    const std::size_t third = payload.size() / 3;
    Bytes split;
    for (const uint16_t i : {2, 0, 0, 1}) {
        const std::size_t from = i * third, to = i == 2 ? payload.size() : from + third;
        const Bytes p = piece(wex::FragmentHeader{7, i, 3}, Bytes(payload.begin() + static_cast<std::ptrdiff_t>(from),
                                                                  payload.begin() + static_cast<std::ptrdiff_t>(to)));
        split.insert(split.end(), p.begin(), p.end());
    }
    seeds.push_back(split);
    // The same frame without its middle piece, given up when a piece of the next frame comes.
    Bytes broken;
    for (const uint16_t i : {0, 2}) {
        const std::size_t from = i * third, to = i == 2 ? payload.size() : from + third;
        const Bytes p = piece(wex::FragmentHeader{7, i, 3}, Bytes(payload.begin() + static_cast<std::ptrdiff_t>(from),
                                                                  payload.begin() + static_cast<std::ptrdiff_t>(to)));
        broken.insert(broken.end(), p.begin(), p.end());
    }
    const Bytes next = piece(wex::FragmentHeader{8, 0, 2}, Bytes(3, 2));
    broken.insert(broken.end(), next.begin(), next.end());
    seeds.push_back(broken);
    seeds.push_back(piece(wex::FragmentHeader{9, 0, 65535}, Bytes(10, 1)));
    Bytes many;
    for (uint32_t id = 100; id > 60; --id) {
        const Bytes p = piece(wex::FragmentHeader{id, 0, 2}, Bytes(3, 2));
        many.insert(many.end(), p.begin(), p.end());
    }
    seeds.push_back(many);
    return seeds;
}
