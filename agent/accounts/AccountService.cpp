#include "agent/accounts/AccountService.h"

#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include <QString>

#include "agent/accounts/AccountSignIn.h"
#include "agent/common/AgentLog.h"
#include "agent/core/RelayConfig.h"

namespace dovrel::agent {

namespace {

using Text = AccountModelChange::Text;
using Grant = RelayGrant::Grant;
const Text nil;

std::string lower(const std::string& s) { return QString::fromStdString(s).toLower().toStdString(); }

std::string endpoint(const wex::RelayIdentity& identity) { return identity.host + ":" + std::to_string(identity.port); }

// Texts from outside (server messages, account names) are logged without control characters.
std::string safe(const std::string& s) { return AccountApi::printable(s); }

} // namespace

struct AccountService::Core : std::enable_shared_from_this<Core> {
    using View = AccountModelView;
    using Job = std::function<void(Done finished)>;

    Core(AccountHost& h, RelayConfig& c, Options o)
        : host(h), config(c), options(std::move(o)),
          scheduler(options.scheduler ? *options.scheduler : realScheduler()) {}

    AccountHost& host;
    RelayConfig& config;
    Options options;
    Scheduler& scheduler;

    mutable std::mutex grantLock;
    std::optional<Grant> currentGrant; // guarded: the pairing link reads it on the main thread

    // Owned by the account thread.
    std::unique_ptr<AccountApi> api;
    std::unique_ptr<RelayGrant> grants;
    std::unique_ptr<AccountSignIn> signIns;
    std::deque<std::pair<Job, Done>> jobs;
    bool jobRunning = false;
    bool shareInFlight = false;
    uint64_t accountEpoch = 0; // counts sign-ins and sign-outs
    bool stopping = false;
    std::map<uint64_t, std::unique_ptr<Timer>> retryTimers;
    uint64_t nextTimer = 0;

    // Last, so that it stops first: no work runs while the members above are destroyed.
    SerialQueue queue{"dovrel.account"};

    void post(std::function<void()> fn) {
        queue.post([this, fn = std::move(fn)] {
            if (!stopping) fn();
        });
    }

    std::optional<Grant> grant() const {
        const std::lock_guard guard(grantLock);
        return currentGrant;
    }
    void setGrant(std::optional<Grant> g) {
        const std::lock_guard guard(grantLock);
        currentGrant = std::move(g);
    }
    std::optional<Grant> oldGrant() const {
        auto g = grant();
        return g ? g : grants->load();
    }

    // A model change on the main thread; `then` continues back on the account thread.
    void model(AccountModelChange change, std::function<void(const View&)> then = {}) {
        if (!then) return host.updateModel(std::move(change), {});
        std::weak_ptr<Core> weak = weak_from_this();
        host.updateModel(std::move(change), [weak, then = std::move(then)](const View& view) {
            if (const auto core = weak.lock()) core->post([then, view] { then(view); });
        });
    }

    // ---- the one-at-a-time queue
    void enqueue(Job job, Done done) {
        post([this, job = std::move(job), done = std::move(done)]() mutable {
            jobs.emplace_back(std::move(job), std::move(done));
            if (!jobRunning) startNext();
        });
    }
    void startNext() {
        if (jobs.empty()) {
            jobRunning = false;
            return;
        }
        jobRunning = true;
        auto [job, done] = std::move(jobs.front());
        jobs.pop_front();
        job([this, done = std::move(done)] {
            if (done) done();
            post([this] { startNext(); });
        });
    }

    // ---- grants
    void mintGrant(double ttlHours, Done finished) {
        model({.grantBusy = true, .grantError = nil, .grantNotice = nil});
        grants->replace(oldGrant(), host.relayIdentity(), ttlHours,
                        [this, finished = std::move(finished)](RelayGrant::Result<RelayGrant::Replaced> r) {
                            if (const auto* failure = std::get_if<RelayGrant::Failure>(&r)) {
                                print("• share grant FAILED: " + safe(failure->message));
                                model({.grantBusy = false, .grantError = failure->message});
                                return finished();
                            }
                            const auto& replaced = std::get<RelayGrant::Replaced>(r);
                            setGrant(replaced.grant);
                            const std::string expiry = replaced.grant.expiryText();
                            print("• share grant issued — " + lower(expiry) + "; " +
                                  (replaced.cancelled ? std::string("any previous QR is now dead")
                                                      : "NOT cancelled: " + replaced.reason.value_or("unknown")));
                            AccountModelChange change{.grantBusy = false, .grantExpiryText = expiry};
                            if (!replaced.cancelled)
                                change.grantError =
                                    "A new QR code is ready, but " +
                                    replaced.reason.value_or("the previous one could not be cancelled") + ".";
                            change.refreshPairingURL = true;
                            model(std::move(change));
                            finished();
                        });
    }

