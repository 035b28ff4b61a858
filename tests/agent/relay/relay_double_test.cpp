#include <memory>
#include <random>

#include <gtest/gtest.h>

#include "TlsPeer.h"
#include "protocol/DeviceIdentity.h"
#include "protocol/RelayPreamble.h"
#include "tests/support/TempHome.h"
#include "tests/support/TestCA.h"
#include "tests/support/relay/RelayDouble.h"

using namespace dovrel::test;
using namespace std::chrono_literals;
using wex::RelayRole;
namespace RR = wex::RelayRegister;

namespace {

const std::string room = "0123456789abcdef0123456789abcdef";

wex::Bytes bytesOf(std::string_view s) { return wex::Bytes(s.begin(), s.end()); }

wex::Bytes randomBytes(std::size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    wex::Bytes b(n);
    for (auto& x : b)
        x = static_cast<uint8_t>(rng());
    return b;
}

RelayDouble::Options with(const std::function<void(RelayDouble::Options&)>& set) {
    RelayDouble::Options o;
    set(o);
    return o;
}

wex::Bytes keyOf(const wex::DeviceIdentity& id) { return wex::Bytes(id.publicKey().begin(), id.publicKey().end()); }

class RelayDoubleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<TempDir>();
        certs_ = makeTestCertificates(dir_->path());
    }
    static void TearDownTestSuite() { dir_.reset(); }

    RelayDouble& start(RelayDouble::Options o = {}) {
        o.certFile = certs_.certFile;
        o.keyFile = certs_.keyFile;
        relays_.push_back(std::make_unique<RelayDouble>(o));
        return *relays_.back();
    }
    std::unique_ptr<TlsPeer> connect(const RelayDouble& relay) {
        auto peer = std::make_unique<TlsPeer>(relay.port(), certs_.caFile);
        EXPECT_TRUE(peer->encrypted()) << peer->error().toStdString();
        return peer;
    }

    static std::unique_ptr<TempDir> dir_;
    static TestCertificates certs_;
    std::vector<std::unique_ptr<RelayDouble>> relays_;
};
std::unique_ptr<TempDir> RelayDoubleTest::dir_;
TestCertificates RelayDoubleTest::certs_;

} // namespace

TEST_F(RelayDoubleTest, ServesTlsWithTheTestAuthoritysCertificateOnly) {
    RelayDouble& relay = start();
    EXPECT_TRUE(TlsPeer(relay.port(), certs_.caFile).encrypted());
    EXPECT_TRUE(TlsPeer(relay.port(), certs_.caFile, "localhost").encrypted());

    TempDir otherDir;
    const TestCertificates stranger = makeTestCertificates(otherDir.path());
    const TlsPeer doubter(relay.port(), stranger.caFile);
    EXPECT_FALSE(doubter.encrypted()); // an authority the client does not know
}

TEST_F(RelayDoubleTest, LegacyRoomSplicesOneControllerByteExactBothWays) {
    RelayDouble& relay = start();
    auto agent = connect(relay);
    agent->send(RR::encode(RelayRole::agent, room));
    ASSERT_TRUE(relay.waitForEvent("registered role=agent version=1 room=" + room));
    EXPECT_TRUE(agent->staysQuiet(100ms)); // the relay answers a legacy registration with nothing

    // The controller's first frame bytes ride in the same write as its preamble.
    auto client = connect(relay);
    const wex::Bytes hello = {0x52, 0x01, 0x00, 0x01, 0xAA, 0xBB};
    wex::Bytes first = RR::encode(RelayRole::client, room);
    first.insert(first.end(), hello.begin(), hello.end());
    client->send(first);
    ASSERT_TRUE(relay.waitForEvent("spliced role=agent version=1 room=" + room));
    ASSERT_TRUE(agent->waitForBytes(hello.size()));
    EXPECT_EQ(agent->take(), hello);

    const wex::Bytes ack = bytesOf("R\x01 from the agent");
    agent->send(ack);
    ASSERT_TRUE(client->waitForBytes(ack.size()));
    EXPECT_EQ(client->take(), ack);
}

