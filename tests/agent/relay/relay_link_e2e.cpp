// The agent's relay link end to end: an agent in this process registers at the relay double over TLS,
// scripted controllers reach it through the relay, and the link's time rules run on the agent's fake
// clock while the sockets are real.

#include <algorithm>
#include <atomic>
#include <thread>

#include "RelayLinkSupport.h"
#include "protocol/ControlMessages.h"
#include "protocol/InputMessages.h"
#include "protocol/WakeMessages.h"

using namespace dovrel;
using namespace dovrel::test;
using namespace std::chrono_literals;

namespace {

wex::InputBatch oneKey() {
    wex::InputBatch batch;
    batch.events.push_back({{}, wex::KeyEvent{wex::KeyEvent::makeUsage(7, 4), 1, 0}});
    return batch;
}

bool pingPong(TestController& c, uint16_t reqId) {
    if (!c.sendSealed(wex::ControlType::ping, wex::Ping{reqId, 7}.encode())) return false;
    const auto pong = c.receiveType(wex::ControlType::pong);
    return pong && pong->sealed && wex::Pong::decode(pong->payload).reqId == reqId;
}

// Where `first` appears in the log before `second`.
bool inOrder(const std::string& log, const std::string& first, const std::string& second) {
    const auto a = log.find(first);
    const auto b = log.find(second, a == std::string::npos ? 0 : a);
    return a != std::string::npos && b != std::string::npos;
}

} // namespace

TEST_F(RelayLinkTest, AControllerAuthenticatesByKeyThroughTheRelayAndSealedControlFlowsBothWays) {
    RelayDouble& relay = startRelay();
    TestController ctl;
    AgentHarness& h = agentAt(relay, ctl);
    ASSERT_TRUE(registered(relay, h)) << ::testing::PrintToString(relay.events());
    EXPECT_TRUE(relay.waitForEvent("registered role=agent version=1 room=" + room(h)));
    EXPECT_TRUE(h.log.waitFor("• relay CONNECTED — registering room " + room(h) + " (legacy namespace)"));
    EXPECT_TRUE(h.log.has("⚠︎ relay: also trusting the test certificate authority in " + certs_.caFile));

    ASSERT_TRUE(ctl.connectRelay(dial(relay, h)));
    ASSERT_TRUE(ctl.authenticateWithKey());
    EXPECT_TRUE(relay.waitForEvent("spliced role=agent version=1 room=" + room(h)));
    EXPECT_TRUE(h.log.waitFor("• AUTH OK (keypair) — streaming ENCRYPTED"));
    EXPECT_TRUE(h.rec->waitFor("budget:relay"));

    // Controller to agent: sealed control and sealed input, both on the relay stream.
    ASSERT_TRUE(pingPong(ctl, 9));
    ASSERT_TRUE(ctl.sendSealed(wex::ControlType::clipboard, wex::Clipboard(3, "über the relay").encode()));
    EXPECT_TRUE(h.rec->waitFor("clipboard.remote:über the relay"));
    ASSERT_TRUE(ctl.sendInput(oneKey()));
    EXPECT_TRUE(h.rec->waitFor("apply:" + std::to_string(static_cast<int>(wex::InputEventType::key))));

    // Agent to controller: the clipboard service's text, sealed with the session.
    dovrel::agent::ClipboardSync::SendText send;
    {
        const std::lock_guard g(h.rec->lock);
        send = h.rec->clipboardSend;
    }
    ASSERT_TRUE(send);
    h.agent->transport().queue().post([send] { send("from the agent"); });
    const auto clip = ctl.receiveType(wex::ControlType::clipboard);
    ASSERT_TRUE(clip);
    EXPECT_TRUE(clip->sealed);
    EXPECT_EQ(wex::Clipboard::decode(clip->payload).text(), "from the agent");

    // Plain frames inside the session are refused by the agent, as on the local network.
    ASSERT_TRUE(ctl.sendPlain(wex::ControlType::ping, wex::Ping{10, 1}.encode()));
    EXPECT_TRUE(h.log.waitFor("• dropped ping — not authenticated (sealed=false, session=true)"));
}

