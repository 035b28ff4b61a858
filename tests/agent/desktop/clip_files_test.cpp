// Clipboard files both ways: local files offered and streamed to the controller, the controller's
// files fetched into a private folder and put on the clipboard for another application to paste.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include <QClipboard>
#include <QGuiApplication>
#include <QUrl>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "../../support/FakeScheduler.h"
#include "ClipboardPeer.h"
#include "DesktopTestSupport.h"
#include "agent/desktop/ClipFileSender.h"
#include "agent/desktop/QtClipFiles.h"
#include "protocol/ControlMessages.h"
#include "protocol/FileMessages.h"

using namespace dovrel;
using namespace dovrel::agent;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& p, std::size_t size) {
    std::ofstream out(p, std::ios::binary);
    for (std::size_t i = 0; i < size; ++i)
        out.put(static_cast<char>((i * 7 + i / 251) & 0xFF));
}

wex::Bytes bytes(const std::string& s) { return wex::Bytes(s.begin(), s.end()); }

// What the agent sent to the controller, from whichever thread sent it: the link the clipboard files
// are made with. Its backlog reads 0 until a test has it report what is outstanding.
class Outbox final : public ControllerLink {
public:
    void send(wex::ControlType type, wex::Bytes payload) override { add(type, std::move(payload)); }
    std::size_t backlog() const override {
        const std::lock_guard lock(mutex_);
        if (!reporting_) return 0;
        most_ = std::max(most_, outstanding_);
        if (outstanding_ > ClipFileSender::backlogWindow) ++fullLooks_;
        return outstanding_;
    }
    // How often a reader asked and found the link fuller than it may read ahead of.
    int fullLooks() const {
        const std::lock_guard lock(mutex_);
        return fullLooks_;
    }
    // From now on the backlog is what was sent and not yet drained.
    void reportBacklog() {
        const std::lock_guard lock(mutex_);
        reporting_ = true;
    }
    void add(wex::ControlType type, wex::Bytes payload) {
        const std::lock_guard lock(mutex_);
        outstanding_ += payload.size();
        messages_.emplace_back(type, std::move(payload));
    }
    std::vector<std::pair<wex::ControlType, wex::Bytes>> take() {
        const std::lock_guard lock(mutex_);
        return std::exchange(messages_, {});
    }
    std::vector<wex::ClipFileData> takeData() {
        std::vector<wex::ClipFileData> data;
        for (auto& [type, payload] : take())
            if (type == wex::ControlType::clipFileData) data.push_back(wex::ClipFileData::decode(payload));
        return data;
    }
    // Bytes handed over and not yet "written to the link".
    std::size_t outstanding() const {
        const std::lock_guard lock(mutex_);
        return outstanding_;
    }
    std::size_t mostOutstanding() const {
        const std::lock_guard lock(mutex_);
        return most_;
    }
    void drain() {
        const std::lock_guard lock(mutex_);
        outstanding_ = 0;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<wex::ControlType, wex::Bytes>> messages_;
    std::size_t outstanding_ = 0;
    mutable std::size_t most_ = 0;
    mutable int fullLooks_ = 0;
    bool reporting_ = false;
};

class ClipFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        DOVREL_REQUIRE_GUI();
        peer = std::make_unique<test::ClipboardPeer>();
        ASSERT_TRUE(peer->started());
        changes = std::make_unique<test::ClipboardChanges>();
        // Whatever an earlier test left on the clipboard belongs to another application now.
        const auto seen = changes->mark();
        ASSERT_TRUE(peer->copyText("before the test"));
        ASSERT_TRUE(changes->waitPast(seen));
        make({});
    }
    void make(ClipFileFetcher::Limits limits) {
        clip.reset();
        clip = std::make_unique<QtClipFiles>(outboxLink, cache.file("clip"), clock, limits);
        test::pumpFor(10ms);
    }
    void start() {
        clip->start();
        test::pumpFor(20ms);
    }
    void settle() {
        clip->waitIdle();
        test::pumpFor(20ms);
    }
    // Another application copies files; returns the offer the agent then sends.
    wex::ClipFilesOffer copyElsewhere(const std::vector<std::string>& paths) {
        const auto seen = changes->mark();
        EXPECT_TRUE(peer->copyFiles(paths));
        EXPECT_TRUE(changes->waitPast(seen));
        clock.advance(QtClipFiles::pollInterval);
        test::pumpFor(10ms);
        for (auto& [type, payload] : outbox.take())
            if (type == wex::ControlType::clipFilesOffer) return wex::ClipFilesOffer::decode(payload);
        ADD_FAILURE() << "no offer";
        return {};
    }
    // The pull the agent sent last, if any.
    std::optional<wex::ClipFilePull> takePull() {
        std::optional<wex::ClipFilePull> pull;
        for (auto& [type, payload] : outbox.take())
            if (type == wex::ControlType::clipFilePull) pull = wex::ClipFilePull::decode(payload);
        return pull;
    }
    // Waits until this process owns the clipboard with the fetched files, and returns their paths.
    std::vector<std::string> published() {
        if (!test::pumpUntil([] { return ownsClipboard(); }, 5s)) return {};
        std::vector<std::string> paths;
        for (const auto& u : peer->read().urls)
            paths.push_back(QUrl(QString::fromStdString(u)).toLocalFile().toStdString());
        return paths;
    }
    std::vector<std::string> offerFolders() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(cache.file("clip")))
            names.push_back(e.path().string());
        return names;
    }

    test::TempDir files;
    test::TempDir cache;
    test::FakeScheduler clock;
    std::shared_ptr<Outbox> outboxLink = std::make_shared<Outbox>();
    Outbox& outbox = *outboxLink;
    std::unique_ptr<test::ClipboardPeer> peer;
    std::unique_ptr<test::ClipboardChanges> changes;
    std::unique_ptr<QtClipFiles> clip;
};

