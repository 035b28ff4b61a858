// Network text on its way into a log line: what is replaced, where it is cut.
#include <gtest/gtest.h>

#include "protocol/LogText.h"

using namespace wex;

TEST(LogText, LineBreakingAndDirectionMarksBecomeQuestionMarks) {
    EXPECT_EQ(logText("a\nb\r\tc\x7f"), "a?b??c?");
    EXPECT_EQ(logText("x\u2028y\u2029z\u0085w"), "x?y?z?w");
    EXPECT_EQ(logText("in\u202Efdp.exe \u2066\u2069\u200E\u061C"), "in?fdp.exe ????");
    EXPECT_EQ(logText("zoë — ok 📄\u00A0"), "zoë — ok 📄\u00A0");
    EXPECT_EQ(logText("a\nb", 10, ' '), "a b");
    // Ill-formed bytes are repaired first, so a stray C1 byte cannot pass as text.
    EXPECT_EQ(logText("\x85\xC2"), "\uFFFD\uFFFD");
}

TEST(LogText, LongTextIsCutAtACharacterBoundary) {
    EXPECT_EQ(logText(std::string(200, 'n')), std::string(200, 'n'));
    EXPECT_EQ(logText(std::string(201, 'n')), std::string(200, 'n') + "…");
    EXPECT_EQ(logText(std::string(65000, 'n')).size(), 203u);
    EXPECT_EQ(logText("abcé", 4), "abc…");
    EXPECT_EQ(logText("ab\n\n", 3), "ab?…");
}

TEST(LogText, FindsHiddenCharactersOnlyInWellFormedText) {
    EXPECT_TRUE(containsLineBreakingOrHidden("a\u202Db"));
    EXPECT_TRUE(containsLineBreakingOrHidden("\x01"));
    EXPECT_FALSE(containsLineBreakingOrHidden("\xE2\x80")); // a cut U+2028 is no separator
    EXPECT_FALSE(containsLineBreakingOrHidden("plain name.txt"));
}
