// The clipboard-file host: offer limits, safe and distinct names, the private receive folder, pulls
// answered, offers received into files on the clipboard and never offered back.
#include <filesystem>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "ClipboardFakes.h"
#include "controller/client/files/ClipFileNames.h"
#include "controller/client/files/ClipboardFileHost.h"
#include "protocol/FileMessages.h"
#include <QString>

using namespace dovrel;
using namespace dovrel::controller;
using namespace dovrel::controller::test;
namespace fs = std::filesystem;

namespace {

std::vector<wex::ClipFileEntry> entries(std::size_t n, uint64_t size) {
    return std::vector<wex::ClipFileEntry>(n, wex::ClipFileEntry{"f", size});
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(ClipOfferLimits, CountSizeAndRunningTotal) {
    EXPECT_EQ(clipOfferRefusal(entries(64, 1)), std::nullopt);
    EXPECT_EQ(clipOfferRefusal(entries(65, 1)), "65 files, limit 64");
    EXPECT_EQ(clipOfferRefusal({{"a", 2147483648ULL}}), std::nullopt);
    EXPECT_EQ(clipOfferRefusal({{"a", 2147483649ULL}}), "a file declares 2147483649 bytes");
    EXPECT_EQ(clipOfferRefusal(entries(2, 2147483648ULL)), std::nullopt);
    // The total is over after the third entry: the fourth, over its own limit, is never looked at.
    auto three = entries(3, 2147483648ULL);
    three.push_back({"huge", 1ULL << 40});
    EXPECT_EQ(clipOfferRefusal(three), "declared total over 4294967296");
}

TEST(ClipFileNames, SafeNamesStayInsideTheirFolder) {
    EXPECT_EQ(safeClipFileName("../x"), ".._x");
    EXPECT_EQ(safeClipFileName(".."), "file.bin");
    EXPECT_EQ(safeClipFileName("   "), "file.bin");
    EXPECT_EQ(safeClipFileName(std::string("a\0b", 3)), "a_b");
    EXPECT_EQ(safeClipFileName("c:\\win\\a.txt"), "c__win_a.txt");
    EXPECT_EQ(safeClipFileName(" line\u200B\x07.txt\n"), "line.txt");
    const std::string longName = std::string(296, 'n') + ".txt";
    EXPECT_EQ(safeClipFileName(longName), std::string(150, 'n') + ".txt");
    EXPECT_EQ(safeClipFileName(std::string(200, 'k')), std::string(200, 'k'));
    // Names of many bytes a character are cut by bytes, between characters, to fit a file name.
    std::string emoji, marks = "a";
    for (int i = 0; i < 120; ++i)
        emoji += "\U0001F600", marks += "\u0301\u0301";
    EXPECT_EQ(safeClipFileName(emoji + ".txt"), emoji.substr(0, 37 * 4) + ".txt");
    for (const std::string& name : {emoji + "." + emoji, marks + ".txt"}) {
        const std::string safe = safeClipFileName(name);
        EXPECT_LE(safe.size(), 255u);
        EXPECT_EQ(QString::fromStdString(safe).toStdString(), safe); // still valid UTF-8
    }
}

TEST(ClipFileNames, EqualSafeNamesGetNumbers) {
    const std::vector<wex::ClipFileEntry> files{{"a/b.txt", 1}, {"a:b.txt", 1}, {"a_b.txt", 1},
                                                {"notes", 1},   {"notes", 1},   {"a_b (2).txt", 1}};
    EXPECT_EQ(distinctClipFileNames(files), (std::vector<std::string>{"a_b.txt", "a_b (2).txt", "a_b (3).txt", "notes",
                                                                      "notes (2)", "a_b (2) (2).txt"}));
}

TEST(ReceiveFolder, IsPrivateAndRefusesLinksAndOtherUsersFolders) {
    dovrel::test::TempDir dir;
    ReceiveFolder folder(dir.file("Dovrel"), 0);
    std::string why;
    ASSERT_TRUE(folder.openOffer(3, 0, why)) << why;
    EXPECT_EQ(folder.offerPath(), dir.file("Dovrel") + "/run-" + std::to_string(::getpid()) + "/clip-3");
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("Dovrel").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(folder.offerPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_FALSE(folder.create("../escape").isOpen());
    EXPECT_FALSE(fs::exists(dir.file("escape")));

    // A base folder someone else made first, or a link planted in its place, is never used.
    fs::create_directory(dir.file("target"));
    fs::create_directory_symlink(dir.file("target"), dir.file("Linked"));
    ReceiveFolder linked(dir.file("Linked"), 0);
    EXPECT_FALSE(linked.openOffer(1, 0, why));
    EXPECT_FALSE(fs::exists(dir.file("target/clip-1")));
    if (::geteuid() == 0) {
        fs::create_directory(dir.file("Theirs"));
        ASSERT_EQ(::chown(dir.file("Theirs").c_str(), 4242, 4242), 0);
        ReceiveFolder theirs(dir.file("Theirs"), 0);
        EXPECT_FALSE(theirs.openOffer(1, 0, why));
        EXPECT_NE(why.find("another user"), std::string::npos);
    }
    // A folder of ours that others could enter is narrowed.
    fs::create_directory(dir.file("Open"));
    ::chmod(dir.file("Open").c_str(), 0777);
    ReceiveFolder open(dir.file("Open"), 0);
    ASSERT_TRUE(open.openOffer(1, 0, why));
    ASSERT_EQ(::stat(dir.file("Open").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(ReceiveFolder, ForgetsWhatAnEarlierRunLeftKeepsWhatARunningOneHoldsAndTakesOffersOnlyWithRoomToSpare) {
    dovrel::test::TempDir dir;
    fs::create_directories(dir.file("recv/clip-9"));
    std::ofstream(dir.file("recv/clip-9/left.txt")) << "from an earlier run";
    fs::create_directories(dir.file("recv/run-1/clip-2"));
    std::string why;
    // A controller running beside this one: its files stay, and ours go elsewhere.
    auto running = std::make_unique<ReceiveFolder>(dir.file("recv"), 0);
    ASSERT_TRUE(running->openOffer(1, 0, why)) << why;
    EXPECT_FALSE(fs::exists(dir.file("recv/clip-9")));
    EXPECT_FALSE(fs::exists(dir.file("recv/run-1")));
    std::ofstream(running->offerPath() + "/kept.txt") << "still on its clipboard";
    ReceiveFolder full(dir.file("recv"), uint64_t{1} << 62);
    EXPECT_TRUE(fs::exists(running->offerPath() + "/kept.txt"));
    running.reset();
    ReceiveFolder next(dir.file("recv"), 0);
    EXPECT_TRUE(fs::is_empty(dir.file("recv")));
    EXPECT_FALSE(full.openOffer(3, 300000, why));
    EXPECT_NE(why.find("free disk space"), std::string::npos) << why;
}

namespace {

struct Host : ::testing::Test {
    dovrel::test::TempDir dir;
    dovrel::test::FakeScheduler clock;
    FakeClipboard clipboard;
    FakeChannel channel;
    FakeReport report;
    FileTransfers transfers{channel, report, clock};
    ReceiveFolder folder{dir.file("recv"), 0};
    ClipboardFileHost host{clipboard, channel, transfers, folder, report, clock};

    Host() {
        app();
        channel.open();
        host.start();
    }
    std::vector<wex::ClipFilePull> pulls() const {
        std::vector<wex::ClipFilePull> out;
        for (const auto& m : channel.sent())
            if (m.type == wex::ControlType::clipFilePull) out.push_back(wex::ClipFilePull::decode(m.payload));
        return out;
    }
    std::vector<wex::ClipFilesOffer> offers() const {
        std::vector<wex::ClipFilesOffer> out;
        for (const auto& m : channel.sent())
            if (m.type == wex::ControlType::clipFilesOffer) out.push_back(wex::ClipFilesOffer::decode(m.payload));
        return out;
    }
    static wex::Bytes bytes(const std::string& s) { return wex::Bytes(s.begin(), s.end()); }
    // Where this run receives offer `generation`'s files.
    std::string offerDir(uint32_t generation) const {
        return dir.file("recv/run-" + std::to_string(::getpid()) + "/clip-" + std::to_string(generation));
    }
};

} // namespace

TEST_F(Host, AnOfferIsPulledAtOnceAndItsFilesGoOnTheClipboardUnderDistinctNames) {
    host.onRemoteOffer(5, {{"same.txt", 3}, {"same.txt", 4}, {"zero", 0}});
    const auto asked = pulls();
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[2].index, 2);
    EXPECT_TRUE(host.receiving());

    host.onData(5, 1, 2, bytes("cd"), false); // out of order is fine
    host.onData(5, 1, 0, bytes("ab"), true);
    host.onData(5, 0, 0, bytes("xyz1"), false); // more than declared: dropped
    host.onData(4, 0, 0, bytes("old"), true);   // another generation: ignored
    host.onData(5, 0, 0, bytes("xyz"), true);
    EXPECT_TRUE(clipboard.filePaths().empty());
    host.onData(5, 2, 0, {}, true);

    EXPECT_FALSE(host.receiving());
    const auto paths = clipboard.filePaths();
    ASSERT_EQ(paths.size(), 2u); // the empty file is left off
    EXPECT_EQ(paths[0], offerDir(5) + "/same.txt");
    EXPECT_EQ(paths[1], offerDir(5) + "/same (2).txt");
    EXPECT_EQ(readAll(paths[0]), "xyz");
    EXPECT_EQ(readAll(paths[1]), "abcd");

    // The received files are not offered back.
    clock.advance(2s);
    EXPECT_TRUE(offers().empty());
}

TEST_F(Host, OffersOverTheLimitsChangeNothingButAreShown) {
    host.onRemoteOffer(1, entries(65, 1));
    host.onRemoteOffer(2, {{"a", 2147483649ULL}});
    host.onRemoteOffer(3, {});
    EXPECT_TRUE(pulls().empty());
    EXPECT_FALSE(host.receiving());
    EXPECT_EQ(report.failures.size(), 2u);
}

TEST_F(Host, FilesThatComeShortOrCannotBeWrittenGoAtOnceAndTheWindowIsToldWhy) {
    host.onRemoteOffer(1, {{"short.txt", 10}, {"whole.txt", 2}});
    host.onData(1, 0, 0, bytes("abc"), true);
    EXPECT_FALSE(fs::exists(offerDir(1) + "/short.txt"));
    host.onData(1, 1, 0, bytes("ok"), true);
    EXPECT_EQ(clipboard.filePaths(), std::vector<std::string>{offerDir(1) + "/whole.txt"});
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_EQ(report.failures[0], "Couldn't receive 1 of the 2 copied files: they didn't arrive whole.");
}

TEST_F(Host, AFloodOfOffersKeepsOneFolderAndTheSessionsEndRemovesWhatWasArriving) {
    // A thousand offers of 64 one-byte files at once: the first is taken, the newest waits its turn.
    for (uint32_t gen = 1; gen <= 1000; ++gen)
        host.onRemoteOffer(gen, entries(64, 1));
    channel.clear();
    clock.advance(ClipboardFileHost::offerSpacing);
    ASSERT_EQ(pulls().size(), 64u);
    EXPECT_EQ(pulls()[0].generation, 1000u);
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(offerDir(1)).parent_path()), fs::directory_iterator{}), 1);

    // Half the files came when the session ends: their descriptors close and they go.
    for (uint8_t i = 0; i < 32; ++i)
        host.onData(1000, i, 0, bytes("x"), true);
    host.stop();
    EXPECT_FALSE(fs::exists(offerDir(1000)));
    EXPECT_FALSE(host.receiving());
}

TEST_F(Host, LocalCopiesAreOfferedByGenerationAndOnlyTheLatestCanBePulled) {
    const std::string a = dir.file("a.bin");
    std::ofstream(a) << "12345";
    clipboard.copyFiles({a, dir.str()});
    clock.advance(700ms);
    clipboard.copyFiles({a});
    clock.advance(700ms);
    const auto offered = offers();
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[0].generation, 1u);
    EXPECT_EQ(offered[0].files, (std::vector<wex::ClipFileEntry>{{"a.bin", 5}, {fs::path(dir.str()).filename(), 0}}));
    EXPECT_EQ(offered[1].generation, 2u);

    channel.clear();
    host.onPull(1, 0); // forgotten generation
    host.onPull(2, 0);
    ASSERT_TRUE(waitUntil([&] { return transfers.active() == 0 && channel.sent().size() == 2; }));
    const auto sent = channel.sent();
    const auto stale = wex::ClipFileData::decode(sent[0].payload);
    const auto data = wex::ClipFileData::decode(sent[1].payload);
    EXPECT_EQ(stale.generation, 1u);
    EXPECT_TRUE(stale.data.empty());
    EXPECT_TRUE(stale.isLast());
    EXPECT_EQ(data.data, bytes("12345"));
    EXPECT_TRUE(data.isLast());
}