std::string reassemble(const std::vector<wex::ClipFileData>& pieces) {
    std::string out;
    for (const auto& p : pieces) {
        EXPECT_EQ(p.offset, out.size());
        out.append(p.data.begin(), p.data.end());
    }
    return out;
}

} // namespace

TEST_F(ClipFilesTest, CopiedFilesAreOfferedAndPulledInPiecesOf48KiB) {
    writeFile(files.file("exact.bin"), 49152);
    writeFile(files.file("over.bin"), 49153);
    writeFile(files.file("empty"), 0);
    fs::create_directory(files.file("folder"));
    start();
    const auto offer =
        copyElsewhere({files.file("exact.bin"), files.file("over.bin"), files.file("empty"), files.file("folder")});
    EXPECT_EQ(offer.generation, 1u);
    ASSERT_EQ(offer.files.size(), 4u);
    EXPECT_EQ(offer.files[0], (wex::ClipFileEntry{"exact.bin", 49152}));
    EXPECT_EQ(offer.files[1], (wex::ClipFileEntry{"over.bin", 49153}));
    EXPECT_EQ(offer.files[2], (wex::ClipFileEntry{"empty", 0}));
    EXPECT_EQ(offer.files[3], (wex::ClipFileEntry{"folder", 0}));

    clip->onPull(1, 0);
    settle();
    auto pieces = outbox.takeData();
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].data.size(), 49152u);
    EXPECT_TRUE(pieces[0].isLast());
    EXPECT_EQ(reassemble(pieces), readFile(files.file("exact.bin")));

    clip->onPull(1, 1);
    settle();
    pieces = outbox.takeData();
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].data.size(), 49152u);
    EXPECT_FALSE(pieces[0].isLast());
    EXPECT_EQ(pieces[1].data.size(), 1u);
    EXPECT_EQ(pieces[1].offset, 49152u);
    EXPECT_TRUE(pieces[1].isLast());
    EXPECT_EQ(reassemble(pieces), readFile(files.file("over.bin")));

    // The empty file, the folder, an index past the offer and a generation never offered: one empty last piece.
    for (const auto& [gen, index] :
         std::vector<std::pair<uint32_t, uint8_t>>{{1, 2}, {1, 3}, {1, 4}, {1, 255}, {0, 0}, {2, 0}}) {
        clip->onPull(gen, index);
        settle();
        pieces = outbox.takeData();
        ASSERT_EQ(pieces.size(), 1u) << gen << "/" << int(index);
        EXPECT_EQ(pieces[0], wex::ClipFileData(0, gen, index, 0, true, {}));
    }
}

TEST_F(ClipFilesTest, ANewCopyIsANewGenerationAndTheOldOneCanNoLongerBePulled) {
    writeFile(files.file("a"), 10);
    writeFile(files.file("b"), 20);
    start();
    EXPECT_EQ(copyElsewhere({files.file("a")}).generation, 1u);
    const auto second = copyElsewhere({files.file("b")});
    EXPECT_EQ(second.generation, 2u);
    clip->onPull(1, 0);
    clip->onPull(2, 0);
    settle();
    const auto pieces = outbox.takeData();
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0], wex::ClipFileData(0, 1, 0, 0, true, {}));
    EXPECT_EQ(pieces[1].data.size(), 20u);
}

