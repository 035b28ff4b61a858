#include <filesystem>
#include <set>
#include <thread>

#include <QString>

#include <gtest/gtest.h>

#include "../../support/FakeScheduler.h"
#include "AccountsTestSupport.h"
#include "agent/accounts/RelayGrant.h"
#include "runtime/AtomicFile.h"

using namespace dovrel;
using namespace dovrel::agent;
using namespace dovrel::test;
namespace fs = std::filesystem;

namespace {

using Grant = RelayGrant::Grant;
const char* notSignedIn = "This computer isn't signed in to an account.";
const char* shareIssued = "• share code issued: …redacted… (30 min, 3 claims — replaced once a device pairs)";

std::string lower(const std::string& s) { return QString::fromStdString(s).toLower().toStdString(); }

// A share request that ended without a failure text; and a model change that sets an optional text to nil.
const std::optional<std::optional<std::string>> endedWithoutFailure{std::in_place};
const std::optional<std::optional<std::string>> setToNil{std::in_place};

bool endsWith(const std::string& s, const std::string& tail) { return s.ends_with(tail); }

// The account work with a fake agent around it, against the double; relay.json points at the double.
struct Service : AccountsFixture {
    Service() { token = api.addAccount("amy", "pw"); }
    ~Service() override { stop(); }

    // `linkReady` false: the model has no pairing link yet, as early in the agent's start-up.
    void start(bool signedIn, Scheduler* clock = nullptr, bool linkReady = true) {
        wex::RelayIdentity identity{"", "", "relay.example.org", 8443};
        if (signedIn) {
            config.save("amy", token);
            identity.account = "amy";
            identity.token = token;
        }
        host = std::make_unique<FakeAccountHost>(identity);
        AccountService::Options options;
        options.api = apiOptions();
        options.scheduler = clock;
        service = std::make_unique<AccountService>(*host, config, options);
        host->attach(service.get());
        if (linkReady) host->refreshNow();
    }
    void stop() {
        // The model stops asking the service for the link's grant part (and drains what was posted to it).
        if (host) host->attach(nullptr);
        service.reset();
        host.reset();
    }

    // Runs one operation to its end.
    bool run(const std::function<void(AccountService::Done)>& op) {
        Latch done;
        op(done.callback());
        return done.wait();
    }
    std::optional<std::string> share(bool force) {
        Awaited<std::optional<std::string>> result;
        service->createShareCode(force, result.callback());
        return *result.get();
    }
    std::optional<Grant> storedGrant() const {
        wex::Bytes bytes;
        if (!readWholeFile(config.directory() + "/grant.json", bytes)) return std::nullopt;
        return RelayGrant::decodeFile(bytes, RelayGrant::nowSeconds());
    }
    void storeGrant(const Grant& g) { writeText(config.directory() + "/grant.json", RelayGrant::encodeFile(g)); }

    LogCapture log;
    std::string token;
    std::unique_ptr<FakeAccountHost> host;
    std::unique_ptr<AccountService> service;
};

} // namespace

// ---- access grants

TEST_F(Service, AGrantIsPublishedSavedAndPutIntoTheLink) {
    start(true);
    ASSERT_TRUE(run([&](auto done) { service->mintGrant(24, done); }));
    const auto g1 = service->grant();
    ASSERT_TRUE(g1);
    EXPECT_EQ(storedGrant(), g1);
    EXPECT_EQ(api.requests("/v1/grant").at(0).body, R"({"ttlHours":24})");
    auto m = host->model();
    EXPECT_FALSE(m.grantBusy);
    EXPECT_EQ(m.grantError, std::nullopt);
    EXPECT_TRUE(m.grantExpiryText.starts_with("Expires ")) << m.grantExpiryText;
    EXPECT_TRUE(endsWith(m.pairingURL, "&kind=linux&account=amy&token=" + g1->token)) << m.pairingURL;
    EXPECT_TRUE(log.hasLine("• share grant issued — " + lower(m.grantExpiryText) + "; any previous QR is now dead"))
        << log.text();

    // The next one replaces it at the relay.
    ASSERT_TRUE(run([&](auto done) { service->mintGrant(0, done); }));
    EXPECT_EQ(api.requests("/v1/grant").at(1).body, R"({"replaces":")" + g1->jti + R"(","ttlHours":0})");
    EXPECT_TRUE(api.grants().at(0).revoked);
    m = host->model();
    EXPECT_EQ(m.grantExpiryText, "Never expires");
    EXPECT_TRUE(endsWith(m.pairingURL, "&token=" + service->grant()->token));
    EXPECT_TRUE(log.hasLine("• share grant issued — never expires; any previous QR is now dead"));
    // Busy while it ran, then not: the first change of each call sets it.
    const auto changes = host->changes();
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes[0].grantBusy, true);
    EXPECT_EQ(changes[0].grantError, setToNil);
}