TEST_F(RelayDoubleTest, ControllerThatArrivesFirstWaitsAndItsEarlyBytesAreKept) {
    RelayDouble& relay = start();
    auto client = connect(relay);
    wex::Bytes first = RR::encodeV2(RelayRole::client, "acct", room, "grant-token", {});
    const wex::Bytes early = bytesOf("early frame bytes");
    first.insert(first.end(), early.begin(), early.end());
    client->send(first);
    ASSERT_TRUE(relay.waitForEvent("waiting role=client version=2 account=acct room=" + room));
    const wex::Bytes more = bytesOf(" and some more");
    client->send(more);

    const wex::DeviceIdentity id;
    auto agent = connect(relay);
    agent->send(RR::encodeV2(RelayRole::agent, "acct", room, "account-token", keyOf(id)));
    ASSERT_TRUE(relay.waitForEvent("spliced role=agent version=2 account=acct room=" + room));
    wex::Bytes expected = early;
    expected.insert(expected.end(), more.begin(), more.end());
    ASSERT_TRUE(agent->waitForBytes(expected.size()));
    EXPECT_EQ(agent->take(), expected);
}

TEST_F(RelayDoubleTest, AccountRoomsMeetOnlyTheirOwnAccount) {
    RelayDouble& relay = start();
    const wex::DeviceIdentity id;
    auto agent = connect(relay);
    agent->send(RR::encodeV2(RelayRole::agent, "alice", room, "t", keyOf(id)));
    ASSERT_TRUE(relay.waitForEvent("registered role=agent version=2 account=alice"));

    auto legacy = connect(relay);
    legacy->send(RR::encode(RelayRole::client, room));
    auto otherAccount = connect(relay);
    otherAccount->send(RR::encodeV2(RelayRole::client, "bob", room, "t", {}));
    ASSERT_TRUE(relay.waitForEvent("waiting role=client", 10s, 2));
    EXPECT_EQ(relay.countEvents("spliced"), 0u);

    auto owner = connect(relay);
    owner->send(RR::encodeV2(RelayRole::client, "alice", room, "t", {}));
    owner->send(bytesOf("hi"));
    ASSERT_TRUE(relay.waitForEvent("spliced role=agent version=2 account=alice"));
    ASSERT_TRUE(agent->waitForBytes(2));
    EXPECT_EQ(agent->take(), bytesOf("hi"));
    EXPECT_TRUE(legacy->received().empty());
    EXPECT_TRUE(otherAccount->received().empty());
}

TEST_F(RelayDoubleTest, ChallengeIsAnsweredBySignatureBeforeAnyControllerByte) {
    RelayDouble& relay = start(with([](auto& o) { o.challenge = true; }));
    auto client = connect(relay);
    wex::Bytes first = RR::encodeV2(RelayRole::client, "acct", room, "t", {});
    const wex::Bytes hello = bytesOf("R-controller-hello");
    first.insert(first.end(), hello.begin(), hello.end());
    client->send(first);
    ASSERT_TRUE(relay.waitForEvent("waiting role=client"));
    EXPECT_EQ(relay.countEvents("challenged role=client"), 0u); // a controller has no key to prove

    const wex::DeviceIdentity id;
    auto agent = connect(relay);
    agent->send(RR::encodeV2(RelayRole::agent, "acct", room, "t", keyOf(id)));
    ASSERT_TRUE(agent->waitForBytes(37));
    EXPECT_TRUE(agent->staysQuiet(150ms)); // nothing of the controller's until the key is proved
    const auto reply = RR::parsePreamble(agent->take());
    ASSERT_TRUE(std::holds_alternative<RR::NonceReply>(reply));
    const auto& nonce = std::get<RR::NonceReply>(reply);
    EXPECT_EQ(nonce.consumed, 37u);

    agent->send(id.sign(RR::challenge(RelayRole::agent, "acct", room, nonce.nonce)));
    ASSERT_TRUE(relay.waitForEvent("proved role=agent version=2 account=acct"));
    ASSERT_TRUE(relay.waitForEvent("spliced"));
    ASSERT_TRUE(agent->waitForBytes(hello.size()));
    EXPECT_EQ(agent->take(), hello);
}