TEST_F(RelayLinkTest, AnAccountRegistrationProvesItsKeyAndACodePairsTheController) {
    const std::string token = "relay-secret-7b2f";
    RelayDouble& relay = startRelay(relayWith([&](RelayDouble::Options& r) {
        r.challenge = true;
        r.tokens = {token};
        r.roomKeyCheck = true;
    }));
    TestController ctl;
    AgentHarness::Options o;
    o.withPipeline = true;
    o.videoPort = ctl.videoPort();
    o.relayJson = pinnedRelayJson(relay.port(), false, accountJson("acme", token));
    AgentHarness& h = startAgent(std::move(o));

    // The relay asked for the key's signature and checked it, and that the room is the key's.
    ASSERT_TRUE(relay.waitForEvent("proved role=agent version=2 account=acme room=" + room(h)))
        << ::testing::PrintToString(relay.events());
    EXPECT_EQ(relay.countEvents("challenged role=agent version=2 account=acme room=" + room(h)), 1u);
    EXPECT_TRUE(relay.waitForEvent("registered role=agent version=2 account=acme room=" + room(h)));
    EXPECT_TRUE(h.log.waitFor("• relay CONNECTED — registering acme/" + room(h)));
    EXPECT_TRUE(h.log.waitFor("• relay: room ownership proved for account acme"));

    ASSERT_TRUE(ctl.connectRelay(dial(relay, h, "acme", token)));
    ASSERT_TRUE(ctl.authenticateWithCode(h.code()));
    EXPECT_TRUE(h.log.waitFor("• AUTH OK (paired via code) — streaming ENCRYPTED"));
    EXPECT_EQ(h.pairedFile(), ctl.publicKey());
    ASSERT_TRUE(pingPong(ctl, 3));
    EXPECT_FALSE(h.log.has(token)) << "the account token reached the log";
}

TEST_F(RelayLinkTest, WhenTheControllerLeavesTheRelayClosesTheStreamAndTheRoomRegistersAgainTwoSecondsLater) {
    RelayDouble& relay = startRelay();
    TestController ctl;
    AgentHarness& h = agentAt(relay, ctl);
    ASSERT_TRUE(registered(relay, h));
    ASSERT_TRUE(ctl.connectRelay(dial(relay, h)));
    ASSERT_TRUE(ctl.authenticateWithKey());
    ASSERT_TRUE(pingPong(ctl, 1));
    const std::size_t releases = h.rec->count("releaseAll");

    ctl.close();
    ASSERT_TRUE(h.log.waitFor("• relay cancelled — will re-register in 2s"));
    EXPECT_TRUE(inOrder(h.log.text(), "• relay session torn down (client disconnected)",
                        "• relay cancelled — will re-register in 2s"));
    EXPECT_GT(h.rec->count("releaseAll"), releases) << "the session's services were not stopped";
    EXPECT_EQ(h.agent->transport().sendTarget(), nullptr);

    advance(h, 1900ms);
    h.letArrive();
    EXPECT_EQ(relay.countEvents("registered role=agent"), 1u) << "re-registered before 2 s";
    advance(h, 100ms);
    ASSERT_TRUE(registered(relay, h, 2));

    // The fresh registration serves the next controller.
    TestController next(ctl.identity());
    ASSERT_TRUE(next.connectRelay(dial(relay, h)));
    ASSERT_TRUE(next.authenticateWithKey());
    ASSERT_TRUE(pingPong(next, 2));
}