TEST_F(Service, ANewGrantThatDidNotKillTheOldOneSaysWhy) {
    start(true);
    storeGrant({"opaque-old-token", "", 0}); // no identifier on record
    ASSERT_TRUE(run([&](auto done) { service->mintGrant(1, done); }));
    EXPECT_FALSE(api.requests("/v1/grant").at(0).json().contains("replaces"));
    EXPECT_EQ(host->model().grantError,
              "A new QR code is ready, but the previous QR code had no id on record, so it could not be cancelled.");
    EXPECT_TRUE(
        log.contains("; NOT cancelled: the previous QR code had no id on record, so it could not be cancelled\n"));
    EXPECT_TRUE(endsWith(host->model().pairingURL, "&token=" + service->grant()->token)); // in use all the same

    // The relay did not know the identifier.
    const Grant unknown{"opaque", "00000000000000aa", 0};
    storeGrant(unknown);
    stop();
    start(true);
    ASSERT_TRUE(run([&](auto done) { service->mintGrant(1, done); }));
    EXPECT_EQ(host->model().grantError, "A new QR code is ready, but the relay could not cancel the previous QR code "
                                        "(no live grant 00000000000000aa on record).");
    EXPECT_TRUE(log.contains("; NOT cancelled: the relay could not cancel the previous QR code (no live grant "
                             "00000000000000aa on record)\n"));
}

TEST_F(Service, AFailedGrantKeepsTheOldOne) {
    start(true);
    ASSERT_TRUE(run([&](auto done) { service->mintGrant(0, done); }));
    const auto old = service->grant();
    api.script("/v1/grant", AccountApiReply::raw(500, R"({"error":"Relay busy."})"));
    ASSERT_TRUE(run([&](auto done) { service->mintGrant(8, done); }));
    EXPECT_EQ(service->grant(), old);
    EXPECT_EQ(storedGrant(), old);
    const auto m = host->model();
    EXPECT_FALSE(m.grantBusy);
    EXPECT_EQ(m.grantError, "Relay busy.");
    EXPECT_TRUE(log.hasLine("• share grant FAILED: Relay busy."));
}

TEST_F(Service, GrantsAndShareCodesWhileSignedOutSendNothing) {
    start(false);
    ASSERT_TRUE(run([&](auto done) { service->mintGrant(24, done); }));
    EXPECT_EQ(host->model().grantError, notSignedIn);
    EXPECT_TRUE(log.hasLine(std::string("• share grant FAILED: ") + notSignedIn));
    EXPECT_EQ(share(false), notSignedIn);
    EXPECT_TRUE(log.hasLine(std::string("• share code FAILED: ") + notSignedIn));
    EXPECT_FALSE(host->model().grantBusy);
    EXPECT_FALSE(host->model().shareInFlight);
    EXPECT_TRUE(api.requests().empty());
    EXPECT_EQ(storedGrant(), std::nullopt);
}

// ---- share codes

