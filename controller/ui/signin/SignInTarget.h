#pragma once

#include "controller/services/RelayAccount.h"

namespace dovrel::controller {

// Who presents the sign-in sheet and decides what follows it: the window's root. Main thread.
class SignInTarget {
public:
    virtual ~SignInTarget() = default;

    // After each successful sign-in or new account, once its session is stored.
    virtual void signedIn(const RelayAccount::Session& session) = 0;
    // "Not now".
    virtual void signInSkipped() = 0;
};

} // namespace dovrel::controller