    void ensureGrant(Done finished) {
        if (host.relayIdentity().account.empty()) return finished();
        auto thenShare = [this, finished = std::move(finished)] {
            createShareCode(false, [finished](std::optional<std::string>) { finished(); });
        };
        if (auto stored = grants->load()) {
            // Taken as it is: the relay is not asked whether it still honours it.
            setGrant(stored);
            model({.grantExpiryText = stored->expiryText(), .refreshPairingURL = true});
            return thenShare();
        }
        mintGrant(0, std::move(thenShare));
    }

    void cancelAllAccess(Done finished) {
        const wex::RelayIdentity identity = host.relayIdentity();
        if (identity.account.empty()) {
            model({.grantError = std::string(RelayGrant::notSignedIn)});
            return finished();
        }
        host.rotatePairingCode();
        model({.grantBusy = true,
               .grantError = nil,
               .grantNotice = nil,
               .shareCode = "",
               .shareCodeNote = "",
               .shareCodeExpiresAt = std::optional<int64_t>(),
               .refreshPairingURL = true},
              [this, identity, finished = std::move(finished)](const View& view) {
                  print("• pairing code rotated (cancel all access)");
                  host.dropClient();
                  const std::optional<Grant> old = oldGrant();
                  grants->replace(old, identity, view.grantTTLHours,
                                  [this, old, finished](RelayGrant::Result<RelayGrant::Replaced> r) {
                                      replacedForCancel(old, std::move(r), finished);
                                  });
              });
    }

    void replacedForCancel(const std::optional<Grant>& old, RelayGrant::Result<RelayGrant::Replaced> r, Done finished) {
        if (const auto* failure = std::get_if<RelayGrant::Failure>(&r)) {
            print("• cancel all access: the pairing code changed, but the relay did not replace the QR (" +
                  safe(failure->message) + ") — the old QR still works");
            model({.grantBusy = false,
                   .grantError = "The pairing code has changed, but the old QR code could not be cancelled (" +
                                 failure->message + "). Try again when this computer is online."});
            return finished();
        }
        const auto replaced = std::get<RelayGrant::Replaced>(std::move(r));
        setGrant(replaced.grant);
        model({.grantExpiryText = replaced.grant.expiryText(), .refreshPairingURL = true});
        createShareCode(true, [this, old, replaced, finished](std::optional<std::string> shareFailure) {
            std::vector<std::string> problems;
            if (!replaced.cancelled)
                problems.push_back(replaced.reason.value_or("the previous QR code could not be cancelled"));
            if (shareFailure) problems.push_back("a new share code could not be created (" + *shareFailure + ")");
            if (problems.empty()) {
                print("• cancel all access: QR grant " + (old ? RelayGrant::cancellableID(*old) : "(none)") +
                      " replaced by " + replaced.grant.jti + "; pairing code and share code are new; session dropped");
                model(
                    {.grantBusy = false, .grantNotice = "Old QR code and share code cancelled — new ones are ready."});
            } else {
                std::string text = "The pairing code and QR code are new, but ";
                for (std::size_t i = 0; i < problems.size(); ++i)
                    text += (i ? ", and " : "") + problems[i];
                text += ".";
                print("• cancel all access: " + safe(text));
                model({.grantBusy = false, .grantError = text});
            }
            finished();
        });
    }

    // ---- share codes
    void createShareCode(bool force, ShareDone done) {
        attemptShare(force, scheduler.now() + shareClaimWindow, std::move(done));
    }

    void attemptShare(bool force, Instant deadline, ShareDone done) {
        if (!shareInFlight) {
            shareInFlight = true;
            const uint64_t epoch = accountEpoch;
            model({.grantBusy = true, .grantError = nil, .grantNotice = nil, .shareInFlight = true},
                  [this, epoch, done = std::move(done)](const View& view) {
                      if (view.pairingURL.empty()) {
                          // A code for an empty link would lead nowhere for its whole life.
                          print("• share code not requested — the pairing link is not ready yet");
                          model({.grantBusy = false, .shareInFlight = false});
                          shareInFlight = false;
                          if (done) done(std::string(linkNotReady));
                          return;
                      }
                      requestShare(view.pairingURL, epoch, done);
                  });
            return;
        }
        if (!force) {
            if (done) done(std::nullopt);
            return;
        }
        if (scheduler.now() >= deadline) {
            if (done) done("another share code request is still running");
            return;
        }
        const uint64_t id = nextTimer++;
        retryTimers[id] = scheduler.after(shareRetryInterval, [this, id, force, deadline, done = std::move(done)] {
            ShareDone next = done;
            retryTimers.erase(id); // this callback's own timer: the clock keeps the callback alive while it runs
            attemptShare(force, deadline, std::move(next));
        });
    }