TEST_F(Service, AShareCodeCarriesTheWholeLinkAndStaysOutOfTheLog) {
    start(true);
    ASSERT_TRUE(run([&](auto done) { service->mintGrant(0, done); }));
    EXPECT_EQ(share(false), std::nullopt);
    ASSERT_EQ(api.shares().size(), 1u);
    const auto issued = api.shares()[0];
    const auto m = host->model();
    EXPECT_EQ(issued.payload, m.pairingURL); // with the account and the grant token
    EXPECT_NE(issued.payload.find("&token=" + service->grant()->token), std::string::npos);
    EXPECT_EQ(api.requests("/v1/share")[0].json().value("uses").toInt(), 3);
    EXPECT_EQ(m.shareCode, issued.code);
    EXPECT_EQ(m.shareCodeNote, "Valid for 30 minutes · pairs one device");
    EXPECT_EQ(m.shareCodeExpiresAt, issued.expires);
    EXPECT_FALSE(m.shareInFlight);
    EXPECT_FALSE(m.grantBusy);
    EXPECT_TRUE(log.hasLine(shareIssued));
    EXPECT_FALSE(log.contains(issued.code));
    EXPECT_EQ(host->shared(), std::vector<std::string>{issued.payload}) << "the agent learns what it hands out";
}

TEST_F(Service, NoShareCodeIsAskedForBeforeThePairingLinkExists) {
    start(true, nullptr, false);
    EXPECT_EQ(share(true), std::string(AccountService::linkNotReady));
    EXPECT_TRUE(api.requests("/v1/share").empty()) << "a code for an empty link leads nowhere";
    EXPECT_FALSE(host->model().shareInFlight);
    EXPECT_FALSE(host->model().grantBusy);
    host->refreshNow();
    EXPECT_EQ(share(false), std::nullopt);
    ASSERT_EQ(api.shares().size(), 1u);
    EXPECT_EQ(api.shares()[0].payload, host->model().pairingURL);
}

TEST_F(Service, AFailedShareCodeLeavesThePreviousOneShown) {
    start(true);
    api.script("/v1/share", AccountApiReply::raw(200, R"({"code":"AB12-CD34"})"));
    EXPECT_EQ(share(false), std::nullopt);
    EXPECT_EQ(host->model().shareCode, "AB12-CD34");
    EXPECT_EQ(host->model().shareCodeExpiresAt, std::nullopt); // no "expires": no date
    api.script("/v1/share", AccountApiReply::raw(200, R"({"code":"EF56-GH78","expires":0})"));
    EXPECT_EQ(share(false), std::nullopt);
    EXPECT_EQ(host->model().shareCode, "EF56-GH78");
    EXPECT_EQ(host->model().shareCodeExpiresAt, std::nullopt);
    api.script("/v1/share", AccountApiReply::raw(500, "<html>"));
    EXPECT_EQ(share(false), "The relay refused (500).");
    const auto m = host->model();
    EXPECT_EQ(m.shareCode, "EF56-GH78");
    EXPECT_EQ(m.grantError, "The relay refused (500).");
    EXPECT_FALSE(m.grantBusy);
    EXPECT_FALSE(m.shareInFlight);
    EXPECT_TRUE(log.hasLine("• share code FAILED: The relay refused (500)."));
    api.script("/v1/share", AccountApiReply::raw(200, R"({"code":""})"));
    EXPECT_EQ(share(true), "The relay didn't return a code.");
}

TEST_F(Service, ASecondShareRequestGivesWayWhileOneRuns) {
    start(true);
    api.holdReplies(true);
    Awaited<std::optional<std::string>> first;
    service->createShareCode(false, first.callback());
    ASSERT_TRUE(api.waitForHeld(1));
    EXPECT_TRUE(host->model().shareInFlight);
    EXPECT_TRUE(host->model().grantBusy);
    EXPECT_EQ(share(false), std::nullopt); // at once, without a request and without a model change
    const auto changes = host->changes().size();
    EXPECT_EQ(api.requests().size(), 1u);
    api.holdReplies(false);
    api.releaseHeld();
    EXPECT_EQ(first.get(), endedWithoutFailure);
    EXPECT_EQ(host->changes().size(), changes + 1);
    EXPECT_FALSE(host->model().shareInFlight);
}