TEST_F(RelayLinkTest, WhenTheAgentDropsARelayClientItClosesThatConnectionAndRegistersAgainOneSecondLater) {
    RelayDouble& relay = startRelay();
    TestController ctl;
    AgentHarness& h = agentAt(relay, ctl);
    ASSERT_TRUE(registered(relay, h));
    ASSERT_TRUE(ctl.connectRelay(dial(relay, h)));
    ASSERT_TRUE(ctl.authenticateWithKey());

    // Unpairing drops the client: the agent closes its side and the relay ends the controller's.
    ASSERT_TRUE(ctl.sendSealed(wex::ControlType::unpair, wex::Bytes{0, 5}));
    EXPECT_TRUE(ctl.closedByAgent());
    EXPECT_TRUE(relay.waitForEvent("ended role=agent version=1 room=" + room(h) + " by=agent"));
    // Letting go of the connection says so once; it is not taken as a loss that says it again.
    EXPECT_EQ(h.log.count("• relay cancelled — will re-register in 2s"), 1u);

    advance(h, 900ms);
    h.letArrive();
    EXPECT_EQ(relay.countEvents("registered role=agent"), 1u) << "re-registered before 1 s";
    advance(h, 100ms);
    ASSERT_TRUE(registered(relay, h, 2));

    // A refused authentication ends the same way: after its delay, a drop and a new registration.
    TestController stranger;
    ASSERT_TRUE(stranger.connectRelay(dial(relay, h)));
    stranger.sendHello();
    ASSERT_TRUE(stranger.awaitHelloAck());
    stranger.sendAuthWithKey();
    // The refusal's delay counts from when the agent read the proof: the clock moves once it has.
    ASSERT_TRUE(h.log.waitFor("• AUTH REJECTED ("));
    advance(h, 250ms); // the refusal's delay
    const auto result = stranger.awaitAuthResult();
    ASSERT_TRUE(result && result->fail);
    EXPECT_EQ(result->fail->reason, wex::AuthFailReason::notPaired);
    advance(h, 200ms); // the drop after the refusal
    EXPECT_TRUE(stranger.closedByAgent());
    advance(h, 1s);
    ASSERT_TRUE(registered(relay, h, 3));
}

TEST_F(RelayLinkTest, ARelayControllerThatSendsNoHelloIsDroppedAfterTenSecondsAndTheRoomRegistersAgain) {
    RelayDouble& relay = startRelay();
    TestController ctl;
    AgentHarness& h = agentAt(relay, ctl);
    ASSERT_TRUE(registered(relay, h));
    ASSERT_TRUE(ctl.connectRelay(dial(relay, h)));
    const std::size_t arrivals = h.rec->count("releaseAll");
    // Bytes that are no frame still make the controller's arrival: the session starts once, and its guard.
    ASSERT_TRUE(ctl.sendRaw(wex::Bytes{1, 2, 3}));
    ASSERT_TRUE(h.log.waitFor("• relay controller arrived"));
    ASSERT_TRUE(ctl.sendRaw(wex::Bytes{4, 5, 6}));
    h.letArrive();
    EXPECT_EQ(h.log.count("• relay controller arrived"), 1u);
    EXPECT_EQ(h.rec->count("releaseAll"), arrivals + 1);

    advance(h, 9900ms);
    h.letArrive();
    EXPECT_FALSE(h.log.has("• dropping unauthenticated client"));
    advance(h, 100ms);
    EXPECT_TRUE(h.log.waitFor("• dropping unauthenticated client — no HELLO within 10s"));
    EXPECT_TRUE(ctl.closedByAgent());
    advance(h, 1s);
    ASSERT_TRUE(registered(relay, h, 2));
}

