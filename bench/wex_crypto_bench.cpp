// Seal-and-open throughput of sealed frames beside libsodium's bare ChaCha20-Poly1305 on the same
// plaintext, and the share of the bare speed the sealed path keeps (header, CRC, nonce, replay window,
// allocation). Prints figures; asserts nothing.
#include <cstdio>
#include <map>
#include <string>

#include <benchmark/benchmark.h>
#include <sodium.h>

#include "protocol/Crypto.h"
#include "protocol/SecureSession.h"

using namespace wex;

namespace {

const Bytes& plaintext(std::size_t n) {
    static std::map<std::size_t, Bytes> buffers;
    auto [it, fresh] = buffers.try_emplace(n);
    if (fresh) it->second = Crypto::randomBytes(n);
    return it->second;
}

void SealedSealOpen(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Bytes& plain = plaintext(n);
    const SessionKeys keys = SessionKeys::fromBytes(Crypto::randomBytes(32), Crypto::randomBytes(32));
    SecureSession agent(keys, Direction::agentToClient);
    SecureSession client(keys, Direction::clientToAgent);
    for (auto _ : state) {
        const Bytes frame = agent.sealNext(Stream::video, 1, 1, 0, plain);
        auto opened = client.openFrame(frame);
        benchmark::DoNotOptimize(opened);
        if (!opened) state.SkipWithError("a sealed frame did not open");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BareAeadSealOpen(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Bytes& plain = plaintext(n);
    Crypto::ensureInitialized();
    const Bytes key = Crypto::randomBytes(32), nonce = Crypto::randomBytes(12), aad = Crypto::randomBytes(20);
    Bytes ciphertext(n), tag(16), opened(n);
    for (auto _ : state) {
        crypto_aead_chacha20poly1305_ietf_encrypt_detached(ciphertext.data(), tag.data(), nullptr, plain.data(), n,
                                                           aad.data(), aad.size(), nullptr, nonce.data(), key.data());
        const int rc = crypto_aead_chacha20poly1305_ietf_decrypt_detached(
            opened.data(), nullptr, ciphertext.data(), n, tag.data(), aad.data(), aad.size(), nonce.data(), key.data());
        benchmark::DoNotOptimize(rc);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// Keeps each run's throughput so that the ratios can be printed after the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            const auto it = r.counters.find("bytes_per_second");
            if (it == r.counters.end() || r.error_occurred) continue;
            // With repetitions the median stands for the benchmark; other aggregates are skipped.
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median") continue;
            throughput_[r.run_name.str()] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const char* size : {"1000", "65527"}) {
            const auto sealed = throughput_.find(std::string("SealedSealOpen/") + size);
            const auto bare = throughput_.find(std::string("BareAeadSealOpen/") + size);
            if (sealed == throughput_.end() || bare == throughput_.end()) continue;
            std::printf("%5s-byte plaintext: sealed %8.1f MiB/s, bare AEAD %8.1f MiB/s, sealed/bare %.1f%%\n", size,
                        sealed->second / 1048576, bare->second / 1048576, 100.0 * sealed->second / bare->second);
        }
    }

private:
    std::map<std::string, double> throughput_;
};

} // namespace

BENCHMARK(SealedSealOpen)->Arg(1000)->Arg(65527);
BENCHMARK(BareAeadSealOpen)->Arg(1000)->Arg(65527);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