TEST_F(Service, AForcedShareRequestWaitsForTheClaimAtMost25Seconds) {
    FakeScheduler clock;
    start(true, &clock);
    const auto advance = [&](std::chrono::milliseconds d) { service->queue().sync([&] { clock.advance(d); }); };
    api.holdReplies(true);
    Awaited<std::optional<std::string>> running;
    service->createShareCode(false, running.callback());
    ASSERT_TRUE(api.waitForHeld(1));

    Awaited<std::optional<std::string>> forced;
    service->createShareCode(true, forced.callback());
    service->queue().sync([] {}); // it has tried once
    advance(24900ms);
    EXPECT_FALSE(forced.get(20ms));
    const auto modelBefore = host->changes().size();
    advance(100ms);
    const auto gaveUp = forced.get();
    ASSERT_TRUE(gaveUp);
    EXPECT_EQ(*gaveUp, "another share code request is still running");
    EXPECT_EQ(host->changes().size(), modelBefore); // the model is not touched
    EXPECT_EQ(api.requests().size(), 1u);
    api.releaseHeld();
    EXPECT_TRUE(running.get());

    // Within the window it wins the claim on the first try after the running one ends.
    Awaited<std::optional<std::string>> second;
    service->createShareCode(false, second.callback());
    ASSERT_TRUE(api.waitForHeld(1));
    Awaited<std::optional<std::string>> patient;
    service->createShareCode(true, patient.callback());
    advance(10s);
    api.releaseHeld();
    ASSERT_TRUE(second.get());
    EXPECT_EQ(api.requests().size(), 2u);
    advance(100ms);
    ASSERT_TRUE(api.waitForHeld(1));
    EXPECT_EQ(api.requests().size(), 3u);
    api.releaseHeld();
    EXPECT_EQ(patient.get(), endedWithoutFailure);
    EXPECT_EQ(host->model().shareCode, api.shares().back().code);
}

// ---- cancel all access

TEST_F(Service, CancellingAllAccessWhileSignedOutOnlySaysSo) {
    start(false);
    ASSERT_TRUE(run([&](auto done) { service->cancelAllAccess(done); }));
    EXPECT_EQ(host->model().grantError, notSignedIn);
    EXPECT_EQ(host->rotations(), 0);
    EXPECT_EQ(host->drops(), 0);
    EXPECT_TRUE(api.requests().empty());
    EXPECT_TRUE(log.text().empty()) << log.text();
}

TEST_F(Service, CancellingAllAccessRenewsCodeGrantAndShareCode) {
    start(true);
    ASSERT_TRUE(run([&](auto done) { service->ensureGrant(done); }));
    const Grant g1 = *service->grant();
    const std::string oldShare = host->model().shareCode;
    const std::string oldCode = host->pairingCode();
    host->setGrantTTLHours(48);

    ASSERT_TRUE(run([&](auto done) { service->cancelAllAccess(done); }));
    EXPECT_EQ(host->rotations(), 1);
    EXPECT_NE(host->pairingCode(), oldCode);
    EXPECT_EQ(host->drops(), 1);
    const Grant g2 = *service->grant();
    EXPECT_NE(g2, g1);
    EXPECT_EQ(storedGrant(), g2);
    EXPECT_EQ(api.requests("/v1/grant").back().body, R"({"replaces":")" + g1.jti + R"(","ttlHours":48})");
    EXPECT_TRUE(api.grants().at(0).revoked);
    // The new share code hands out the new link: new pairing code, new grant token.
    const auto issued = api.shares().back();
    EXPECT_NE(issued.payload.find("code=" + host->pairingCode() + "&"), std::string::npos) << issued.payload;
    EXPECT_TRUE(endsWith(issued.payload, "&token=" + g2.token));

    const auto m = host->model();
    EXPECT_FALSE(m.grantBusy);
    EXPECT_EQ(m.grantError, std::nullopt);
    EXPECT_EQ(m.grantNotice, "Old QR code and share code cancelled — new ones are ready.");
    EXPECT_EQ(m.shareCode, issued.code);
    EXPECT_NE(m.shareCode, oldShare);
    EXPECT_EQ(m.pairingURL, issued.payload);

    const auto lines = log.lines();
    const auto rotated = std::find(lines.begin(), lines.end(), "• pairing code rotated (cancel all access)");
    ASSERT_NE(rotated, lines.end());
    ASSERT_GE(lines.end() - rotated, 3);
    EXPECT_EQ(rotated[1], shareIssued);
    EXPECT_EQ(rotated[2], "• cancel all access: QR grant " + g1.jti + " replaced by " + g2.jti +
                              "; pairing code and share code are new; session dropped");
}