TEST_F(RelayLinkTest, ARelayArrivalDuringALanSessionGetsTheBusyAnswerAndTheRoomRegistersAgain) {
    RelayDouble& relay = startRelay();
    TestController lan;
    AgentHarness& h = agentAt(relay, lan, true);
    ASSERT_TRUE(registered(relay, h));
    ASSERT_TRUE(h.connect(lan));
    ASSERT_TRUE(lan.authenticateWithKey());
    const std::size_t releases = h.rec->count("releaseAll");

    TestController viaRelay(lan.identity());
    ASSERT_TRUE(viaRelay.connectRelay(dial(relay, h)));
    viaRelay.sendHello();
    const auto fail = viaRelay.receiveType(wex::ControlType::authFail);
    ASSERT_TRUE(fail);
    EXPECT_FALSE(fail->sealed);
    const auto decoded = wex::AuthFail::decode(fail->payload);
    EXPECT_EQ(decoded.reason, wex::AuthFailReason::tooManySessions);
    EXPECT_EQ(decoded.message, "This computer already has a session in progress.");
    EXPECT_TRUE(viaRelay.closedByAgent());
    EXPECT_TRUE(h.log.has("• refusing a relay controller — a session is already established"));

    // The LAN session never noticed.
    EXPECT_EQ(h.rec->count("releaseAll"), releases);
    ASSERT_TRUE(pingPong(lan, 4));
    EXPECT_FALSE(h.agent->transport().sendTarget()->isRelay);

    advance(h, 1s);
    ASSERT_TRUE(registered(relay, h, 2));
    ASSERT_TRUE(pingPong(lan, 5));
}

TEST_F(RelayLinkTest, ALanArrivalDuringARelaySessionIsRefusedAndTheRelaySessionGoesOn) {
    RelayDouble& relay = startRelay();
    TestController ctl;
    AgentHarness& h = agentAt(relay, ctl, true);
    ASSERT_TRUE(registered(relay, h));
    ASSERT_TRUE(ctl.connectRelay(dial(relay, h)));
    ASSERT_TRUE(ctl.authenticateWithKey());

    TestController lan(ctl.identity());
    ASSERT_TRUE(h.connect(lan));
    const auto fail = lan.receiveType(wex::ControlType::authFail);
    ASSERT_TRUE(fail);
    EXPECT_EQ(wex::AuthFail::decode(fail->payload).reason, wex::AuthFailReason::tooManySessions);
    EXPECT_TRUE(lan.closedByAgent(6000ms));
    ASSERT_TRUE(pingPong(ctl, 6));
    EXPECT_TRUE(h.agent->transport().sendTarget()->isRelay);
}

TEST_F(RelayLinkTest, AnUnauthenticatedLanClientIsReplacedByARelayArrival) {
    RelayDouble& relay = startRelay();
    TestController ctl;
    AgentHarness& h = agentAt(relay, ctl, true);
    ASSERT_TRUE(registered(relay, h));
    TestController lan(ctl.identity());
    ASSERT_TRUE(h.connect(lan));
    lan.sendHello();
    ASSERT_TRUE(lan.awaitHelloAck());

    ASSERT_TRUE(ctl.connectRelay(dial(relay, h)));
    ASSERT_TRUE(ctl.authenticateWithKey());
    EXPECT_TRUE(lan.closedByAgent());
    EXPECT_TRUE(h.log.has("• relay controller arrived — dropping the unfinished handshake from 127.0.0.1"));
    ASSERT_TRUE(pingPong(ctl, 8));
}

TEST_F(RelayLinkTest, ARedirectIsFollowedAfterTwoTenthsOfASecondAndTheControllerMeetsTheAgentThere) {
    const std::string token = "redirect-token-41";
    RelayDouble& there = startRelay(relayWith([&](RelayDouble::Options& r) { r.tokens = {token}; }));
    RelayDouble& here = startRelay(relayWith([&](RelayDouble::Options& r) {
        r.redirects = {"*=127.0.0.1:" + std::to_string(there.port())};
        r.tokens = {token};
    }));
    TestController ctl;
    AgentHarness::Options o = pairedWith(ctl, true);
    o.relayJson = pinnedRelayJson(here.port(), false, accountJson("acme", token));
    AgentHarness& h = startAgent(std::move(o));

    ASSERT_TRUE(here.waitForEvent("redirected role=agent version=2 account=acme room=" + room(h)));
    const std::string target = "127.0.0.1:" + std::to_string(there.port());
    ASSERT_TRUE(h.log.waitFor("• relay REDIRECT → " + target + " (another node owns this room)"));
    advance(h, 150ms);
    h.letArrive();
    EXPECT_EQ(there.countEvents("registered"), 0u) << "followed the redirect before 0.2 s";
    advance(h, 50ms);
    ASSERT_TRUE(there.waitForEvent("registered role=agent version=2 account=acme room=" + room(h)));
    const wex::RelayIdentity now = h.agent->transport().relayIdentity();
    EXPECT_EQ(now.host, "127.0.0.1");
    EXPECT_EQ(now.port, there.port());
    EXPECT_EQ(now.account, "acme");

    ASSERT_TRUE(ctl.connectRelay(dial(there, h, "acme", token)));
    ASSERT_TRUE(ctl.authenticateWithKey());
    ASSERT_TRUE(pingPong(ctl, 11));
    // The node that redirected closed its connection: that is no loss of the link that moved on (the
    // one line is the redirect letting go of it).
    EXPECT_EQ(h.log.count("• relay cancelled — will re-register in 2s"), 1u);
}

