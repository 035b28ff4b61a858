// Throughput of the frame codec on the hot paths: headers of every piece, CRC, video payloads.
#include <benchmark/benchmark.h>

#include "protocol/CRC8.h"
#include "protocol/CommonHeader.h"
#include "protocol/VideoPayload.h"

using namespace wex;

static void HeaderEncodeDecode(benchmark::State& state) {
    const CommonHeader h{Stream::video, 1, 0x12345678, 1000, HeaderFlag::encryptedApp};
    for (auto _ : state) {
        const Bytes b = h.encoded();
        benchmark::DoNotOptimize(CommonHeader::decode(b));
    }
}
BENCHMARK(HeaderEncodeDecode);

static void CRC8Throughput(benchmark::State& state) {
    const Bytes data(static_cast<std::size_t>(state.range(0)), 0x5A);
    for (auto _ : state)
        benchmark::DoNotOptimize(CRC8::compute(data));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(CRC8Throughput)->Arg(11)->Arg(65536);

static void VideoPayloadRoundTrip(benchmark::State& state) {
    const std::vector<Bytes> nals = {Bytes(30, 1), Bytes(10, 2), Bytes(static_cast<std::size_t>(state.range(0)), 3)};
    const VideoNALHeader h{1, 2, 0, NALFlags{NALFlag::keyframe, NALFlag::config}, 1920, 1080, 0, 3};
    for (auto _ : state) {
        const Bytes p = encodeVideoNALPayload(h, nals);
        benchmark::DoNotOptimize(decodeVideoNALPayload(p));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(VideoPayloadRoundTrip)->Arg(25000)->Arg(400000);