TEST_F(RelayDoubleTest, ChallengeRefusesEverySignatureThatDoesNotProveTheKey) {
    RelayDouble& relay = start(with([](auto& o) { o.challenge = true; }));
    const wex::DeviceIdentity id;
    const wex::DeviceIdentity impostor;
    struct Case {
        const char* what;
        std::function<wex::Bytes(const wex::Bytes& nonce)> sign;
    };
    const Case cases[] = {
        {"another key",
         [&](const wex::Bytes& n) { return impostor.sign(RR::challenge(RelayRole::agent, "acct", room, n)); }},
        {"another nonce",
         [&](wex::Bytes n) {
             n[0] ^= 1;
             return id.sign(RR::challenge(RelayRole::agent, "acct", room, n));
         }},
        {"another role",
         [&](const wex::Bytes& n) { return id.sign(RR::challenge(RelayRole::client, "acct", room, n)); }},
        {"another account",
         [&](const wex::Bytes& n) { return id.sign(RR::challenge(RelayRole::agent, "acct2", room, n)); }},
        {"zeros", [](const wex::Bytes&) { return wex::Bytes(64, 0); }},
    };
    std::size_t refused = 0;
    for (const Case& c : cases) {
        auto agent = connect(relay);
        agent->send(RR::encodeV2(RelayRole::agent, "acct", room, "t", keyOf(id)));
        ASSERT_TRUE(agent->waitForBytes(37)) << c.what;
        const auto nonce = std::get<RR::NonceReply>(RR::parsePreamble(agent->take())).nonce;
        agent->send(c.sign(nonce));
        EXPECT_TRUE(agent->waitClosed()) << c.what;
        EXPECT_TRUE(relay.waitForEvent(
            "refused role=agent version=2 account=acct room=" + room + " reason=bad-signature", 10s, ++refused))
            << c.what;
    }
    EXPECT_EQ(relay.countEvents("registered"), 0u);

    // Under a challenge an agent without a key cannot prove anything.
    auto keyless = connect(relay);
    keyless->send(RR::encodeV2(RelayRole::agent, "acct", room, "t", {}));
    EXPECT_TRUE(keyless->waitClosed());
    EXPECT_TRUE(relay.waitForEvent("reason=no-key"));
}

TEST_F(RelayDoubleTest, RedirectNamesTheOtherNodeAndCloses) {
    RelayDouble& relay = start(with([](auto& o) { o.redirects = {room + "=relay-b.example:9443"}; }));
    auto agent = connect(relay);
    agent->send(RR::encodeV2(RelayRole::agent, "acct", room, "t", {}));
    EXPECT_TRUE(agent->waitClosed());
    wex::Bytes expected = {'D', 'R', 'L', 'Y', 'R', 0x00, 20};
    const wex::Bytes target = bytesOf("relay-b.example:9443");
    expected.insert(expected.end(), target.begin(), target.end());
    EXPECT_EQ(agent->received(), expected);
    EXPECT_TRUE(relay.waitForEvent("redirected role=agent version=2 account=acct room=" + room +
                                   " target=relay-b.example:9443"));

    // A legacy registration cannot read a reply, so it is served here; other rooms are not moved.
    auto legacy = connect(relay);
    legacy->send(RR::encode(RelayRole::agent, room));
    EXPECT_TRUE(relay.waitForEvent("registered role=agent version=1 room=" + room));
    auto elsewhere = connect(relay);
    elsewhere->send(RR::encodeV2(RelayRole::agent, "acct", "fedcba9876543210fedcba9876543210", "t", {}));
    EXPECT_TRUE(relay.waitForEvent("registered role=agent version=2 account=acct room=fedcba"));
    EXPECT_TRUE(legacy->staysQuiet(100ms));
    EXPECT_TRUE(elsewhere->received().empty());
}

