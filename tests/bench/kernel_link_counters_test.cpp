#include <gtest/gtest.h>

#include "bench/KernelLink.h"

using dovrel::bench::KernelLink;

// What "cat /proc/net/netstat /proc/net/dev; tc -s qdisc show dev lba42" prints on the agent's side,
// shortened where nothing is read.
constexpr const char* agentSide = R"(TcpExt: SyncookiesSent SyncookiesRecv OutOfWindowIcmps
TcpExt: 0 0 7
IpExt: InNoRoutes InTruncatedPkts InMcastPkts OutMcastPkts InBcastPkts OutBcastPkts InOctets OutOctets InMcastOctets
IpExt: 0 0 46 46 0 0 418161569 279445632 7493
MPTcpExt: MPCapableSYNRX
MPTcpExt: 0
Inter-|   Receive                                                |  Transmit
 face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls carrier compressed
    lo:     120       2    0    0    0     0          0         0      120       2    0    0    0     0       0          0
 lba420:      11       1    0    0    0     0          0         0       99       9    0    0    0     0       0          0
  lba42:  523118    6010    0    0    0     0          0         0 38112905   31002    0    0    0     0       0          0
qdisc tbf 8003: root refcnt 9 rate 3Mbit burst 4Kb lat 50ms 
 Sent 38112905 bytes 31002 pkt (dropped 92871, overlimits 154120 requeues 0) 
 backlog 0b 0p requeues 0
)";

TEST(KernelLinkCounters, ReadsWhatWasOfferedWhatPassedAndWhatTheShaperDropped) {
    const KernelLink::Counters c = KernelLink::parse(agentSide, "lba42");
    EXPECT_EQ(c.offeredBytes, 279445632u);
    // Its own line, not that of an interface whose name begins the same.
    EXPECT_EQ(c.passedBytes, 38112905u);
    EXPECT_EQ(c.passedPackets, 31002u);
    EXPECT_EQ(c.droppedPackets, 92871u);
}

TEST(KernelLinkCounters, TablesAreReadByNameAndMissingOnesCountNothing) {
    EXPECT_EQ(KernelLink::tableField(agentSide, "TcpExt:", "OutOfWindowIcmps"), 7u);
    EXPECT_EQ(KernelLink::tableField(agentSide, "Udp:", "RcvbufErrors"), 0u);
    const KernelLink::Counters none = KernelLink::parse("", "lba42");
    EXPECT_EQ(none.offeredBytes + none.passedBytes + none.droppedPackets, 0u);
}
