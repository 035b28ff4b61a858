#include <iterator>
#include <random>

#include <gtest/gtest.h>

#include "protocol/ClipboardText.h"

using namespace wex;

namespace {
const std::string emoji = "\xF0\x9F\x98\x80";        // 4 bytes
const std::string eAcute = "e\xCC\x81";               // e + combining acute: one character, 3 bytes
const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9"; // man ZWJ woman: 11 bytes
} // namespace

TEST(ClipboardText, FitsUnchangedUpToTheLimit) {
    const std::string exact(60000, 'x');
    EXPECT_EQ(clipboardTextForWire(exact), (ClipboardWireText{exact, false}));
    EXPECT_EQ(clipboardTextForWire(""), (ClipboardWireText{"", false}));
}

TEST(ClipboardText, CutsBetweenCharacters) {
    const auto ascii = clipboardTextForWire(std::string(60001, 'x'));
    EXPECT_EQ(ascii, (ClipboardWireText{std::string(60000, 'x'), true}));

    const auto withEmoji = clipboardTextForWire(std::string(59999, 'x') + emoji);
    EXPECT_EQ(withEmoji, (ClipboardWireText{std::string(59999, 'x'), true}));
}

TEST(ClipboardText, CombiningSequenceAtTheLimitStaysWhole) {
    // The accent's bytes would end exactly at 60000 only if the letter were torn from it.
    const auto atLimit = clipboardTextForWire(std::string(59998, 'x') + eAcute + "y");
    EXPECT_EQ(atLimit, (ClipboardWireText{std::string(59998, 'x'), true}));

    const auto fits = clipboardTextForWire(std::string(59997, 'x') + eAcute + "y");
    EXPECT_EQ(fits, (ClipboardWireText{std::string(59997, 'x') + eAcute, true}));

    const auto zwj = clipboardTextForWire(std::string(59995, 'x') + family);
    EXPECT_EQ(zwj, (ClipboardWireText{std::string(59995, 'x'), true}));
}

TEST(ClipboardText, SingleHugeCharacterIsCutByBytes) {
    // One letter carrying 30000 two-byte combining marks is one character of 60001 bytes.
    std::string huge = "a";
    for (int i = 0; i < 30000; ++i) huge += "\xCC\x81";
    huge += "tail";
    const auto r = clipboardTextForWire(huge);
    EXPECT_TRUE(r.truncated);
    // 60000 bytes end right after a complete mark pair ("a" + 29999 marks + the lead of the last).
    EXPECT_EQ(r.text.size(), 1u + 2u * 29999u);
    EXPECT_EQ(r.text, huge.substr(0, 1 + 2 * 29999));
}

TEST(ClipboardText, RandomClusterMixesCutAtTheLastWholeCluster) {
    // Pieces that are one cluster each and never join their neighbours, so the expected cut is known.
    const std::string pieces[] = {"x", "\xC3\xA9", eAcute, emoji, family, "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7", "\r\n",
                                  "\xE4\xB8\xAD"};
    std::mt19937 rng(5);
    for (int round = 0; round < 40; ++round) {
        std::string text;
        std::string expected;
        bool overflowed = false;
        while (text.size() <= maxClipboardTextBytes + 20) {
            const std::string& p = pieces[rng() % std::size(pieces)];
            text += p;
            if (!overflowed && text.size() <= maxClipboardTextBytes) expected = text;
            else overflowed = true;
        }
        const auto r = clipboardTextForWire(text);
        ASSERT_TRUE(r.truncated);
        ASSERT_EQ(r.text.size(), expected.size()) << "round " << round;
        ASSERT_EQ(r.text, expected);
    }
}