TEST_F(RelayDoubleTest, FollowingARedirectReachesTheOtherRelay) {
    RelayDouble& nodeB = start();
    RelayDouble& nodeA = start(with([&](auto& o) { o.redirects = {"*=127.0.0.1:" + std::to_string(nodeB.port())}; }));
    const wex::DeviceIdentity id;
    auto first = connect(nodeA);
    first->send(RR::encodeV2(RelayRole::agent, "acct", room, "t", keyOf(id)));
    ASSERT_TRUE(first->waitClosed());
    const auto reply = RR::parsePreamble(first->received());
    ASSERT_TRUE(std::holds_alternative<RR::RedirectReply>(reply));
    const std::string target = std::get<RR::RedirectReply>(reply).target;
    ASSERT_EQ(target, "127.0.0.1:" + std::to_string(nodeB.port()));

    auto agent =
        std::make_unique<TlsPeer>(static_cast<uint16_t>(std::stoi(target.substr(target.find(':') + 1))), certs_.caFile);
    agent->send(RR::encodeV2(RelayRole::agent, "acct", room, "t", keyOf(id)));
    auto client = connect(nodeB);
    client->send(RR::encodeV2(RelayRole::client, "acct", room, "t", {}));
    client->send(bytesOf("via B"));
    ASSERT_TRUE(nodeB.waitForEvent("spliced"));
    ASSERT_TRUE(agent->waitForBytes(5));
    EXPECT_EQ(agent->take(), bytesOf("via B"));
    EXPECT_EQ(nodeA.countEvents("registered"), 0u);
}

TEST_F(RelayDoubleTest, LargeRandomPayloadCrossesByteExactBothWaysAtOnce) {
    RelayDouble& relay = start();
    auto agent = connect(relay);
    agent->send(RR::encode(RelayRole::agent, room));
    ASSERT_TRUE(relay.waitForEvent("registered role=agent"));
    auto client = connect(relay);
    client->send(RR::encode(RelayRole::client, room));
    ASSERT_TRUE(relay.waitForEvent("spliced"));

    constexpr std::size_t size = 8 << 20;
    const wex::Bytes up = randomBytes(size, 1);
    const wex::Bytes down = randomBytes(size, 2);
    // Uneven pieces on both sides at the same time.
    std::mt19937 rng(3);
    for (std::size_t upAt = 0, downAt = 0; upAt < size || downAt < size;) {
        const std::size_t a = std::min<std::size_t>(size - upAt, 1 + rng() % 70000);
        const std::size_t b = std::min<std::size_t>(size - downAt, 1 + rng() % 70000);
        client->send(wex::ByteView(up).subspan(upAt, a));
        agent->send(wex::ByteView(down).subspan(downAt, b));
        upAt += a;
        downAt += b;
    }
    ASSERT_TRUE(spinUntil([&] { return agent->received().size() >= size && client->received().size() >= size; }, 60s))
        << agent->received().size() << " " << client->received().size();
    EXPECT_TRUE(agent->received() == up);
    EXPECT_TRUE(client->received() == down);
}

TEST_F(RelayDoubleTest, ControllerLeavingEndsTheAgentsStreamAfterItsLastBytes) {
    RelayDouble& relay = start();
    auto agent = connect(relay);
    agent->send(RR::encode(RelayRole::agent, room));
    ASSERT_TRUE(relay.waitForEvent("registered role=agent"));
    auto client = connect(relay);
    client->send(RR::encode(RelayRole::client, room));
    const wex::Bytes last = randomBytes(300000, 4);
    client->send(last);
    client->close();

    ASSERT_TRUE(agent->waitClosed());
    EXPECT_TRUE(agent->received() == last) << agent->received().size();
    EXPECT_TRUE(relay.waitForEvent("ended role=client version=1 room=" + room + " by=client"));

    // The agent registers afresh and the next controller meets the new registration.
    auto again = connect(relay);
    again->send(RR::encode(RelayRole::agent, room));
    ASSERT_TRUE(relay.waitForEvent("registered role=agent", 10s, 2));
    auto next = connect(relay);
    next->send(RR::encode(RelayRole::client, room));
    next->send(bytesOf("second visit"));
    ASSERT_TRUE(again->waitForBytes(12));
    EXPECT_EQ(again->take(), bytesOf("second visit"));
}

