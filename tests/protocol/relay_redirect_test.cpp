#include <gtest/gtest.h>

#include "protocol/RelayRedirect.h"

using wex::parseRelayRedirect;
using wex::RedirectTarget;

TEST(RelayRedirect, TakesAHostAndADecimalPortWithEmptyPiecesDropped) {
    EXPECT_EQ(parseRelayRedirect("relay-eu.dovrel.net:8443"), (RedirectTarget{"relay-eu.dovrel.net", 8443}));
    EXPECT_EQ(parseRelayRedirect("127.0.0.1:0"), (RedirectTarget{"127.0.0.1", 0}));
    EXPECT_EQ(parseRelayRedirect("127.0.0.1:65535"), (RedirectTarget{"127.0.0.1", 65535}));
    EXPECT_EQ(parseRelayRedirect("::node::08443:"), (RedirectTarget{"node", 8443}));
}

TEST(RelayRedirect, AnythingElseIsIgnored) {
    for (const char* text : {"", "node", "node:", ":8443", "node:70000", "node:99999999999", "node:+5", "node:-1",
                             "node:84a3", "node: 8443", "a:b:1", "[::1]:9000"})
        EXPECT_EQ(parseRelayRedirect(text), std::nullopt) << text;
}

TEST(RelayRedirect, RedirectsNeedExactlyHostAndPort) {
    EXPECT_EQ(parseRelayRedirect("node2.relay:9000"), (RedirectTarget{"node2.relay", 9000}));
    EXPECT_EQ(parseRelayRedirect(":node2:9000:"), (RedirectTarget{"node2", 9000})); // empty pieces are dropped
    for (const char* bad : {"node2", "node2:", "node2:abc", "node2:70000", "a:b:1", ""})
        EXPECT_FALSE(parseRelayRedirect(bad)) << bad;
}
