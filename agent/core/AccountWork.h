#pragma once

#include <string>

namespace dovrel::agent {

// Grants, share codes and sign-in as the agent drives them. Every call may come from any thread and
// returns at once; outcomes reach the window through the AccountHost the work was made with.
class AccountWork {
public:
    virtual ~AccountWork() = default;
    virtual void mintGrant(double ttlHours) = 0;
    virtual void cancelAllAccess() = 0;
    // Mints a grant when there is none and the agent is signed in.
    virtual void ensureGrant() = 0;
    virtual void signIn(const std::string& account, const std::string& password, bool create,
                        const std::string& invite) = 0;
    virtual void signOut() = 0;
    // `force`: wait for a request already running instead of giving way to it.
    virtual void createShareCode(bool force) = 0;
    // The pairing link's account-and-grant suffix, or empty.
    virtual std::string relayGrantQuery() const = 0;
};

} // namespace dovrel::agent
