// Files sent to the agent on the file thread: the messages and their order, progress, chunks read as
// they go, a session lost in the middle, and the answers to clipboard-file pulls.
#include <fstream>

#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "ClipboardFakes.h"
#include "controller/client/files/FileTransfers.h"
#include "protocol/FileMessages.h"

using namespace dovrel;
using namespace dovrel::controller;
using namespace dovrel::controller::test;

namespace {

struct Transfers : ::testing::Test {
    dovrel::test::TempDir dir;
    dovrel::test::FakeScheduler clock;
    FakeChannel channel;
    FakeReport report;
    std::unique_ptr<FileTransfers> transfers;

    Transfers() {
        app();
        transfers = std::make_unique<FileTransfers>(channel, report, clock);
    }

    std::string makeFile(const std::string& name, std::size_t size) {
        wex::Bytes bytes(size);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
        const std::string path = dir.file(name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(size));
        return path;
    }
    // Waits for the transfers to end and for what they posted to the main thread.
    void settle() {
        ASSERT_TRUE(waitUntil([&] { return transfers->active() == 0; }, 10s));
        pump(20ms);
    }
};

} // namespace

TEST_F(Transfers, AFileGoesAsOfferChunksOfAtMost48KiBAndEndWithProgressToOneThenNone) {
    channel.open();
    const std::string path = makeFile("report.pdf", 100000);
    transfers->sendFile(path);
    settle();

    const auto sent = channel.sent();
    ASSERT_EQ(sent.size(), 5u);
    ASSERT_EQ(sent[0].type, wex::ControlType::fileOffer);
    const auto offer = wex::FileOffer::decode(sent[0].payload);
    EXPECT_EQ(offer.size, 100000u);
    EXPECT_EQ(offer.name, "report.pdf");
    const uint64_t offsets[] = {0, 49152, 98304};
    const std::size_t lengths[] = {49152, 49152, 1696};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(sent[1 + i].type, wex::ControlType::fileChunk);
        const auto chunk = wex::FileChunk::decode(sent[1 + i].payload);
        EXPECT_EQ(chunk.transferId, offer.transferId);
        EXPECT_EQ(chunk.offset, offsets[i]);
        EXPECT_EQ(chunk.data.size(), lengths[i]);
    }
    const auto end = wex::FileEnd::decode(sent[4].payload);
    EXPECT_EQ(end.transferId, offer.transferId);
    EXPECT_TRUE(end.succeeded());

    ASSERT_FALSE(report.progress.empty());
    EXPECT_EQ(report.progress.front(), 0.0);
    EXPECT_EQ(report.progress.back(), 1.0);
    EXPECT_TRUE(report.failures.empty());
    EXPECT_EQ(report.sent, std::vector<std::string>{"report.pdf"}) << "the window says it arrived";
    clock.advance(1199ms);
    EXPECT_EQ(report.progress.back(), 1.0);
    clock.advance(1ms);
    EXPECT_EQ(report.progress.back(), std::nullopt);

    // The next file is the next transfer.
    channel.clear();
    transfers->sendFile(makeFile("empty", 0));
    settle();
    const auto second = channel.sent();
    ASSERT_EQ(second.size(), 2u); // an empty file has no chunk
    EXPECT_EQ(wex::FileOffer::decode(second[0].payload).transferId, offer.transferId + 1);
    EXPECT_EQ(second[1].type, wex::ControlType::fileEnd);
    EXPECT_EQ(report.progress.back(), 1.0);
}

TEST_F(Transfers, ASessionLostMidFileStopsTheTransferClearsProgressAndSaysItFailed) {
    channel.open();
    channel.loseAfter(3); // the offer and two chunks
    transfers->sendFile(makeFile("big.bin", 10 * 49152));
    settle();

    const auto sent = channel.sent();
    ASSERT_EQ(sent.size(), 3u);
    for (const auto& m : sent)
        EXPECT_NE(m.type, wex::ControlType::fileEnd);
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_NE(report.failures[0].find("big.bin"), std::string::npos);
    EXPECT_EQ(report.progress.back(), std::nullopt);
    for (const auto& p : report.progress)
        EXPECT_NE(p, 1.0);
    EXPECT_TRUE(report.sent.empty());
    clock.advance(5s);
    EXPECT_EQ(report.progress.back(), std::nullopt);
}

TEST_F(Transfers, WithoutASessionOrAReadableFileNothingIsSentAndTheUserIsTold) {
    transfers->sendFile(makeFile("a.txt", 10));
    settle();
    EXPECT_TRUE(channel.sent().empty());
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_EQ(report.failures[0], "Not connected.");

    channel.open();
    transfers->sendFile(dir.file("missing.txt"));
    settle();
    EXPECT_TRUE(channel.sent().empty());
    ASSERT_EQ(report.failures.size(), 2u);
    EXPECT_EQ(report.failures[1].rfind("Couldn't read that file: ", 0), 0u);
}

// Files chosen as the window closes: the transfers go with work still queued on the file thread.
TEST_F(Transfers, FilesChosenJustBeforeTheTransfersGoAreLetGoWithoutHarm) {
    for (int i = 0; i < 50; ++i)
        transfers->sendFile(dir.file("late.txt"));
    transfers.reset();
    pump(20ms);
}

TEST_F(Transfers, PulledClipboardFilesComeInPiecesEndingWithTheLastOrAsOneEmptyLastPiece) {
    channel.open();
    transfers->sendClipFile(7, 1, makeFile("two.bin", 49153));
    settle();
    auto sent = channel.sent();
    ASSERT_EQ(sent.size(), 2u);
    const auto first = wex::ClipFileData::decode(sent[0].payload);
    const auto second = wex::ClipFileData::decode(sent[1].payload);
    EXPECT_EQ(first.generation, 7u);
    EXPECT_EQ(first.index, 1);
    EXPECT_EQ(first.data.size(), 49152u);
    EXPECT_FALSE(first.isLast());
    EXPECT_EQ(second.offset, 49152u);
    EXPECT_EQ(second.data.size(), 1u);
    EXPECT_TRUE(second.isLast());

    for (const std::optional<std::string>& path :
         {std::optional<std::string>(), std::optional(makeFile("empty", 0)), std::optional(dir.str())}) {
        channel.clear();
        transfers->sendClipFile(8, 0, path);
        settle();
        sent = channel.sent();
        ASSERT_EQ(sent.size(), 1u);
        const auto none = wex::ClipFileData::decode(sent[0].payload);
        EXPECT_EQ(none.offset, 0u);
        EXPECT_TRUE(none.data.empty());
        EXPECT_TRUE(none.isLast());
    }
}
