#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/Bytes.h"
#include "protocol/PayloadLimits.h"

// File transfer (controller to agent: offer, chunks, end, tied by a transfer identifier) and the
// clipboard-file exchange (both ways: offer, pull, data, tied by a generation). Decoders fail only with
// WEXError::truncated; flag bytes and indices are taken as they are.
namespace wex {

// Control message 24: a file is coming.
struct FileOffer {
    uint16_t reqId = 0;
    uint32_t transferId = 0;
    uint64_t size = 0;
    std::string name; // UTF-8; cut at a character boundary past 65535 bytes

    Bytes encode() const;
    static FileOffer decode(ByteView payload);
    bool operator==(const FileOffer&) const = default;
};

// Control message 25: bytes of the file at `offset`.
struct FileChunk {
    uint16_t reqId = 0;
    uint32_t transferId = 0;
    uint64_t offset = 0;
    Bytes data;

    Bytes encode() const;
    static FileChunk decode(ByteView payload);
    bool operator==(const FileChunk&) const = default;
};

// Control message 26: the transfer is over.
struct FileEnd {
    static constexpr std::size_t size = 7;
    uint16_t reqId = 0;
    uint32_t transferId = 0;
    uint8_t ok = 0; // as received; any non-zero value is success

    FileEnd() = default;
    FileEnd(uint16_t id, uint32_t transfer, bool wholeFile) : reqId(id), transferId(transfer), ok(wholeFile ? 1 : 0) {}

    bool succeeded() const { return ok != 0; }

    Bytes encode() const;
    static FileEnd decode(ByteView payload);
    bool operator==(const FileEnd&) const = default;
};

// One file of a ClipFilesOffer.
struct ClipFileEntry {
    std::string name; // UTF-8, written whole: an entry whose name would not fit is left out of the offer
    uint64_t size = 0;

    bool operator==(const ClipFileEntry&) const = default;
};

// Control message 29: the files on the sender's clipboard; pulls name them by position.
struct ClipFilesOffer {
    static constexpr std::size_t maxEntries = 255;
    static constexpr std::size_t headerSize = 7;
    // An offer travels sealed, so the whole payload must fit there.
    static constexpr std::size_t maxPayloadBytes = maxSealablePayload;

    uint16_t reqId = 0;
    uint32_t generation = 0;
    std::vector<ClipFileEntry> files;

    // How many leading entries encode() writes: at most 255, and no more than keep the payload within
    // maxPayloadBytes (names of more than 65510 bytes never fit). Trailing entries are the ones left
    // out, so every index sent still names the same file.
    std::size_t wireEntryCount() const;

    Bytes encode() const;
    static ClipFilesOffer decode(ByteView payload);
    bool operator==(const ClipFilesOffer&) const = default;
};

// Control message 30: send me file `index` of offer `generation`. Laid out like FileEnd.
struct ClipFilePull {
    static constexpr std::size_t size = 7;
    uint16_t reqId = 0;
    uint32_t generation = 0;
    uint8_t index = 0;

    Bytes encode() const;
    static ClipFilePull decode(ByteView payload);
    bool operator==(const ClipFilePull&) const = default;
};

// Control message 31: a piece of a pulled clipboard file.
struct ClipFileData {
    static constexpr std::size_t fixedSize = 20;
    uint16_t reqId = 0;
    uint32_t generation = 0;
    uint8_t index = 0;
    uint64_t offset = 0;
    uint8_t last = 0; // as received; any non-zero value ends the file
    Bytes data;

    ClipFileData() = default;
    ClipFileData(uint16_t id, uint32_t gen, uint8_t fileIndex, uint64_t at, bool finalPiece, Bytes bytes)
        : reqId(id), generation(gen), index(fileIndex), offset(at), last(finalPiece ? 1 : 0), data(std::move(bytes)) {}

    bool isLast() const { return last != 0; }

    Bytes encode() const;
    static ClipFileData decode(ByteView payload);
    bool operator==(const ClipFileData&) const = default;
};

} // namespace wex
