#pragma once

#include <memory>

#include <QStringList>

#include "runtime/Scheduler.h"

namespace dovrel::controller {

class InputSelfTest;
class RemoteInput;
class UserDefaults;
class WEXClient;

// The client's input, wired to it: the held keys are let go of before the client ends a session.
std::unique_ptr<RemoteInput> makeRemoteInput(WEXClient& client, Scheduler& clock);

// The self-test, run at a session `client` establishes when `requested` says so at that moment (the
// launch's argument or the setting as it stands then).
std::unique_ptr<InputSelfTest> makeInputSelfTest(WEXClient& client, RemoteInput& input, Scheduler& clock,
                                                 std::shared_ptr<const UserDefaults> defaults, QStringList arguments);

} // namespace dovrel::controller
