// File names from the other side: one safe component or nothing, whatever the bytes.
#include <random>

#include <gtest/gtest.h>

#include "agent/desktop/ReceivedRanges.h"
#include "agent/desktop/SafeFileName.h"

using namespace dovrel;
using namespace dovrel::agent;

TEST(SafeFileName, SlashesAndDotDotBecomeUnderscoresInThatOrder) {
    EXPECT_EQ(safeFileName("a/b.txt"), "a_b.txt");
    EXPECT_EQ(safeFileName("../x"), "__x");
    EXPECT_EQ(safeFileName("..."), "_.");
    EXPECT_EQ(safeFileName("...."), "__");
    EXPECT_EQ(safeFileName("/"), "_");
    EXPECT_EQ(safeFileName(""), "dovrel-file");
    EXPECT_EQ(safeFileName("", "Dovrel file"), "Dovrel file");
    // Never a hidden file: ".bash_profile" would run at the next login.
    EXPECT_EQ(safeFileName(".hidden"), "_hidden");
    EXPECT_EQ(safeFileName(".bash_profile"), "_bash_profile");
    EXPECT_EQ(safeFileName("résumé 📄.pdf"), "résumé 📄.pdf");
}

TEST(SafeFileName, DirectionMarksAreReplacedAndTheNameKept) {
    // Shown as "invoiceexe.pdf" with its mark: the mark goes, so the name reads as what it is.
    EXPECT_EQ(safeFileName("invoice\u202Efdp.exe"), "invoice_fdp.exe");
    EXPECT_EQ(safeFileName("a\u2066b\u2069\u200E\u061C"), "a_b___");
    // A right-to-left name with its mark keeps its letters.
    EXPECT_EQ(safeFileName("\u200F\u062A\u0642\u0631\u064A\u0631.pdf"), "_\u062A\u0642\u0631\u064A\u0631.pdf");
    // A mark that stood for 3 bytes is one: the length rule applies to what is stored.
    EXPECT_EQ(safeFileName(std::string(254, 'x') + "\u202E")->size(), 255u);
    EXPECT_EQ(safeFileName(".\u202E"), "__") << "still never hidden";
}

TEST(SafeFileName, ControlCharactersDotAndOverlongNamesAreRefused) {
    EXPECT_FALSE(safeFileName("."));
    EXPECT_FALSE(safeFileName(std::string("a\0b", 3)));
    EXPECT_FALSE(safeFileName("line\nbreak"));
    EXPECT_FALSE(safeFileName("\x1b[31mred"));
    EXPECT_FALSE(safeFileName("del\x7f"));
    EXPECT_FALSE(safeFileName("next\xC2\x85line"));
    EXPECT_TRUE(safeFileName("nbsp\xC2\xA0ok"));
    EXPECT_FALSE(safeFileName("para\u2029graph"));
    EXPECT_TRUE(safeFileName(std::string(255, 'x')));
    EXPECT_FALSE(safeFileName(std::string(256, 'x')));
    // Replacing ".." shortens a name: the limit applies to what is stored.
    EXPECT_EQ(safeFileName(std::string(300, '.'))->size(), 150u);
}

TEST(SafeFileName, AnyBytesGiveOneHarmlessComponentOrNothing) {
    std::mt19937 rng(12345);
    const char alphabet[] = {'/', '.', 'a', '\0', '\n', '\x7f', '\xC2', '\x85', ' ', '\\'};
    for (int round = 0; round < 20000; ++round) {
        std::string s(rng() % 300, 'x');
        for (char& c : s)
            c = (rng() % 3 == 0) ? static_cast<char>(rng() % 256) : alphabet[rng() % sizeof alphabet];
        const auto name = safeFileName(s);
        if (!name) continue;
        EXPECT_FALSE(name->empty());
        EXPECT_LE(name->size(), maxFileNameBytes);
        EXPECT_EQ(name->find('/'), std::string::npos) << s;
        EXPECT_EQ(name->find('\0'), std::string::npos);
        EXPECT_EQ(name->find(".."), std::string::npos) << s;
        EXPECT_NE(*name, ".");
    }
}

TEST(NumberedFileName, TheNumberGoesBeforeTheExtension) {
    EXPECT_EQ(numberedFileName("report.pdf", 1), "report 1.pdf");
    EXPECT_EQ(numberedFileName("archive.tar.gz", 2), "archive.tar 2.gz");
    EXPECT_EQ(numberedFileName("notes", 3), "notes 3");
    EXPECT_EQ(numberedFileName(".profile", 1), ".profile 1");
    EXPECT_EQ(numberedFileName("trailing.", 1), "trailing. 1");
}

TEST(ReceivedRanges, MergesOverlapsAndTellsWholeFromHoles) {
    ReceivedRanges r;
    EXPECT_TRUE(r.complete(0));
    EXPECT_FALSE(r.complete(1));
    r.add(10, 5);
    r.add(0, 5);
    EXPECT_EQ(r.covered(), 10u);
    EXPECT_FALSE(r.complete(15));
    EXPECT_FALSE(r.contiguousFromStart());
    r.add(3, 4); // overlaps the first, touches nothing else
    r.add(7, 3); // bridges to the second
    EXPECT_EQ(r.covered(), 15u);
    EXPECT_TRUE(r.complete(15));
    EXPECT_TRUE(r.contiguousFromStart());
    r.add(0, 15); // a repeat counts once
    EXPECT_EQ(r.covered(), 15u);
    r.add(20, 0);
    EXPECT_EQ(r.end(), 15u);
    r.add(UINT64_MAX - 10, 10);
    EXPECT_EQ(r.covered(), 25u);
    EXPECT_EQ(r.end(), UINT64_MAX);
}