TEST_F(ClipFilesTest, FilesOnTheClipboardBeforeTheSessionAreNotOffered) {
    writeFile(files.file("old"), 3);
    const auto seen = changes->mark();
    ASSERT_TRUE(peer->copyFiles({files.file("old")}));
    ASSERT_TRUE(changes->waitPast(seen));
    start();
    clock.advance(3 * QtClipFiles::pollInterval);
    test::pumpFor(20ms);
    EXPECT_TRUE(outbox.take().empty());
    // Text is no business of clipboard files.
    const auto again = changes->mark();
    ASSERT_TRUE(peer->copyText("just text"));
    ASSERT_TRUE(changes->waitPast(again));
    clock.advance(QtClipFiles::pollInterval);
    test::pumpFor(20ms);
    EXPECT_TRUE(outbox.take().empty());
}

TEST_F(ClipFilesTest, APulledFileIsReadOnlyAsFastAsTheLinkTakesIt) {
    constexpr std::size_t size = 3 * 1024 * 1024 + 5;
    writeFile(files.file("big.bin"), size);
    outbox.reportBacklog();
    start();
    copyElsewhere({files.file("big.bin")});
    outbox.drain(); // the offer is written: what is outstanding from now on is the file's
    clip->onPull(1, 0);
    // The link writes nothing for a while: reading starts, then stops after a few pieces, however long
    // the link stays full. The reader has found it full and looked again: it waits, with no more read.
    ASSERT_TRUE(test::pumpUntil([&] { return outbox.fullLooks() >= 2; })) << outbox.outstanding();
    EXPECT_LE(outbox.outstanding(), ClipFileSender::backlogWindow + ClipFileSender::chunkBytes);
    // Then it writes as fast as it can.
    std::string got;
    bool last = false;
    test::pumpUntil([&] {
        outbox.drain();
        for (const auto& p : outbox.takeData()) {
            EXPECT_EQ(p.offset, got.size());
            got.append(p.data.begin(), p.data.end());
            last = p.isLast();
        }
        return last;
    });
    EXPECT_EQ(got.size(), size);
    EXPECT_TRUE(got == readFile(files.file("big.bin")));
    EXPECT_LE(outbox.mostOutstanding(), ClipFileSender::backlogWindow + ClipFileSender::chunkBytes);
}

TEST_F(ClipFilesTest, TheEndOfASessionStopsAFileBeingSent) {
    writeFile(files.file("big.bin"), 2 * 1024 * 1024);
    outbox.reportBacklog();
    start();
    copyElsewhere({files.file("big.bin")});
    outbox.drain(); // the offer is written: what is outstanding from now on is the file's
    clip->onPull(1, 0);
    ASSERT_TRUE(test::pumpUntil([&] { return outbox.outstanding() > 0; })); // the sending has begun
    clip->stop();
    settle(); // returns: the sender gave up waiting for the link
    const auto pieces = outbox.takeData();
    EXPECT_FALSE(pieces.empty());
    EXPECT_LT(pieces.size(), 2u * 1024 * 1024 / ClipFileSender::chunkBytes);
    for (const auto& p : pieces)
        EXPECT_FALSE(p.isLast());
    // The offer went with the session.
    clip->onPull(1, 0);
    settle();
    const auto after = outbox.takeData();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0], wex::ClipFileData(0, 1, 0, 0, true, {}));
}

