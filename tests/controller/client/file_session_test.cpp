#include <algorithm>
// Clipboard text and files through the real client in a session with the scripted agent: the agent's
// text reaches the clipboard service, a file arrives whole with its messages in sealing order while the
// client pings, and a session whose link breaks mid-file ends the transfer as failed, never as sent.
#include <fstream>

#include "ClipboardFakes.h"
#include "SessionFixture.h"
#include "controller/client/files/FileTransfers.h"
#include "protocol/ControlMessages.h"
#include "protocol/FileMessages.h"

using namespace dovrel;
using namespace dovrel::controller;
using namespace dovrel::controller::test;

namespace {

struct FileSession : SessionFixture {
    FakeReport report;
    std::unique_ptr<FileTransfers> transfers;

    std::string makeFile(std::size_t size) {
        wex::Bytes bytes(size);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<uint8_t>(i % 251);
        const std::string path = f.dir.file("payload.bin");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(size));
        return path;
    }
    void start() {
        connect();
        transfers = std::make_unique<FileTransfers>(client(), report, *f.fake);
    }
    void TearDown() override { transfers.reset(); }
};

} // namespace

TEST_F(FileSession, TheAgentsClipboardTextIsHandedOnAndOtherFormatsAreNot) {
    connect();
    std::vector<std::string> got;
    QObject::connect(&client(), &WEXClient::remoteClipboardText, &client(),
                     [&](const std::string& text) { got.push_back(text); });
    agent.sendSealed(wex::ControlType::clipboard, wex::Clipboard(0, "").encode());
    agent.sendSealed(wex::ControlType::clipboard, wex::Clipboard(0, 9, wex::Bytes{'x'}).encode());
    agent.sendSealed(wex::ControlType::clipboard, wex::Clipboard(0, "copied there").encode());
    ASSERT_TRUE(waitUntil([&] { return !got.empty(); }));
    settle();
    EXPECT_EQ(got, std::vector<std::string>{"copied there"});
}

TEST_F(FileSession, AFileArrivesWholeInSealingOrder) {
    start();
    const std::size_t size = 3 * 1024 * 1024 + 5;
    transfers->sendFile(makeFile(size));
    ASSERT_TRUE(waitUntil([&] { return transfers->active() == 0; }, 20s));
    // The sender is done once its last frame left; the agent has it once its file's end came in.
    ASSERT_TRUE(waitUntil(
        [&] {
            return std::any_of(agent.sealedReceived.begin(), agent.sealedReceived.end(),
                               [](const auto& s) { return s.type == static_cast<uint8_t>(wex::ControlType::fileEnd); });
        },
        20s));
    settle();
    wex::Bytes rebuilt(size);
    uint64_t received = 0;
    uint32_t lastSeq = 0;
    bool first = true, ended = false;
    for (const auto& s : agent.sealedReceived) {
        if (!first) {
            EXPECT_GT(s.seq, lastSeq);
        }
        first = false;
        lastSeq = s.seq;
        if (s.type == static_cast<uint8_t>(wex::ControlType::fileChunk)) {
            const auto chunk = wex::FileChunk::decode(s.plaintext);
            std::copy(chunk.data.begin(), chunk.data.end(), rebuilt.begin() + static_cast<long>(chunk.offset));
            received += chunk.data.size();
        }
        if (s.type == static_cast<uint8_t>(wex::ControlType::fileEnd))
            ended = wex::FileEnd::decode(s.plaintext).succeeded();
    }
    EXPECT_EQ(received, size);
    EXPECT_TRUE(ended);
    for (std::size_t i = 0; i < size; i += 4099) {
        ASSERT_EQ(rebuilt[i], static_cast<uint8_t>(i % 251));
    }
    EXPECT_EQ(report.progress.back(), 1.0);
}

TEST_F(FileSession, ALinkBrokenMidFileEndsTheTransferAsFailed) {
    start();
    transfers->sendFile(makeFile(64 * 1024 * 1024));
    ASSERT_TRUE(waitUntil([&] { return sealedCount(wex::ControlType::fileChunk) >= 1; }));
    agent.dropClient();
    ASSERT_TRUE(waitUntil([&] { return transfers->active() == 0; }, 20s));
    settle();
    EXPECT_EQ(sealedCount(wex::ControlType::fileEnd), 0);
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_NE(report.failures[0].find("payload.bin"), std::string::npos);
    EXPECT_EQ(report.progress.back(), std::nullopt);
    for (const auto& p : report.progress)
        EXPECT_NE(p, 1.0);
}