TEST_F(Service, CancellingAllAccessWithoutAnOldGrantNamesNone) {
    start(true);
    ASSERT_TRUE(run([&](auto done) { service->cancelAllAccess(done); }));
    EXPECT_FALSE(api.requests("/v1/grant").at(0).json().contains("replaces"));
    EXPECT_TRUE(log.hasLine("• cancel all access: QR grant (none) replaced by " + service->grant()->jti +
                            "; pairing code and share code are new; session dropped"))
        << log.text();
}

TEST_F(Service, CancellingAllAccessListsWhatCouldNotBeRenewed) {
    start(true);
    api.script("/v1/share", AccountApiReply::raw(503, R"({"error":"Share service down."})"));
    ASSERT_TRUE(run([&](auto done) { service->cancelAllAccess(done); }));
    const std::string text =
        "The pairing code and QR code are new, but a new share code could not be created (Share service down.).";
    EXPECT_EQ(host->model().grantError, text);
    EXPECT_EQ(host->model().grantNotice, std::nullopt);
    EXPECT_TRUE(log.hasLine("• cancel all access: " + text));
    EXPECT_EQ(host->rotations(), 1);

    // Both problems, in order.
    storeGrant({"opaque-old-token", "", 0});
    stop();
    start(true);
    api.script("/v1/share", AccountApiReply::raw(503, "{}"));
    ASSERT_TRUE(run([&](auto done) { service->cancelAllAccess(done); }));
    EXPECT_EQ(host->model().grantError,
              "The pairing code and QR code are new, but the previous QR code had no id on record, so it could not be "
              "cancelled, and a new share code could not be created (The relay refused (503).).");
}

TEST_F(Service, CancellingAllAccessWhenTheRelayCannotReplaceTheGrant) {
    start(true);
    ASSERT_TRUE(run([&](auto done) { service->ensureGrant(done); }));
    const auto old = service->grant();
    api.script("/v1/grant", AccountApiReply::raw(502, ""));
    const auto sharesBefore = api.shares().size();
    ASSERT_TRUE(run([&](auto done) { service->cancelAllAccess(done); }));
    const auto m = host->model();
    EXPECT_EQ(m.grantError, "The pairing code has changed, but the old QR code could not be cancelled (The relay "
                            "refused (502).). Try again when this computer is online.");
    EXPECT_FALSE(m.grantBusy);
    EXPECT_EQ(m.shareCode, "");
    EXPECT_EQ(m.shareCodeNote, "");
    EXPECT_EQ(m.shareCodeExpiresAt, std::nullopt);
    EXPECT_EQ(host->rotations(), 1);
    EXPECT_EQ(host->drops(), 1);
    EXPECT_EQ(service->grant(), old);
    EXPECT_EQ(api.shares().size(), sharesBefore);
    EXPECT_TRUE(log.hasLine("• cancel all access: the pairing code changed, but the relay did not replace the QR (The "
                            "relay refused (502).) — the old QR still works"));
}

// ---- the start-up check

TEST_F(Service, EnsureGrantDoesNothingWhileSignedOut) {
    start(false);
    ASSERT_TRUE(run([&](auto done) { service->ensureGrant(done); }));
    EXPECT_TRUE(api.requests().empty());
    EXPECT_TRUE(host->changes().empty());
}