TEST_F(ClipFilesTest, TheControllersFilesAreFetchedThenPutOnTheClipboard) {
    test::LogCapture log;
    start();
    clip->onRemoteOffer(7, {{"a.txt", 5}, {"dir", 0}, {"b.bin", 6}});
    settle();
    auto pull = takePull();
    ASSERT_TRUE(pull);
    EXPECT_EQ(*pull, (wex::ClipFilePull{0, 7, 0}));
    EXPECT_FALSE(ownsClipboard());

    clip->onData(7, 0, 0, bytes("hello"), true);
    settle();
    EXPECT_EQ(takePull(), (wex::ClipFilePull{0, 7, 1}));
    clip->onData(7, 1, 0, {}, true);
    settle();
    EXPECT_EQ(takePull(), (wex::ClipFilePull{0, 7, 2}));
    // Pieces may come in any order within a file.
    clip->onData(7, 2, 3, bytes("def"), false);
    clip->onData(7, 2, 0, bytes("abc"), true);
    clip->onData(7, 2, 0, bytes("late"), true); // after the file: nobody is waiting for it
    settle();

    const auto paths = published();
    ASSERT_EQ(paths.size(), 3u);
    const fs::path folder = fs::path(paths[0]).parent_path();
    EXPECT_EQ(fs::path(folder).parent_path(), fs::path(cache.file("clip")));
    EXPECT_EQ(paths[0], (folder / "a.txt").string());
    EXPECT_EQ(paths[1], (folder / "dir").string());
    EXPECT_EQ(readFile(paths[0]), "hello");
    EXPECT_EQ(readFile(paths[1]), "");
    EXPECT_EQ(readFile(paths[2]), "abcdef");
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(cache.file("clip").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const auto there = peer->read();
    EXPECT_EQ(there.gnome, "copy\n" + QUrl::fromLocalFile(QString::fromStdString(paths[0])).toEncoded().toStdString() +
                               "\n" + QUrl::fromLocalFile(QString::fromStdString(paths[1])).toEncoded().toStdString() +
                               "\n" + QUrl::fromLocalFile(QString::fromStdString(paths[2])).toEncoded().toStdString());
    EXPECT_TRUE(log.contains("• clipboard files from the controller ready to paste (3 file(s))\n"));

    // What the agent put there is not offered back.
    clock.advance(2 * QtClipFiles::pollInterval);
    test::pumpFor(20ms);
    EXPECT_TRUE(outbox.take().empty());

    // The next offer replaces the files, and their folder goes.
    clip->onRemoteOffer(8, {{"c", 1}});
    settle();
    clip->onData(8, 0, 0, bytes("c"), true);
    settle();
    test::pumpUntil([&] { return !fs::exists(folder); });
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(offerFolders().size(), 1u);
}

TEST_F(ClipFilesTest, NamesFromTheControllerStayInsideTheFolder) {
    start();
    clip->onRemoteOffer(1, {{"../../evil", 1}, {"a/b", 1}, {".", 1}, {"", 1}, {"same", 1}, {"same", 1}});
    for (uint8_t i = 0; i < 6; ++i) {
        settle();
        ASSERT_EQ(takePull(), (wex::ClipFilePull{0, 1, i}));
        clip->onData(1, i, 0, bytes("x"), true);
    }
    settle();
    const auto paths = published();
    ASSERT_EQ(paths.size(), 6u);
    const fs::path folder = fs::path(paths[0]).parent_path();
    std::vector<std::string> names;
    for (const auto& p : paths) {
        EXPECT_EQ(fs::path(p).parent_path(), folder);
        names.push_back(fs::path(p).filename().string());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"____evil", "a_b", "Dovrel file", "Dovrel file 1", "same", "same 1"}));
    EXPECT_FALSE(fs::exists(fs::path(cache.path()) / "evil"));
}

TEST_F(ClipFilesTest, OffersBeyondTheLimitsAreNotFetched) {
    const ClipFileFetcher::Limits defaults;
    EXPECT_EQ(defaults.files, 64u);
    EXPECT_EQ(defaults.fileBytes, uint64_t{2} << 30);
    EXPECT_EQ(defaults.totalBytes, uint64_t{4} << 30);

    test::LogCapture log;
    make({2, 10, 15});
    start();
    clip->onRemoteOffer(1, {{"a", 1}, {"b", 1}, {"c", 1}}); // three files
    clip->onRemoteOffer(2, {{"a", 11}});                    // one too large
    clip->onRemoteOffer(3, {{"a", 8}, {"b", 8}});           // too much together
    clip->onRemoteOffer(4, {});                             // nothing
    clip->onRemoteOffer(5, {{"a", UINT64_MAX}, {"b", UINT64_MAX}});
    settle();
    // Never in silence: the controller is told why, once for each refused offer.
    std::vector<std::string> told;
    for (auto& [type, payload] : outbox.take()) {
        ASSERT_EQ(type, wex::ControlType::error) << "nothing is pulled";
        const auto error = wex::ErrorMsg::decode(payload);
        EXPECT_EQ(error.code, static_cast<uint8_t>(wex::ErrCode::refused));
        told.push_back(error.message);
    }
    ASSERT_EQ(told.size(), 4u);
    EXPECT_EQ(told[0], "Too many files to paste on this computer: 3 were copied, at most 2 can be pasted at once.");
    EXPECT_EQ(told[1], "A copied file is too large to paste on this computer (11 bytes; at most 10 bytes a file).");
    EXPECT_NE(told[2].find("too large to paste on this computer together"), std::string::npos);
    EXPECT_TRUE(offerFolders().empty());
    EXPECT_TRUE(
        log.contains("• clipboard files from the controller are more than this computer fetches (2 files, 0 GiB "
                     "each, 0 GiB in all) — not fetched\n"));
    clip->onRemoteOffer(6, {{"a", 10}, {"b", 5}});
    settle();
    EXPECT_EQ(takePull(), (wex::ClipFilePull{0, 6, 0}));
}

