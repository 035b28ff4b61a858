#pragma once

#include "agent/accounts/AccountService.h"
#include "agent/core/AccountWork.h"

namespace dovrel::agent {

// The account service as the agent drives it. Trusts the extra certificates named by
// DOVREL_TEST_CA_FILE, for tests that run their own account API.
class AgentAccounts final : public AccountWork {
public:
    AgentAccounts(AccountHost& host, RelayConfig& config);

    void mintGrant(double ttlHours) override { service_.mintGrant(ttlHours); }
    void cancelAllAccess() override { service_.cancelAllAccess(); }
    void ensureGrant() override { service_.ensureGrant(); }
    void signIn(const std::string& account, const std::string& password, bool create,
                const std::string& invite) override {
        service_.signIn(account, password, create, invite);
    }
    void signOut() override { service_.signOut(); }
    void createShareCode(bool force) override { service_.createShareCode(force); }
    std::string relayGrantQuery() const override { return service_.relayGrantQuery(); }

private:
    static AccountService::Options options();
    AccountService service_;
};

} // namespace dovrel::agent
