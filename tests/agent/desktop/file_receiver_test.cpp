// Files from the controller into the download folder: names, clashes, bounds, failures, the end of a
// session.
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <QCoreApplication>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "DesktopTestSupport.h"
#include "agent/desktop/DownloadsFileReceiver.h"

using namespace dovrel;
using namespace dovrel::agent;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

wex::Bytes bytes(const std::string& s) { return wex::Bytes(s.begin(), s.end()); }

class FileReceiverTest : public ::testing::Test {
protected:
    void SetUp() override { make(dir.str()); }

    void make(const std::string& folder) {
        rx = std::make_unique<DownloadsFileReceiver>(
            [this](const std::string& text, double fraction) { reports.emplace_back(text, fraction); },
            [](const wex::ErrorMsg&) {}, folder, [this](const std::string& p) { revealed.push_back(p); });
    }
    // Lets the receiver's queue and then the main thread's reports run.
    void settle() {
        rx->waitIdle();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    void offer(uint32_t id, const std::string& name, uint64_t size) { rx->offer(wex::FileOffer{0, id, size, name}); }
    void chunk(uint32_t id, uint64_t offset, const std::string& data) {
        rx->chunk(wex::FileChunk{0, id, offset, bytes(data)});
    }
    void end(uint32_t id, bool ok) { rx->end(wex::FileEnd(0, id, ok)); }
    std::vector<std::string> files() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    bool reported(const std::string& text) {
        return std::any_of(reports.begin(), reports.end(), [&](const auto& r) { return r.first == text; });
    }

    test::TempDir dir;
    std::unique_ptr<DownloadsFileReceiver> rx;
    std::vector<std::pair<std::string, double>> reports;
    std::vector<std::string> revealed;
};

} // namespace

TEST_F(FileReceiverTest, AWholeFileIsKeptReportedAndShown) {
    offer(1, "notes.txt", 11);
    chunk(1, 0, "hello ");
    chunk(1, 6, "world");
    end(1, true);
    settle();
    EXPECT_EQ(files(), std::vector<std::string>{"notes.txt"});
    EXPECT_EQ(readFile(dir.path() / "notes.txt"), "hello world");
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0], (std::pair<std::string, double>{"notes.txt", 6.0 / 11.0}));
    EXPECT_EQ(reports[1], (std::pair<std::string, double>{"notes.txt", 1.0}));
    EXPECT_EQ(reports[2], (std::pair<std::string, double>{"Received notes.txt", 1.0}));
    EXPECT_EQ(revealed, std::vector<std::string>{dir.file("notes.txt")});
}

TEST_F(FileReceiverTest, NamesAreMadeSafeAndClashesNumbered) {
    const std::pair<const char*, const char*> cases[] = {
        {"a/b.txt", "a_b.txt"}, {"../x", "__x"}, {"///", "___"},
        {"", "dovrel-file"},    {"a..b", "a_b"}, {"invoice\u202Efdp.exe", "invoice_fdp.exe"},
    };
    uint32_t id = 1;
    for (const auto& [offered, stored] : cases) {
        offer(id, offered, 0);
        end(id++, true);
        settle();
        EXPECT_TRUE(fs::exists(dir.path() / stored)) << offered;
    }
    for (int i = 0; i < 3; ++i) {
        offer(id, "report.pdf", 0);
        end(id++, true);
    }
    offer(id, "notes", 0);
    end(id++, true);
    offer(id, "notes", 0);
    end(id++, true);
    settle();
    for (const char* name : {"report.pdf", "report 1.pdf", "report 2.pdf", "notes", "notes 1"})
        EXPECT_TRUE(fs::exists(dir.path() / name)) << name;
    EXPECT_TRUE(reported("Received report 2.pdf"));
    EXPECT_TRUE(reported("Received notes 1"));
}

TEST_F(FileReceiverTest, ALinkInTheFolderIsNeverWrittenThrough) {
    test::TempDir elsewhere;
    const fs::path target = elsewhere.path() / "victim";
    std::ofstream(target) << "keep";
    fs::create_symlink(target, dir.path() / "victim");
    fs::create_symlink(elsewhere.path() / "missing", dir.path() / "dangling");
    offer(1, "victim", 4);
    chunk(1, 0, "evil");
    end(1, true);
    offer(2, "dangling", 4);
    chunk(2, 0, "evil");
    end(2, true);
    settle();
    EXPECT_EQ(readFile(target), "keep");
    EXPECT_FALSE(fs::exists(elsewhere.path() / "missing"));
    EXPECT_EQ(readFile(dir.path() / "victim 1"), "evil");
    EXPECT_EQ(readFile(dir.path() / "dangling 1"), "evil");
}