TEST_F(ClipFilesTest, AnOfferThatWouldFillTheDiskIsRefusedAndTheControllerToldWhy) {
    test::LogCapture log;
    ClipFileFetcher::Limits limits;
    limits.keepFree = uint64_t{1} << 62; // no disk has this much to spare
    make(limits);
    start();
    clip->onRemoteOffer(1, {{"a", 100}});
    settle();
    const auto sent = outbox.take();
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].first, wex::ControlType::error);
    const auto error = wex::ErrorMsg::decode(sent[0].second);
    EXPECT_TRUE(error.message.starts_with("This computer has too little free disk space for the copied files (100 "
                                          "bytes needed, "))
        << error.message;
    EXPECT_TRUE(log.contains("• clipboard files from the controller need more room than is free (100 bytes, "));
    EXPECT_TRUE(offerFolders().empty()) << "nothing half-made stays behind";
}

TEST_F(ClipFilesTest, AFetchThatStallsFor45SecondsIsGivenUp) {
    test::LogCapture log;
    start();
    clip->onRemoteOffer(3, {{"slow", 10}});
    settle();
    ASSERT_TRUE(takePull());
    // Pieces keep a fetch alive however long it takes.
    for (uint64_t at = 0; at < 8; ++at) {
        clock.advance(30s);
        settle();
        clip->onData(3, 0, at, bytes("x"), false);
        settle();
    }
    EXPECT_EQ(offerFolders().size(), 1u);
    clock.advance(44s);
    settle();
    EXPECT_EQ(offerFolders().size(), 1u);
    clock.advance(2s);
    settle();
    EXPECT_TRUE(offerFolders().empty());
    EXPECT_TRUE(log.contains("• clipboard files from the controller did not arrive within 45 s — dropped\n"));
    clip->onData(3, 0, 8, bytes("xx"), true); // too late
    settle();
    EXPECT_FALSE(test::pumpUntil([] { return ownsClipboard(); }, 200ms));
    EXPECT_EQ(clock.pendingTimers(), 1u); // only the poll
}

TEST_F(ClipFilesTest, FilesThatComeShortOrLongAreDropped) {
    test::LogCapture log;
    start();
    clip->onRemoteOffer(1, {{"short", 10}});
    settle();
    clip->onData(1, 0, 0, bytes("12345"), true);
    settle();
    EXPECT_TRUE(offerFolders().empty());
    clip->onRemoteOffer(2, {{"long", 4}});
    settle();
    clip->onData(2, 0, 2, bytes("345"), false);
    settle();
    EXPECT_TRUE(offerFolders().empty());
    clip->onRemoteOffer(3, {{"wrap", 4}});
    settle();
    clip->onData(3, 0, UINT64_MAX, bytes("z"), true);
    settle();
    EXPECT_TRUE(offerFolders().empty());
    EXPECT_TRUE(log.contains("• clipboard files from the controller arrived incomplete — dropped\n"));
    EXPECT_TRUE(log.contains("• clipboard files from the controller were longer than announced — dropped\n"));
    EXPECT_FALSE(ownsClipboard());
}

TEST_F(ClipFilesTest, TheEndOfASessionDropsAFetchButKeepsWhatIsOnTheClipboard) {
    start();
    clip->onRemoteOffer(1, {{"kept", 1}});
    settle();
    clip->onData(1, 0, 0, bytes("k"), true);
    settle();
    const auto kept = published();
    ASSERT_EQ(kept.size(), 1u);
    clip->onRemoteOffer(2, {{"partial", 10}});
    settle();
    clip->onData(2, 0, 0, bytes("12345"), false);
    settle();
    EXPECT_EQ(offerFolders().size(), 2u);
    clip->stop();
    settle();
    EXPECT_EQ(offerFolders().size(), 1u);
    EXPECT_EQ(readFile(kept[0]), "k");
    clip->onData(2, 0, 5, bytes("67890"), true); // the session is over
    settle();
    EXPECT_EQ(offerFolders().size(), 1u);
}

TEST_F(ClipFilesTest, LeftoversOfAnEarlierRunAreClearedAndTheFolderMadePrivate) {
    clip.reset();
    fs::create_directories(cache.file("clip/offer-1-abcdef"));
    writeFile(cache.file("clip/offer-1-abcdef/old"), 10);
    ::chmod(cache.file("clip").c_str(), 0755);
    make({});
    EXPECT_TRUE(offerFolders().empty());
    struct stat st {};
    ASSERT_EQ(::stat(cache.file("clip").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}