TEST_F(RelayDoubleTest, AgentLeavingEndsTheControllersStream) {
    RelayDouble& relay = start();
    auto agent = connect(relay);
    agent->send(RR::encode(RelayRole::agent, room));
    ASSERT_TRUE(relay.waitForEvent("registered role=agent"));
    auto client = connect(relay);
    client->send(RR::encode(RelayRole::client, room));
    ASSERT_TRUE(relay.waitForEvent("spliced"));
    agent->send(bytesOf("bye"));
    agent->abort(); // a cancelled connection, as the agent drops a relay client

    ASSERT_TRUE(client->waitClosed());
    EXPECT_EQ(client->received(), bytesOf("bye"));
    EXPECT_TRUE(relay.waitForEvent("ended role=agent version=1 room=" + room + " by=agent"));
}

TEST_F(RelayDoubleTest, EachRegistrationServesOneControllerTheNextWaitsForTheNextRegistration) {
    RelayDouble& relay = start();
    auto agent = connect(relay);
    agent->send(RR::encode(RelayRole::agent, room));
    ASSERT_TRUE(relay.waitForEvent("registered role=agent"));
    auto first = connect(relay);
    first->send(RR::encode(RelayRole::client, room));
    ASSERT_TRUE(relay.waitForEvent("spliced"));

    auto second = connect(relay);
    wex::Bytes preamble = RR::encode(RelayRole::client, room);
    const wex::Bytes early = bytesOf("second controller");
    preamble.insert(preamble.end(), early.begin(), early.end());
    second->send(preamble);
    ASSERT_TRUE(relay.waitForEvent("waiting role=client"));
    first->send(bytesOf("first"));
    ASSERT_TRUE(agent->waitForBytes(5));
    EXPECT_EQ(agent->take(), bytesOf("first")); // nothing of the second controller's mixed in

    first->close();
    ASSERT_TRUE(agent->waitClosed());
    EXPECT_TRUE(agent->received().empty());
    auto renewed = connect(relay);
    renewed->send(RR::encode(RelayRole::agent, room));
    ASSERT_TRUE(relay.waitForEvent("spliced", 10s, 2));
    ASSERT_TRUE(renewed->waitForBytes(early.size()));
    EXPECT_EQ(renewed->take(), early);
    EXPECT_FALSE(second->closed());
}

TEST_F(RelayDoubleTest, ReRegistrationReplacesTheIdleOneAndClosesIt) {
    RelayDouble& relay = start();
    auto old = connect(relay);
    old->send(RR::encode(RelayRole::agent, room));
    ASSERT_TRUE(relay.waitForEvent("registered role=agent"));
    auto fresh = connect(relay);
    fresh->send(RR::encode(RelayRole::agent, room));
    ASSERT_TRUE(relay.waitForEvent("replaced role=agent"));
    EXPECT_TRUE(old->waitClosed());

    auto client = connect(relay);
    client->send(RR::encode(RelayRole::client, room));
    client->send(bytesOf("x"));
    ASSERT_TRUE(fresh->waitForBytes(1));
    EXPECT_EQ(fresh->take(), bytesOf("x"));
}

