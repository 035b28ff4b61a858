#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "agent/accounts/AccountApi.h"
#include "agent/accounts/RelayGrant.h"
#include "agent/core/AccountHost.h"
#include "runtime/Scheduler.h"
#include "runtime/SerialQueue.h"

namespace dovrel::agent {

class RelayConfig;

// The agent's account work: access grants, share codes, sign-in and sign-out, published on the window's
// model through an AccountHost.
//
// Everything runs on one thread of its own, "dovrel.account". Grant, sign-in and sign-out work are
// queued there and run one at a time, each to its end (network answers included) before the next
// starts, so that two of them never interleave their writes of the grant, grant.json, relay.json or
// the relay identity. Share-code requests are not queued behind them: at most one runs at a time (the
// claim), a second one either gives up at once or, when forced, waits for the claim for up to 25 s.
//
// Every entry point may be called from any thread and returns at once; `done`, when given, runs on the
// account thread when the work has ended. Work still waiting when the service is destroyed is dropped
// without calling its `done`.
class AccountService {
public:
    struct Options {
        AccountApi::Options api;
        // Runs the share-code claim's retry window on the account thread; the real clock when null.
        Scheduler* scheduler = nullptr;
    };
    using Done = std::function<void()>;
    // Nothing on success (or when the request gave way to one already running), else the failure text.
    using ShareDone = std::function<void(std::optional<std::string>)>;

    static constexpr std::chrono::milliseconds shareRetryInterval{100};
    static constexpr std::chrono::seconds shareClaimWindow{25};
    // A share code's life at the relay, as the agent asks for it.
    static constexpr std::chrono::minutes shareLifetime{30};
    static constexpr double shareMinutes = shareLifetime.count();
    static constexpr int shareUses = 3;
    // The answer of a share request made before the pairing link exists: nothing is sent.
    static constexpr const char* linkNotReady = "the pairing link is not ready yet";

    // relay.json and grant.json live in `config`'s directory. `host` outlives the service.
    AccountService(AccountHost& host, RelayConfig& config, Options options);
    AccountService(AccountHost& host, RelayConfig& config) : AccountService(host, config, Options()) {}
    ~AccountService();
    AccountService(const AccountService&) = delete;
    AccountService& operator=(const AccountService&) = delete;

    // Issues a new grant of `ttlHours` (0 = never expires) that replaces the current one.
    void mintGrant(double ttlHours, Done done = {});
    // New pairing code, client dropped, grant replaced, new share code.
    void cancelAllAccess(Done done = {});
    // Start-up and post-sign-in: loads grant.json, or mints a grant that never expires; then a share code.
    // At start-up it is called once the pairing link is in the model: the share code carries that link.
    void ensureGrant(Done done = {});
    void signIn(std::string account, std::string password, bool create, std::string invite, Done done = {});
    void signOut(Done done = {});
    // A share code for the current pairing link, 30 minutes and 3 claims.
    void createShareCode(bool force, ShareDone done = {});

    // The current grant; any thread.
    std::optional<RelayGrant::Grant> grant() const;
    // "&account=…&token=…" for the pairing link, or ""; any thread (the pairing link is built on main).
    std::string relayGrantQuery() const;

    // The account thread (tests drive a fake clock on it).
    SerialQueue& queue();

private:
    struct Core;
    std::shared_ptr<Core> core_;
};

} // namespace dovrel::agent