TEST_F(Service, EnsureGrantMintsAGrantThatNeverExpiresThenAShareCode) {
    start(true);
    ASSERT_TRUE(run([&](auto done) { service->ensureGrant(done); }));
    const auto seen = api.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].path, "/v1/grant");
    EXPECT_EQ(seen[0].body, R"({"ttlHours":0})");
    EXPECT_EQ(seen[1].path, "/v1/share");
    EXPECT_EQ(host->model().grantExpiryText, "Never expires");
    EXPECT_EQ(host->model().shareCode, api.shares()[0].code);
}

TEST_F(Service, EnsureGrantTakesTheStoredGrantAsItIs) {
    const Grant stored{"s1.s2.s3.s4.s5.0123456789abcdef.s7", "", RelayGrant::nowSeconds() + 7200};
    storeGrant(stored);
    start(true);
    ASSERT_TRUE(run([&](auto done) { service->ensureGrant(done); }));
    EXPECT_TRUE(api.requests("/v1/grant").empty());
    EXPECT_EQ(api.requests("/v1/share").size(), 1u);
    EXPECT_EQ(service->grant(), stored);
    EXPECT_TRUE(host->model().grantExpiryText.starts_with("Expires "));
    EXPECT_TRUE(endsWith(host->model().pairingURL, "&account=amy&token=" + stored.token));

    // An expired one is not loaded: a fresh grant is minted.
    storeGrant({"old", "", RelayGrant::nowSeconds() - 1});
    stop();
    start(true);
    ASSERT_TRUE(run([&](auto done) { service->ensureGrant(done); }));
    EXPECT_EQ(api.requests("/v1/grant").size(), 1u);
}

// ---- sign-in and sign-out

TEST_F(Service, SigningInReRegistersUnderTheAccountAndStartsAFreshGrant) {
    start(false);
    const Grant former{"former.account.grant", "1111111111111111", 0};
    storeGrant(former);
    ASSERT_TRUE(run([&](auto done) { service->signIn(" amy ", "pw", false, "", done); }));

    const QJsonObject file = jsonFile(config.path());
    EXPECT_EQ(file.value("account").toString(), "amy");
    EXPECT_EQ(file.value("token").toString().toStdString(), token);
    const auto registrations = host->registrations();
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0].account, "amy");
    EXPECT_EQ(registrations[0].token, token);
    EXPECT_EQ(registrations[0].thread, "dovrel.account");

    const auto seen = api.requests();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].path, "/v1/signin");
    EXPECT_EQ(seen[1].path, "/v1/grant");
    EXPECT_EQ(seen[1].body, R"({"ttlHours":0})"); // the former account's grant is not replaced, it is dropped
    EXPECT_EQ(seen[1].header("authorization"), "Bearer " + token);
    EXPECT_EQ(seen[2].path, "/v1/share");
    const auto fresh = service->grant();
    ASSERT_TRUE(fresh);
    EXPECT_NE(*fresh, former);
    EXPECT_EQ(storedGrant(), fresh);

    const auto m = host->model();
    EXPECT_EQ(m.account, "amy");
    EXPECT_FALSE(m.accountBusy);
    EXPECT_EQ(m.accountError, std::nullopt);
    EXPECT_TRUE(endsWith(m.pairingURL, "&kind=linux&account=amy&token=" + fresh->token));
    EXPECT_TRUE(log.hasLine("• signed in as amy — re-registering on relay.example.org:8443"));
    // Busy first.
    EXPECT_EQ(host->changes().at(0).accountBusy, true);
}