TEST_F(RelayDoubleTest, PreambleSplitAcrossManyReadsRegistersTheSame) {
    RelayDouble& relay = start();
    const wex::DeviceIdentity id;
    auto agent = connect(relay);
    const wex::Bytes preamble = RR::encodeV2(RelayRole::agent, "acct", room, "a.b.c.d.e.0123456789abcdef.g", keyOf(id));
    for (std::size_t i = 0; i < preamble.size(); ++i) {
        agent->send(wex::ByteView(preamble).subspan(i, 1));
        spinUntil([] { return false; }, 2ms); // one TLS record, and one read, a byte
        if (i + 1 < preamble.size()) {
            ASSERT_EQ(relay.countEvents("registered"), 0u) << i;
        }
    }
    ASSERT_TRUE(relay.waitForEvent("registered role=agent version=2 account=acct room=" + room));

    // The controller's preamble ends in the same write as its first stream bytes.
    auto client = connect(relay);
    const wex::Bytes cp = RR::encodeV2(RelayRole::client, "acct", room, "t", {});
    client->send(wex::ByteView(cp).first(cp.size() - 1));
    spinUntil([] { return false; }, 20ms);
    wex::Bytes tail = {cp.back()};
    const wex::Bytes stream = randomBytes(1000, 5);
    tail.insert(tail.end(), stream.begin(), stream.end());
    client->send(tail);
    ASSERT_TRUE(agent->waitForBytes(stream.size()));
    EXPECT_EQ(agent->take(), stream);
}

TEST_F(RelayDoubleTest, RefusesMalformedPreamblesAndSilentConnections) {
    RelayDouble& relay = start(with([](auto& o) { o.extraArgs = {"--preamble-timeout-ms", "300"}; }));
    const std::pair<wex::Bytes, const char*> cases[] = {
        {{0x52, 0x01, 0x00, 0x0D}, "reason=bad-magic"},
        {{'D', 'R', 'L', 'Y', 9}, "reason=bad-version"},
        {{'D', 'R', 'L', 'Y', 1, 7, 0, 1, 'r'}, "reason=bad-role"},
    };
    for (const auto& [bytes, reason] : cases) {
        auto peer = connect(relay);
        peer->send(bytes);
        EXPECT_TRUE(peer->waitClosed()) << reason;
        EXPECT_TRUE(relay.waitForEvent(reason)) << reason;
    }
    auto silent = connect(relay);
    silent->send(wex::ByteView(RR::encode(RelayRole::agent, room)).first(6));
    EXPECT_TRUE(silent->waitClosed(5s));
    EXPECT_TRUE(relay.waitForEvent("refused role=unknown reason=preamble-timeout"));
}

TEST_F(RelayDoubleTest, TokenRulesDecideWhoMayRegister) {
    RelayDouble& relay = start(with([](auto& o) {
        o.tokens = {"listed-token"};
        o.tokenShape = true;
        o.roomKeyCheck = true;
    }));
    const wex::DeviceIdentity id;
    const wex::Bytes key = keyOf(id);
    static constexpr char hexDigits[] = "0123456789abcdef";
    std::string ownRoom;
    for (std::size_t i = 0; i < 16; ++i)
        ownRoom += {hexDigits[key[i] >> 4], hexDigits[key[i] & 15]};

    auto shaped = connect(relay);
    shaped->send(RR::encodeV2(RelayRole::agent, "acct", ownRoom, "h.p.s.x.y.00112233aabbccdd.z", key));
    EXPECT_TRUE(relay.waitForEvent("registered role=agent version=2 account=acct room=" + ownRoom));
    auto listed = connect(relay);
    listed->send(RR::encodeV2(RelayRole::client, "acct", ownRoom, "listed-token", {}));
    EXPECT_TRUE(relay.waitForEvent("spliced"));

    auto stranger = connect(relay);
    stranger->send(RR::encodeV2(RelayRole::client, "acct", ownRoom, "made-up", {}));
    EXPECT_TRUE(stranger->waitClosed());
    EXPECT_TRUE(relay.waitForEvent("refused role=client version=2 account=acct room=" + ownRoom + " reason=bad-token"));
    auto squatter = connect(relay);
    squatter->send(RR::encodeV2(RelayRole::agent, "acct", room, "listed-token", key));
    EXPECT_TRUE(squatter->waitClosed());
    EXPECT_TRUE(relay.waitForEvent("reason=room-key-mismatch"));
    for (const std::string& line : relay.events()) {
        EXPECT_EQ(line.find("listed-token"), std::string::npos) << line; // tokens are never printed
        EXPECT_EQ(line.find("00112233aabbccdd"), std::string::npos) << line;
    }
}
