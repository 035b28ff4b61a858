// File transfer and clipboard-file messages: decoded values re-encode to their bytes (names repaired).
#include "FuzzSeeds.h"
#include "RoundTrip.h"
#include "protocol/FileMessages.h"

using namespace wex;
using fuzz::checkRoundTrip;
using fuzz::Exact;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const ByteView in(data, size);
    checkRoundTrip<FileOffer>(in, Exact::value);
    checkRoundTrip<FileChunk>(in, Exact::prefix);
    checkRoundTrip<FileEnd>(in, Exact::prefix);
    checkRoundTrip<ClipFilesOffer>(in, Exact::value);
    checkRoundTrip<ClipFilePull>(in, Exact::prefix);
    checkRoundTrip<ClipFileData>(in, Exact::prefix);

    return 0;
}

std::vector<Bytes> fuzzSeeds() {
    return {
        FileOffer{1, 2, 3000, "report.pdf"}.encode(),
        FileChunk{1, 2, 0, Bytes(64, 0x11)}.encode(),
        FileEnd(1, 2, true).encode(),
        ClipFilesOffer{1, 5, {{"a.png", 10}, {"b \xC3\xA9.txt", 0}}}.encode(),
        ClipFilePull{1, 5, 1}.encode(),
        ClipFileData(1, 5, 1, 4096, true, Bytes(32, 0x22)).encode(),
    };
}