TEST_F(RelayLinkTest, ARedirectThatNamesNoUsablePortIsIgnored) {
    RelayDouble& relay = startRelay(relayWith([](RelayDouble::Options& r) { r.redirects = {"*=127.0.0.1:70000"}; }));
    TestController ctl;
    AgentHarness::Options o = pairedWith(ctl, true);
    o.relayJson = pinnedRelayJson(relay.port(), false, accountJson("acme", "t"));
    AgentHarness& h = startAgent(std::move(o));
    ASSERT_TRUE(h.log.waitFor("• relay REDIRECT → 127.0.0.1:70000 (another node owns this room)"));
    EXPECT_EQ(h.agent->transport().relayIdentity().port, relay.port());
    // The relay then closes that connection, which the link takes as a loss: a new registration 2 s on.
    ASSERT_TRUE(h.log.waitFor("• relay cancelled — will re-register in 2s"));
    // The relay's own account of it comes from its process, in its own time.
    ASSERT_TRUE(relay.waitForEvent("redirected"));
    advance(h, 1900ms);
    h.letArrive();
    EXPECT_EQ(relay.countEvents("redirected"), 1u);
    advance(h, 100ms);
    EXPECT_TRUE(relay.waitForEvent("redirected", 10000ms, 2));
}

TEST_F(RelayLinkTest, ConnectionsTheLinkLetGoOfNeverActOnTheSessionThatFollows) {
    RelayDouble& first = startRelay();
    RelayDouble& second = startRelay();
    TestController ctl;
    AgentHarness& h = agentAt(first, ctl);
    ASSERT_TRUE(registered(first, h));
    ASSERT_TRUE(ctl.connectRelay(dial(first, h)));
    ASSERT_TRUE(ctl.authenticateWithKey());

    // Moving the link ends the session on the old connection, once.
    h.agent->transport().repointRelay({"127.0.0.1", second.port()});
    ASSERT_TRUE(h.log.waitFor("• relay session torn down (relay link cancelled)"));
    EXPECT_TRUE(h.log.has("• relay region: 127.0.0.1:" + std::to_string(first.port()) +
                          " → 127.0.0.1:" + std::to_string(second.port()) + " (nearest)"));
    ASSERT_TRUE(registered(second, h));
    EXPECT_TRUE(ctl.closedByAgent());
    EXPECT_TRUE(first.waitForEvent("ended role=agent version=1 room=" + room(h) + " by=agent"));

    TestController next(ctl.identity());
    ASSERT_TRUE(next.connectRelay(dial(second, h)));
    ASSERT_TRUE(next.authenticateWithKey());
    // Whatever the old connection still reports (its close, its last bytes) changes nothing here.
    h.letArrive();
    advance(h, 2s);
    h.letArrive();
    ASSERT_TRUE(pingPong(next, 12));
    EXPECT_EQ(h.log.count("• relay session torn down"), 1u);
    EXPECT_EQ(h.log.count("• relay cancelled — will re-register in 2s"), 1u) << "the re-pointing, only";
    EXPECT_EQ(second.countEvents("registered role=agent"), 1u);
    EXPECT_EQ(first.countEvents("registered role=agent"), 1u);
    // Re-pointing to where the link already is does nothing.
    h.agent->transport().repointRelay({"127.0.0.1", second.port()});
    h.letArrive();
    EXPECT_EQ(h.log.count("• relay region:"), 1u);
    ASSERT_TRUE(pingPong(next, 13));
}