    void requestShare(const std::string& payload, uint64_t epoch, ShareDone done) {
        grants->createShareCode(
            host.relayIdentity(), payload, shareMinutes, shareUses,
            [this, payload, epoch, done = std::move(done)](RelayGrant::Result<RelayGrant::ShareCode> r) {
                std::optional<std::string> result;
                if (epoch != accountEpoch) {
                    // Signed in or out meanwhile: the answer belongs to an account this computer has left.
                    model({.grantBusy = false, .shareInFlight = false});
                } else if (const auto* failure = std::get_if<RelayGrant::Failure>(&r)) {
                    print("• share code FAILED: " + safe(failure->message));
                    model({.grantBusy = false, .grantError = failure->message, .shareInFlight = false});
                    result = failure->message;
                } else {
                    const auto& share = std::get<RelayGrant::ShareCode>(r);
                    // Whoever claims it gets the pairing code in the link: it pairs as long as the share
                    // code can be claimed, window or not.
                    host.shareCodeIssued(payload, shareLifetime);
                    // The code hands out the pairing link to whoever presents it: it stays out of the log.
                    print("• share code issued: …redacted… (30 min, 3 claims — replaced once a device pairs)");
                    model({.grantBusy = false,
                           .shareCode = share.code,
                           .shareCodeNote = "Valid for 30 minutes · pairs one device",
                           .shareCodeExpiresAt = share.expires >= 1 ? std::optional(share.expires) : std::nullopt,
                           .shareInFlight = false});
                }
                shareInFlight = false;
                if (done) done(result);
            });
    }

    // ---- sign-in and sign-out
    void signIn(const std::string& account, const std::string& password, bool create, const std::string& invite,
                Done finished) {
        model({.accountBusy = true, .accountError = nil});
        signIns->signIn(
            account, password, create, invite, [this, finished = std::move(finished)](AccountSignIn::Result r) {
                if (const auto* failure = std::get_if<AccountSignIn::Failure>(&r)) {
                    print("• sign-in FAILED: " + safe(failure->message));
                    model({.accountBusy = false, .accountError = failure->message});
                    return finished();
                }
                const auto signedIn = std::get<AccountSignIn::Account>(std::move(r));
                ++accountEpoch;
                // A grant of a former account is never put into the new account's link.
                grants->clear();
                setGrant(std::nullopt);
                const wex::RelayIdentity identity = host.reRegisterRelay(signedIn.account, signedIn.token);
                print("• signed in as " + safe(signedIn.account) + " — re-registering on " + endpoint(identity));
                ensureGrant([this, account = signedIn.account, finished] {
                    model({.account = account, .accountBusy = false, .refreshPairingURL = true});
                    finished();
                });
            });
    }

    void signOut(Done finished) {
        config.clear();
        grants->clear();
        setGrant(std::nullopt);
        ++accountEpoch;
        const wex::RelayIdentity identity = host.reRegisterRelay("", "");
        host.shareCodesWithdrawn();
        print("• signed out — back to the shared namespace on " + endpoint(identity));
        model({.grantExpiryText = "", .shareCode = "", .shareCodeNote = "", .account = "", .refreshPairingURL = true});
        finished();
    }
};

AccountService::AccountService(AccountHost& host, RelayConfig& config, Options options)
    : core_(std::make_shared<Core>(host, config, std::move(options))) {
    Core* core = core_.get();
    core->queue.sync([core] {
        core->api = std::make_unique<AccountApi>(core->options.api);
        core->grants = std::make_unique<RelayGrant>(*core->api, core->config);
        core->signIns = std::make_unique<AccountSignIn>(*core->api, core->config);
    });
}

AccountService::~AccountService() {
    Core* core = core_.get();
    core->queue.sync([core] {
        core->stopping = true;
        core->retryTimers.clear();
        core->jobs.clear();
        core->api.reset(); // abandons answers still outstanding before their handlers' owners go
        core->grants.reset();
        core->signIns.reset();
    });
}

void AccountService::mintGrant(double ttlHours, Done done) {
    Core* core = core_.get();
    core->enqueue([core, ttlHours](Done finished) { core->mintGrant(ttlHours, std::move(finished)); }, std::move(done));
}

void AccountService::cancelAllAccess(Done done) {
    Core* core = core_.get();
    core->enqueue([core](Done finished) { core->cancelAllAccess(std::move(finished)); }, std::move(done));
}

void AccountService::ensureGrant(Done done) {
    Core* core = core_.get();
    core->enqueue([core](Done finished) { core->ensureGrant(std::move(finished)); }, std::move(done));
}

void AccountService::signIn(std::string account, std::string password, bool create, std::string invite, Done done) {
    Core* core = core_.get();
    core->enqueue(
        [core, account = std::move(account), password = std::move(password), create, invite = std::move(invite)](
            Done finished) { core->signIn(account, password, create, invite, std::move(finished)); },
        std::move(done));
}

void AccountService::signOut(Done done) {
    Core* core = core_.get();
    core->enqueue([core](Done finished) { core->signOut(std::move(finished)); }, std::move(done));
}

void AccountService::createShareCode(bool force, ShareDone done) {
    Core* core = core_.get();
    core->post([core, force, done = std::move(done)]() mutable { core->createShareCode(force, std::move(done)); });
}

std::optional<RelayGrant::Grant> AccountService::grant() const { return core_->grant(); }

std::string AccountService::relayGrantQuery() const {
    return RelayGrant::relayGrantQuery(core_->host.relayIdentity().account, core_->grant());
}

SerialQueue& AccountService::queue() { return core_->queue; }

} // namespace dovrel::agent
