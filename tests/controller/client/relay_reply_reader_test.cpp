#include <gtest/gtest.h>

#include "controller/client/session/RelayReplyReader.h"
#include "protocol/RelayPreamble.h"

using dovrel::controller::RelayReplyReader;

namespace {
wex::Bytes text(std::string_view s) { return wex::Bytes(s.begin(), s.end()); }
wex::Bytes cat(wex::Bytes a, const wex::Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
} // namespace

TEST(RelayReplyReader, AChallengeSplitAcrossReadsIsDroppedAndTheAgentsBytesAfterItKept) {
    RelayReplyReader reader;
    reader.reset(true);
    const wex::Bytes stream = cat(cat(text("DRLYN"), wex::Bytes(32, 7)), text("WEX!"));
    auto first = reader.feed(wex::ByteView(stream).first(10));
    EXPECT_FALSE(first.agentBytes);
    EXPECT_FALSE(first.redirect);
    EXPECT_FALSE(reader.done());
    auto rest = reader.feed(wex::ByteView(stream).subspan(10));
    ASSERT_TRUE(rest.agentBytes);
    EXPECT_EQ(*rest.agentBytes, text("WEX!"));
    EXPECT_TRUE(reader.done());
}

TEST(RelayReplyReader, ARedirectIsNamedAndAnythingElseIsTheAgentsStream) {
    RelayReplyReader reader;
    reader.reset(true);
    const auto redirect = reader.feed(cat(cat(text("DRLYR"), wex::Bytes{0, 9}), text("node:4433")));
    EXPECT_EQ(redirect.redirect, "node:4433");
    EXPECT_FALSE(redirect.agentBytes);

    reader.reset(true);
    const auto agent = reader.feed(text("WEX!frame"));
    ASSERT_TRUE(agent.agentBytes);
    EXPECT_EQ(*agent.agentBytes, text("WEX!frame"));

    // A room registration gets no reply: the reader is done from the start.
    reader.reset(false);
    EXPECT_TRUE(reader.done());
}
