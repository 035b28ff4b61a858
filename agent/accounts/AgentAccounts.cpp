#include "agent/accounts/AgentAccounts.h"

#include <cstdlib>

namespace dovrel::agent {

AgentAccounts::AgentAccounts(AccountHost& host, RelayConfig& config) : service_(host, config, options()) {}

AccountService::Options AgentAccounts::options() {
    AccountService::Options options;
    if (const char* ca = std::getenv("DOVREL_TEST_CA_FILE"); ca && *ca) options.api.caFile = ca;
    return options;
}

} // namespace dovrel::agent