TEST_F(RelayLinkTest, TheWatchdogRefreshesAnIdleRegistrationButLeavesALiveOneAlone) {
    RelayDouble& relay = startRelay();
    TestController ctl;
    AgentHarness& h = agentAt(relay, ctl);
    ASSERT_TRUE(registered(relay, h));

    // Firings at 30 s ... 240 s find the registration young enough.
    for (int i = 0; i < 8; ++i)
        advance(h, 30s);
    h.letArrive();
    EXPECT_FALSE(h.log.has("• relay watchdog"));
    EXPECT_EQ(relay.countEvents("registered role=agent"), 1u);
    advance(h, 30s); // 270 s: older than 240 s
    ASSERT_TRUE(h.log.waitFor("• relay watchdog: refreshing idle registration (liveness)"));
    ASSERT_TRUE(registered(relay, h, 2));
    // The relay lets go of the old registration, whichever it notices first: its close or the new one.
    EXPECT_TRUE(waitUntil(
        [&] { return relay.countEvents("replaced role=agent") + relay.countEvents("closed role=agent") >= 1; }));

    // With a controller on it, the registration is left alone however old it gets.
    h.letArrive();
    ASSERT_TRUE(ctl.connectRelay(dial(relay, h)));
    ASSERT_TRUE(ctl.authenticateWithKey());
    for (int i = 0; i < 30; ++i) { // 300 s in steps the idle check allows
        advance(h, 10s);
        ASSERT_TRUE(pingPong(ctl, static_cast<uint16_t>(100 + i))) << "step " << i;
    }
    EXPECT_EQ(h.log.count("• relay watchdog: refreshing idle registration (liveness)"), 1u);
    EXPECT_EQ(relay.countEvents("registered role=agent"), 2u);
}

TEST_F(RelayLinkTest, AnUnreachableRelayWaitsForTheWatchdogToDialAgain) {
    const uint16_t closed = closedPort();
    TestController ctl;
    AgentHarness::Options o = pairedWith(ctl);
    o.relayJson = pinnedRelayJson(closed);
    AgentHarness& h = startAgent(std::move(o));
    const std::string waiting =
        "• relay WAITING (cannot reach 127.0.0.1:" + std::to_string(closed) + ") — watchdog will re-dial";
    ASSERT_TRUE(h.log.waitFor(waiting));
    advance(h, 29s);
    h.letArrive();
    EXPECT_EQ(h.log.count(waiting), 1u);
    advance(h, 1s);
    EXPECT_TRUE(h.log.waitFor("• relay watchdog: not registered — re-dialing"));
    EXPECT_TRUE(waitUntil([&] { return h.log.count(waiting) == 2; }));
}

// A relay given by name is dialled at the name's addresses in turn, and its certificate must name that
// host: the test certificate names localhost (and 127.0.0.1), so another name for the same address is
// refused.
TEST_F(RelayLinkTest, ARelayGivenByNameIsDialledAtItsAddressesAndItsCertificateMustNameTheHost) {
    RelayDouble& relay = startRelay();
    TestController ctl;
    AgentHarness::Options o = pairedWith(ctl);
    o.resolver = std::make_shared<TestResolver>(std::map<std::string, std::vector<std::string>>{
        {"localhost", {"127.0.0.9", "127.0.0.1"}}, {"impostor.test", {"127.0.0.1"}}});
    o.relayJson = pinnedRelayJson(relay.port(), false, "", "localhost");
    ASSERT_TRUE(registered(relay, startAgent(o)));
    agents_.clear();

    o.relayJson = pinnedRelayJson(relay.port(), false, "", "impostor.test");
    EXPECT_TRUE(startAgent(std::move(o)).log.waitFor("• relay failed("));
    EXPECT_EQ(relay.countEvents("registered"), 1u);
}