TEST_F(FileReceiverTest, UnsafeNamesAreRefusedAndReportedAsNotReceived) {
    const std::string refused[] = {".",       std::string("a\0b", 3), "tab\there",          "bell\x07",
                                   "del\x7F", "c1\xC2\x85",           std::string(256, 'n')};
    uint32_t id = 1;
    for (const auto& name : refused) {
        offer(id, name, 1);
        chunk(id, 0, "x");
        end(id++, true);
    }
    settle();
    EXPECT_TRUE(files().empty());
    EXPECT_EQ(reports.size(), std::size(refused));
    for (const auto& r : reports)
        EXPECT_EQ(r.first, "Couldn't receive a file — its name is not allowed");
    // 255 bytes is allowed; numbering past 255 is a failure, not a truncated name.
    offer(id, std::string(255, 'n'), 0);
    end(id++, true);
    offer(id, std::string(255, 'n'), 0);
    end(id++, true);
    settle();
    EXPECT_EQ(files(), std::vector<std::string>{std::string(255, 'n')});
    EXPECT_TRUE(reported("Couldn't receive " + std::string(255, 'n')));
}

TEST_F(FileReceiverTest, ChunksOutsideTheAnnouncedSizeAreIgnored) {
    offer(1, "ten", 10);
    chunk(1, 8, "abcd");       // past the end
    chunk(1, UINT64_MAX, "z"); // offset + length would overflow
    chunk(1, 11, "");          // starts past the end
    chunk(1, 6, "6789");       // ends exactly at the size
    rx->chunk(wex::FileChunk{0, 1, UINT64_MAX - 1, wex::Bytes(4, 'q')});
    settle();
    const std::string partial = readFile(dir.path() / "ten.dovrel-part");
    EXPECT_EQ(partial.size(), 10u);
    EXPECT_EQ(partial.substr(6), "6789");
    chunk(1, 0, "012345");
    end(1, true);
    settle();
    EXPECT_EQ(readFile(dir.path() / "ten"), "0123456789");
    EXPECT_TRUE(reported("Received ten"));
}

TEST_F(FileReceiverTest, AFailedEndDeletesThePartialFile) {
    offer(1, "five.bin", 5);
    chunk(1, 0, "a");
    chunk(1, 1, "b");
    chunk(1, 2, "c");
    settle();
    // Until it is whole it goes by its temporary name only.
    EXPECT_EQ(files(), std::vector<std::string>{"five.bin.dovrel-part"});
    end(1, false);
    chunk(1, 3, "d"); // after the end: nothing to write to
    settle();
    EXPECT_TRUE(files().empty());
    EXPECT_FALSE(reported("Received five.bin"));
    EXPECT_TRUE(revealed.empty());
}

TEST_F(FileReceiverTest, AFileCutShortIsDeletedAndNotReportedReceived) {
    offer(1, "short.bin", 6);
    chunk(1, 0, "abc");
    chunk(1, 0, "abc"); // sent twice, counted once
    end(1, true);
    settle();
    EXPECT_TRUE(files().empty());
    EXPECT_TRUE(reported("Couldn't receive short.bin"));
    EXPECT_FALSE(reported("Received short.bin"));
    for (const auto& r : reports)
        EXPECT_LE(r.second, 1.0);
}

TEST_F(FileReceiverTest, AnEmptyFileIsKept) {
    offer(1, "empty", 0);
    chunk(1, 0, "");
    end(1, true);
    settle();
    EXPECT_EQ(files(), std::vector<std::string>{"empty"});
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], (std::pair<std::string, double>{"empty", 0.0}));
    EXPECT_EQ(reports[1], (std::pair<std::string, double>{"Received empty", 1.0}));
}

TEST_F(FileReceiverTest, ProgressIsReportedOncePerPercent) {
    offer(1, "big", 1000);
    for (int i = 0; i < 1000; ++i)
        chunk(1, static_cast<uint64_t>(i), "x");
    end(1, true);
    settle();
    EXPECT_EQ(reports.size(), 101u + 1u); // 0.1% (reported as 0), 1%, ... 100%, then Received
    for (std::size_t i = 1; i + 1 < reports.size(); ++i)
        EXPECT_GT(reports[i].second, reports[i - 1].second);
    EXPECT_EQ(reports.back().first, "Received big");
}

