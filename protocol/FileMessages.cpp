#include "protocol/FileMessages.h"

#include <algorithm>

#include "protocol/ByteReader.h"
#include "protocol/ByteWriter.h"

namespace wex {

namespace {

constexpr int64_t smallReserve = 64;

// A name long enough to need its count cut can never fit the payload, so names go whole.
static_assert(ClipFilesOffer::maxPayloadBytes - ClipFilesOffer::headerSize - 10 <= 0xFFFF);

std::size_t entryWireSize(const ClipFileEntry& e) { return 2 + e.name.size() + 8; }

} // namespace

Bytes FileOffer::encode() const {
    ByteWriter w(smallReserve);
    w.u16(reqId);
    w.u32(transferId);
    w.u64(size);
    w.string(name);
    return std::move(w.bytes);
}

FileOffer FileOffer::decode(ByteView payload) {
    ByteReader r(payload);
    FileOffer m;
    m.reqId = r.u16();
    m.transferId = r.u32();
    m.size = r.u64();
    m.name = r.string();
    return m;
}

Bytes FileChunk::encode() const {
    ByteWriter w(static_cast<int64_t>(18 + data.size()));
    w.u16(reqId);
    w.u32(transferId);
    w.u64(offset);
    w.blob(data);
    return std::move(w.bytes);
}

FileChunk FileChunk::decode(ByteView payload) {
    ByteReader r(payload);
    FileChunk m;
    m.reqId = r.u16();
    m.transferId = r.u32();
    m.offset = r.u64();
    m.data = r.blob();
    return m;
}

Bytes FileEnd::encode() const {
    ByteWriter w(size);
    w.u16(reqId);
    w.u32(transferId);
    w.u8(ok);
    return std::move(w.bytes);
}

FileEnd FileEnd::decode(ByteView payload) {
    ByteReader r(payload);
    FileEnd m;
    m.reqId = r.u16();
    m.transferId = r.u32();
    m.ok = r.u8();
    return m;
}

namespace {

struct OfferFit {
    std::size_t entries = 0;
    std::size_t bytes = ClipFilesOffer::headerSize;
};

// The longest run of leading entries that the count byte and the payload limit both allow.
OfferFit fitOffer(const std::vector<ClipFileEntry>& files) {
    OfferFit fit;
    for (const auto& e : files) {
        if (fit.entries == ClipFilesOffer::maxEntries) break;
        const std::size_t next = fit.bytes + entryWireSize(e);
        if (next > ClipFilesOffer::maxPayloadBytes) break;
        fit.bytes = next;
        ++fit.entries;
    }
    return fit;
}

} // namespace

std::size_t ClipFilesOffer::wireEntryCount() const { return fitOffer(files).entries; }

Bytes ClipFilesOffer::encode() const {
    const OfferFit fit = fitOffer(files);
    ByteWriter w(static_cast<int64_t>(fit.bytes));
    w.u16(reqId);
    w.u32(generation);
    w.u8(static_cast<uint8_t>(fit.entries));
    for (std::size_t i = 0; i < fit.entries; ++i) {
        const auto& e = files[i];
        w.u16(static_cast<uint16_t>(e.name.size()));
        w.raw(ByteView(reinterpret_cast<const uint8_t*>(e.name.data()), e.name.size()));
        w.u64(e.size);
    }
    return std::move(w.bytes);
}

ClipFilesOffer ClipFilesOffer::decode(ByteView payload) {
    ByteReader r(payload);
    ClipFilesOffer m;
    m.reqId = r.u16();
    m.generation = r.u32();
    const uint8_t count = r.u8();
    // Each entry needs at least 10 bytes, which bounds what is worth reserving.
    m.files.reserve(std::min<std::size_t>(count, static_cast<std::size_t>(r.remaining()) / 10));
    for (uint8_t i = 0; i < count; ++i) {
        ClipFileEntry e;
        e.name = r.string();
        e.size = r.u64();
        m.files.push_back(std::move(e));
    }
    return m;
}

Bytes ClipFilePull::encode() const {
    ByteWriter w(size);
    w.u16(reqId);
    w.u32(generation);
    w.u8(index);
    return std::move(w.bytes);
}

ClipFilePull ClipFilePull::decode(ByteView payload) {
    ByteReader r(payload);
    ClipFilePull m;
    m.reqId = r.u16();
    m.generation = r.u32();
    m.index = r.u8();
    return m;
}

Bytes ClipFileData::encode() const {
    ByteWriter w(static_cast<int64_t>(fixedSize + data.size()));
    w.u16(reqId);
    w.u32(generation);
    w.u8(index);
    w.u64(offset);
    w.u8(last);
    w.blob(data);
    return std::move(w.bytes);
}

ClipFileData ClipFileData::decode(ByteView payload) {
    ByteReader r(payload);
    ClipFileData m;
    m.reqId = r.u16();
    m.generation = r.u32();
    m.index = r.u8();
    m.offset = r.u64();
    m.last = r.u8();
    m.data = r.blob();
    return m;
}

} // namespace wex