// A relay whose name's lookup never answers holds up neither the agent's end nor the program's: the
// answer that comes after the agent has gone reaches nothing.
TEST_F(RelayLinkTest, AnAgentWhoseRelayLookupNeverAnswersEndsWithoutWaitingForIt) {
    const auto resolver = std::make_shared<TestResolver>(
        std::map<std::string, std::vector<std::string>>{{"relay.test", {"127.0.0.1"}}}, true);
    TestController ctl;
    AgentHarness::Options o = pairedWith(ctl);
    o.resolver = resolver;
    o.relayJson = pinnedRelayJson(closedPort(), false, "", "relay.test");
    startAgent(std::move(o));
    ASSERT_TRUE(resolver->waitForAsked(1));
    agents_.clear();
    resolver->release();
    for (const auto until = std::chrono::steady_clock::now() + 5s;
         resolver.use_count() > 1 && std::chrono::steady_clock::now() < until;)
        std::this_thread::sleep_for(2ms);
    EXPECT_EQ(resolver.use_count(), 1) << "a lookup thread never ended";
}

TEST_F(RelayLinkTest, AnUntrustedRelayOrOneThatDoesNotMatchTheHostNameIsNeverRegisteredWith) {
    {
        // Without the test authority the relay's certificate is not trusted.
        env_.set("DOVREL_TEST_CA_FILE", std::nullopt);
        RelayDouble& relay = startRelay();
        TestController ctl;
        AgentHarness& h = agentAt(relay, ctl);
        EXPECT_TRUE(h.log.waitFor("• relay failed("));
        EXPECT_TRUE(h.log.waitFor(" — will re-register in 2s"));
        EXPECT_EQ(relay.countEvents("registered"), 0u);
        agents_.clear();
    }
    {
        // A test authority file without certificates adds nothing and is said to.
        TempDir dir;
        writeFile(dir.file("empty.pem"), "not a certificate\n");
        env_.set("DOVREL_TEST_CA_FILE", dir.file("empty.pem"));
        RelayDouble& relay = startRelay();
        TestController ctl;
        AgentHarness& h = agentAt(relay, ctl);
        EXPECT_TRUE(
            h.log.waitFor("⚠︎ relay: no certificate in the test CA file " + dir.file("empty.pem") + " — ignored"));
        EXPECT_TRUE(h.log.waitFor("• relay failed("));
        EXPECT_EQ(relay.countEvents("registered"), 0u);
        agents_.clear();
    }
    {
        // Trusted, but issued for another name: the host name is still checked.
        TempDir dir;
        const TestCertificates other = makeTestCertificates(dir.path(), {"relay.test"}, {});
        env_.set("DOVREL_TEST_CA_FILE", other.caFile);
        RelayDouble& relay = startRelay(relayWith([&](RelayDouble::Options& r) {
            r.certFile = other.certFile;
            r.keyFile = other.keyFile;
        }));
        TestController ctl;
        AgentHarness& h = agentAt(relay, ctl);
        EXPECT_TRUE(h.log.waitFor("• relay failed("));
        EXPECT_EQ(relay.countEvents("registered"), 0u);
        agents_.clear();
    }
}