TEST_F(Service, AFailedSignInChangesNothing) {
    start(false);
    const Grant former{"former.account.grant", "1111111111111111", 0};
    storeGrant(former);
    const std::string relayJson = readText(config.path());
    ASSERT_TRUE(run([&](auto done) { service->signIn("amy", "wrong", false, "", done); }));
    auto m = host->model();
    EXPECT_EQ(m.accountError, "Wrong account name or password.");
    EXPECT_FALSE(m.accountBusy);
    EXPECT_EQ(m.account, "");
    EXPECT_TRUE(log.hasLine("• sign-in FAILED: Wrong account name or password."));
    ASSERT_TRUE(run([&](auto done) { service->signIn("  ", "pw", true, "", done); }));
    EXPECT_EQ(host->model().accountError, "Enter an account name and a password.");
    EXPECT_TRUE(log.hasLine("• sign-in FAILED: Enter an account name and a password."));

    EXPECT_TRUE(host->registrations().empty());
    EXPECT_EQ(host->relayIdentity().account, "");
    EXPECT_EQ(storedGrant(), former);
    EXPECT_EQ(readText(config.path()), relayJson);
    EXPECT_EQ(api.requests().size(), 1u);
}

TEST_F(Service, SigningOutKeepsTheOtherKeysAndReturnsToTheSharedNamespace) {
    start(true);
    ASSERT_TRUE(run([&](auto done) { service->ensureGrant(done); }));
    ASSERT_FALSE(host->model().shareCode.empty());
    const auto requestsBefore = api.requests().size();

    ASSERT_TRUE(run([&](auto done) { service->signOut(done); }));
    const QJsonObject file = jsonFile(config.path());
    EXPECT_FALSE(file.contains("account"));
    EXPECT_FALSE(file.contains("token"));
    EXPECT_TRUE(file.value("lan").toBool());
    EXPECT_EQ(file.value("apiHost").toString().toStdString(), api.host());
    EXPECT_FALSE(fs::exists(config.directory() + "/grant.json"));
    EXPECT_EQ(service->grant(), std::nullopt);
    const auto registrations = host->registrations();
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0].account, "");
    EXPECT_EQ(registrations[0].token, "");
    EXPECT_TRUE(log.hasLine("• signed out — back to the shared namespace on relay.example.org:8443"));
    const auto m = host->model();
    EXPECT_EQ(m.account, "");
    EXPECT_EQ(m.shareCode, "");
    EXPECT_EQ(m.shareCodeNote, "");
    EXPECT_EQ(m.grantExpiryText, "");
    EXPECT_TRUE(endsWith(m.pairingURL, "&kind=linux")) << m.pairingURL;
    EXPECT_EQ(api.requests().size(), requestsBefore); // nothing goes to the account API

    // With nothing else in it, relay.json goes.
    writeText(config.path(), R"({"account": "amy", "token": "t"})");
    ASSERT_TRUE(run([&](auto done) { service->signOut(done); }));
    EXPECT_FALSE(fs::exists(config.path()));
}

TEST_F(Service, AShareCodeThatArrivesAfterSignOutIsNotShown) {
    start(true);
    api.holdReplies(true);
    Awaited<std::optional<std::string>> late;
    service->createShareCode(false, late.callback());
    ASSERT_TRUE(api.waitForHeld(1));
    ASSERT_TRUE(run([&](auto done) { service->signOut(done); })); // not queued behind a share request
    api.releaseHeld();
    ASSERT_TRUE(late.get());
    const auto m = host->model();
    EXPECT_EQ(m.shareCode, "");
    EXPECT_FALSE(m.shareInFlight);
    EXPECT_FALSE(m.grantBusy);
    EXPECT_FALSE(log.contains("share code issued"));
    EXPECT_EQ(host->shared(), std::vector<std::string>{""})
        << "signing out withdrew the codes; the late one hands out nothing";
}

// ---- one at a time, on one thread