TEST_F(FileReceiverTest, AWriteFailureDeletesTheFileAndIsReportedAsAFailure) {
    // The file-size limit makes a write past 4 KiB fail as a full disk would.
    struct sigaction ignore {
    }, before{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &before);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);

    test::LogCapture log;
    offer(1, "large.bin", 10000);
    chunk(1, 0, std::string(4096, 'a'));
    chunk(1, 4096, std::string(4096, 'b'));
    chunk(1, 8192, std::string(1808, 'c'));
    end(1, true);
    settle();
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::sigaction(SIGXFSZ, &before, nullptr);

    EXPECT_TRUE(files().empty());
    EXPECT_TRUE(reported("Couldn't receive large.bin"));
    EXPECT_FALSE(reported("Received large.bin"));
    EXPECT_TRUE(log.contains("• file chunk write failed (File too large) — dropping transfer\n"));
}

TEST_F(FileReceiverTest, OffersThatCannotBeStoredAreReportedAsFailures) {
    test::LogCapture log;
    offer(1, "huge.iso", uint64_t{1} << 62);
    settle();
    EXPECT_TRUE(reported("Couldn't receive huge.iso"));
    EXPECT_TRUE(log.contains("• file offer refused (not enough free space) — dropping transfer\n"));

    // A download folder that is a file.
    std::ofstream(dir.file("not-a-folder")) << "x";
    make(dir.file("not-a-folder"));
    offer(2, "a.txt", 1);
    settle();
    EXPECT_TRUE(reported("Couldn't receive a.txt"));
    EXPECT_TRUE(log.contains("• file offer refused (Not a directory) — dropping transfer\n"));
}

TEST_F(FileReceiverTest, UnfinishedTransfersAreCappedAndCancelledAtTheEndOfASession) {
    test::LogCapture log;
    for (uint32_t id = 1; id <= DownloadsFileReceiver::maxUnfinished + 1; ++id) {
        offer(id, "part" + std::to_string(id), 10);
        chunk(id, 0, "12345");
    }
    settle();
    EXPECT_EQ(files().size(), DownloadsFileReceiver::maxUnfinished);
    EXPECT_TRUE(reported("Couldn't receive part17"));

    rx->cancelAll();
    chunk(1, 5, "67890");
    end(1, true);
    settle();
    EXPECT_TRUE(files().empty());
    EXPECT_FALSE(reported("Received part1"));
    EXPECT_TRUE(log.contains("• 16 unfinished file transfer(s) cancelled — partial files deleted\n"));

    // Room again after the cancel.
    offer(40, "again", 1);
    chunk(40, 0, "x");
    end(40, true);
    settle();
    EXPECT_EQ(files(), std::vector<std::string>{"again"});
}

TEST_F(FileReceiverTest, AnOfferRepeatedForOneTransferStartsItOver) {
    offer(1, "retry.txt", 4);
    chunk(1, 0, "ab");
    offer(1, "retry.txt", 4);
    chunk(1, 0, "wxyz");
    end(1, true);
    settle();
    EXPECT_EQ(files(), std::vector<std::string>{"retry.txt"});
    EXPECT_EQ(readFile(dir.path() / "retry.txt"), "wxyz");
}

TEST_F(FileReceiverTest, UnfinishedFilesGoWithTheReceiver) {
    offer(1, "left.bin", 10);
    chunk(1, 0, "12345");
    settle();
    rx.reset();
    EXPECT_TRUE(files().empty());
}

TEST(DownloadFolder, FollowsTheXdgUserDirsConfiguration) {
    test::TempDir home;
    const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string savedConfig = oldConfig ? oldConfig : "";
    ::setenv("HOME", home.str().c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    fs::create_directories(home.path() / ".config");
    const std::string none = DownloadsFileReceiver::downloadFolder();
    std::ofstream(home.path() / ".config" / "user-dirs.dirs") << "XDG_DOWNLOAD_DIR=\"$HOME/Incoming\"\n";
    const std::string configured = DownloadsFileReceiver::downloadFolder();
    // The user-dirs way of saying "none" is the home folder itself: never a place for received files.
    std::ofstream(home.path() / ".config" / "user-dirs.dirs") << "XDG_DOWNLOAD_DIR=\"$HOME/\"\n";
    const std::string homeItself = DownloadsFileReceiver::downloadFolder();
    ::setenv("HOME", oldHome.c_str(), 1);
    if (oldConfig) ::setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    EXPECT_EQ(none, home.file("Downloads"));
    EXPECT_EQ(configured, home.file("Incoming"));
    EXPECT_EQ(homeItself, home.file("Downloads"));
}