TEST_F(RelayLinkTest, VideoAndAudioFromOtherThreadsReachARelayControllerInOrder) {
    RelayDouble& relay = startRelay();
    TestController ctl;
    AgentHarness& h = agentAt(relay, ctl);
    ASSERT_TRUE(registered(relay, h));
    ASSERT_TRUE(ctl.connectRelay(dial(relay, h)));
    ASSERT_TRUE(ctl.authenticateWithKey());
    // The agent establishes the session just after its AuthOk has gone out.
    ASSERT_TRUE(waitUntil([&] { return h.agent->transport().sendTarget() != nullptr; }));
    const auto target = h.agent->transport().sendTarget();
    ASSERT_TRUE(target->isRelay && target->route);

    // Two senders, as the encoder's output thread and the audio thread would be. The video fits the
    // queue whole; audio beyond its small bound may be dropped when this thread outruns "dovrel.net".
    constexpr int frames = 300;
    std::atomic<int> audioAccepted = 0;
    std::thread video([&] {
        for (int i = 0; i < frames; ++i) {
            wex::Bytes picture(900, static_cast<uint8_t>(i));
            picture[0] = static_cast<uint8_t>(i >> 8);
            target->send(target->session->sealNext(wex::Stream::video, 1, target->sessionId, 0, picture), true);
        }
    });
    std::thread audio([&] {
        for (int i = 0; i < frames; ++i)
            if (h.net->sendMedia(
                    target->session->sealNext(wex::Stream::audio, 1, target->sessionId, 0, wex::Bytes(200, 0xA5)),
                    false))
                ++audioAccepted;
    });
    video.join();
    audio.join();

    int seenVideo = 0, seenAudio = 0, lastVideo = -1;
    while (seenVideo + seenAudio < frames + audioAccepted) {
        const auto f = ctl.receive();
        ASSERT_TRUE(f) << seenVideo << " video and " << seenAudio << " audio frames arrived";
        ASSERT_TRUE(f->sealed);
        if (f->header.stream == wex::Stream::video) {
            const int n = (f->payload[0] << 8) | f->payload[1];
            EXPECT_EQ(n, lastVideo + 1);
            lastVideo = n;
            ++seenVideo;
        } else if (f->header.stream == wex::Stream::audio) {
            EXPECT_EQ(f->payload, wex::Bytes(200, 0xA5));
            ++seenAudio;
        }
    }
    const auto counts = h.net->relayMediaCounts();
    EXPECT_EQ(counts.videoSent, static_cast<uint64_t>(frames));
    EXPECT_EQ(counts.audioSent, static_cast<uint64_t>(audioAccepted));
    EXPECT_EQ(counts.audioSent + counts.audioDropped, static_cast<uint64_t>(frames));
    EXPECT_EQ(counts.videoDropped, 0u);
    EXPECT_TRUE(ctl.quietFor(100ms)) << "more arrived than was accepted";

    // A snapshot of a session that is over sends nothing to the next one.
    ctl.close();
    ASSERT_TRUE(waitUntil([&] { return h.agent->transport().sendTarget() == nullptr; }));
    EXPECT_FALSE(target->send(wex::Bytes(40, 1), true));
    EXPECT_FALSE(h.net->sendMedia(wex::Bytes(40, 1), true));
}

TEST_F(RelayLinkTest, AWakeRequestThroughTheRelayIsAnsweredFromTheNetworkItNames) {
    RelayDouble& relay = startRelay();
    TestController ctl;
    AgentHarness& h = agentAt(relay, ctl);
    {
        const std::lock_guard g(h.rec->lock);
        h.rec->wakeSentOn = {"eth-test"};
    }
    ASSERT_TRUE(registered(relay, h));
    ASSERT_TRUE(ctl.connectRelay(dial(relay, h)));
    ASSERT_TRUE(ctl.authenticateWithKey());

    wex::WakePeerRequest request;
    request.reqId = 21;
    request.mac = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    request.ipv4 = 0x0A4D0009; // 10.77.0.9, on the agent's eth-test network
    request.name = "nas";
    ASSERT_TRUE(ctl.sendSealed(wex::ControlType::wakePeer, request.encode()));
    const auto answer = ctl.receiveType(wex::ControlType::wakePeerAck);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->sealed);
    const auto ack = wex::WakePeerAck::decode(answer->payload);
    EXPECT_EQ(ack.reqId, 21);
    EXPECT_EQ(ack.statusCase(), wex::WakePeerAck::Status::sent);
    EXPECT_EQ(ack.interfaces, 1);
    EXPECT_EQ(ack.detail, "Sent from Test Box via eth-test.");
    EXPECT_TRUE(h.rec->has("wake.send:02:11:22:33:44:55@eth-test"));
    EXPECT_TRUE(h.log.has("• WAKE_PEER for nas — magic packet sent on eth-test"));
}
