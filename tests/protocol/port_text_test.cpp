#include <gtest/gtest.h>

#include "protocol/PortText.h"

using wex::parsePort;

TEST(PortText, PortsAreDecimalZeroTo65535Only) {
    EXPECT_EQ(parsePort("0"), 0);
    EXPECT_EQ(parsePort("08443"), 8443);
    EXPECT_EQ(parsePort("65535"), 65535);
    for (const char* bad : {"", "65536", "+1", "-1", "9a", " 9", "123456", "99999", "1 "})
        EXPECT_FALSE(parsePort(bad)) << bad;
}
