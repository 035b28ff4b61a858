// A 256 MiB file sent by the controller to the real DovrelAgent over loopback: the pace (MiB/s, from
// the call to the last byte in the agent's download folder) and the controller's peak memory (this
// process: the client, its threads and the file thread reading the file as it goes).
// Prints figures; asserts nothing.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include <QCoreApplication>

#include "controller/client/files/FileTransfers.h"
#include "controller/client/session/WEXClient.h"
#include "controller/platform/FileSecretStore.h"
#include "protocol/Crypto.h"
#include "tests/controller/client/ClientTestSupport.h"
#include "tests/controller/media/AgentUnderTest.h"
#include "tests/support/FreeUdpPort.h"

using namespace dovrel;
using namespace dovrel::controller;
using namespace std::chrono_literals;

namespace {

constexpr uint64_t fileBytes = 256ULL << 20;

// A /proc/self/status figure in KiB.
long statusKiB(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::string(key).size()));
    return -1;
}

uint64_t sizeOf(const std::string& path) {
    std::error_code ec;
    const auto n = std::filesystem::file_size(path, ec);
    return ec ? 0 : n;
}

bool sameBytes(const std::string& a, const std::string& b) {
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    std::vector<char> bx(1 << 20), by(1 << 20);
    while (x && y) {
        x.read(bx.data(), static_cast<long>(bx.size()));
        y.read(by.data(), static_cast<long>(by.size()));
        if (x.gcount() != y.gcount() || !std::equal(bx.begin(), bx.begin() + x.gcount(), by.begin())) return false;
    }
    return !x && !y;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    dovrel::test::TempDir dir;
    const std::string source = dir.file("big.bin");
    {
        std::ofstream out(source, std::ios::binary);
        for (uint64_t done = 0; done < fileBytes; done += 1 << 20) {
            const auto block = wex::Crypto::randomBytes(1 << 20);
            out.write(reinterpret_cast<const char*>(block.data()), static_cast<long>(block.size()));
        }
    }

    ClientConfig config;
    config.settingsPath = dir.file("DovrelController.ini");
    config.secrets = std::make_shared<FileSecretStore>(dir.file("secrets"));
    config.videoPort = dovrel::test::freeUdpPort();
    controller::test::AgentUnderTest agent;
    wex::Bytes key;
    {
        WEXClient first(config, std::make_shared<controller::test::NoRelayAccount>());
        const auto pub = first.security().identity().publicKey();
        key.assign(pub.begin(), pub.end());
        first.security().trustAgent(agent.publicKey(), agent.room());
    }
    std::string why;
    if (!agent.start(DOVREL_AGENT_BINARY, key, config.videoPort, {}, why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    config.inputPort = agent.inputPort();
    WEXClient client(config, std::make_shared<controller::test::NoRelayAccount>());
    FileTransfers transfers(client, client, realScheduler());
    client.connectToHost(QString("127.0.0.1:%1").arg(agent.controlPort()));
    if (!controller::test::waitUntil([&] { return client.phaseKind() == PhaseKind::connected; }, 15s)) {
        std::fprintf(stderr, "no session\n%s\n", agent.tail(20).c_str());
        return 1;
    }
    controller::test::pump(500ms);

    const long baseline = statusKiB("VmRSS:");
    std::ofstream("/proc/self/clear_refs") << "5"; // the peak starts again from here
    const std::string arrived = agent.home() + "/Downloads/big.bin";
    const auto start = std::chrono::steady_clock::now();
    transfers.sendFile(source);
    const bool whole =
        controller::test::waitUntil([&] { return transfers.active() == 0 && sizeOf(arrived) == fileBytes; }, 600s);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long peak = statusKiB("VmHWM:");

    std::printf("file sent over loopback to DovrelAgent: %llu MiB\n", static_cast<unsigned long long>(fileBytes >> 20));
    if (!whole) {
        std::printf("  did not arrive whole within 600 s (%llu bytes there)\n%s\n",
                    static_cast<unsigned long long>(sizeOf(arrived)), agent.tail(20).c_str());
        return 1;
    }
    std::printf("  time            %.2f s\n", seconds);
    std::printf("  pace            %.1f MiB/s\n", static_cast<double>(fileBytes >> 20) / seconds);
    std::printf("  controller RSS  %.1f MiB before, peak %.1f MiB during (+%.1f MiB)\n", baseline / 1024.0,
                peak / 1024.0, (peak - baseline) / 1024.0);
    std::printf("  byte-identical  %s\n", sameBytes(source, arrived) ? "yes" : "NO");
    return 0;
}
