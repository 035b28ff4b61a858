#include <gtest/gtest.h>

#include "agent/core/RelayEndpoint.h"

using dovrel::agent::RelayEndpoint;

TEST(RelayEndpoint, ParsesHostAndOptionalPort) {
    EXPECT_EQ(RelayEndpoint::parse("relay.example.org:9000"), (RelayEndpoint{"relay.example.org", 9000}));
    EXPECT_EQ(RelayEndpoint::parse("relay.example.org"), (RelayEndpoint{"relay.example.org", 8443}));
    EXPECT_EQ(RelayEndpoint::parse(" \trelay.example.org:1 \t"), (RelayEndpoint{"relay.example.org", 1}));
    EXPECT_EQ(RelayEndpoint::parse(":443"), (RelayEndpoint{"", 443}));
    EXPECT_EQ(RelayEndpoint::parse("::1:8443"), (RelayEndpoint{"::1", 8443})); // split at the last colon
    EXPECT_EQ(RelayEndpoint::parse("h:65535"), (RelayEndpoint{"h", 65535}));
    EXPECT_EQ(RelayEndpoint::parse("h:0"), (RelayEndpoint{"h", 0}));
    for (const char* bad : {"", "  ", "host:", "host:65536", "host:99999999999", "host:-1", "host:44a", "host: 443"})
        EXPECT_FALSE(RelayEndpoint::parse(bad)) << bad;
}