TEST_F(Service, GrantSignInAndSignOutWorkNeverOverlap) {
    start(false);
    api.setReplyDelay(15ms);
    std::mutex lock;
    std::vector<std::string> finished;
    const auto note = [&](const std::string& what) {
        return [&, what] {
            const std::lock_guard g(lock);
            finished.push_back(what);
        };
    };
    Latch last;
    service->signIn("amy", "pw", false, "", note("sign-in"));
    service->mintGrant(1, note("grant 1"));
    // Entry points are safe from any thread; what arrives together runs one after the other.
    std::vector<std::thread> callers;
    for (int i = 0; i < 3; ++i)
        callers.emplace_back([&] { service->mintGrant(2, note("grant 2")); });
    for (auto& t : callers)
        t.join();
    service->cancelAllAccess(note("cancel"));
    service->signOut(note("sign-out"));
    service->signIn("amy", "pw", false, "", note("sign-in"));
    service->mintGrant(3, [&, done = last.callback()] {
        note("grant 3")();
        done();
    });
    ASSERT_TRUE(last.wait(30s));

    EXPECT_EQ(api.mostOpenAtOnce(), 1u);
    std::vector<std::string> paths;
    for (const auto& r : api.requests())
        paths.push_back(r.path);
    const std::vector<std::string> expected = {
        "/v1/signin", "/v1/grant", "/v1/share",             // sign-in with its grant and share code
        "/v1/grant",                                        // grant 1
        "/v1/grant",  "/v1/grant", "/v1/grant",             // grant 2, three times
        "/v1/grant",  "/v1/share",                          // cancel all access
        "/v1/signin", "/v1/grant", "/v1/share", "/v1/grant" // sign-out sends nothing; sign-in; grant 3
    };
    EXPECT_EQ(paths, expected);
    EXPECT_EQ(finished, (std::vector<std::string>{"sign-in", "grant 1", "grant 2", "grant 2", "grant 2", "cancel",
                                                  "sign-out", "sign-in", "grant 3"}));
    // Every grant replaced the one before it: no overlap ever lost track of the current grant.
    const auto grants = api.grants();
    ASSERT_EQ(grants.size(), 8u);
    for (std::size_t i = 0; i + 1 < grants.size(); ++i) {
        // The sixth (from cancelling all access) was dropped by the sign-out, not replaced.
        EXPECT_EQ(grants[i].revoked, i != 5) << i;
    }
    for (const auto& thread : host->callerThreads())
        EXPECT_EQ(thread, "dovrel.account");
    for (const auto& r : host->registrations())
        EXPECT_EQ(r.thread, "dovrel.account");
}

// ---- secrets

TEST_F(Service, NoTokenPasswordOrShareCodeReachesTheLog) {
    start(false);
    const std::string password = "s3cret-Pa55 word";
    ASSERT_TRUE(run([&](auto done) { service->signIn("zoe", password, true, "", done); }));
    ASSERT_TRUE(run([&](auto done) { service->mintGrant(12, done); }));
    EXPECT_EQ(share(true), std::nullopt);
    ASSERT_TRUE(run([&](auto done) { service->cancelAllAccess(done); }));
    ASSERT_TRUE(run([&](auto done) { service->signOut(done); }));
    ASSERT_TRUE(run([&](auto done) { service->signIn("zoe", "not " + password, false, "", done); }));
    ASSERT_TRUE(run([&](auto done) { service->signIn("zoe", password, false, "", done); }));

    const std::string text = log.text();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find(password), std::string::npos);
    EXPECT_EQ(text.find("s3cret"), std::string::npos);
    for (const auto& t : api.accountTokens())
        EXPECT_EQ(text.find(t), std::string::npos) << t;
    ASSERT_GE(api.grants().size(), 4u);
    for (const auto& g : api.grants())
        EXPECT_EQ(text.find(g.token), std::string::npos) << g.token;
    ASSERT_GE(api.shares().size(), 4u);
    for (const auto& s : api.shares())
        EXPECT_EQ(text.find(s.code), std::string::npos) << s.code;
}

// ---- lifetime

TEST_F(Service, DestroyingTheServiceMidRequestDropsTheWork) {
    start(true);
    api.holdReplies(true);
    std::atomic<int> calls = 0;
    service->mintGrant(1, [&] { ++calls; });
    service->signOut([&] { ++calls; });
    service->createShareCode(false, [&](std::optional<std::string>) { ++calls; });
    ASSERT_TRUE(api.waitForHeld(1));
    host->attach(nullptr);
    service.reset();
    api.releaseHeld();
    host->model(); // the fake main thread has drained what was posted to it
    EXPECT_EQ(calls, 0);
}
