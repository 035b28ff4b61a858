#include <gtest/gtest.h>

#include "agent/net/TransportRedirect.h"

using dovrel::agent::parseRedirectTarget;
using dovrel::agent::RelayEndpoint;

TEST(TransportRedirect, TakesAHostAndADecimalPortWithEmptyPiecesDropped) {
    EXPECT_EQ(parseRedirectTarget("relay-eu.dovrel.net:8443"), (RelayEndpoint{"relay-eu.dovrel.net", 8443}));
    EXPECT_EQ(parseRedirectTarget("127.0.0.1:0"), (RelayEndpoint{"127.0.0.1", 0}));
    EXPECT_EQ(parseRedirectTarget("127.0.0.1:65535"), (RelayEndpoint{"127.0.0.1", 65535}));
    EXPECT_EQ(parseRedirectTarget("::node::08443:"), (RelayEndpoint{"node", 8443}));
}

TEST(TransportRedirect, AnythingElseIsIgnored) {
    for (const char* text : {"", "node", "node:", ":8443", "node:70000", "node:99999999999", "node:+5", "node:-1",
                             "node:84a3", "node: 8443", "a:b:1", "[::1]:9000"})
        EXPECT_EQ(parseRedirectTarget(text), std::nullopt) << text;
}
