#pragma once

#include <memory>
#include <vector>

#include <QObject>
#include <QStringList>

#include "runtime/Scheduler.h"

namespace dovrel::controller {

class InputChannel;
class RemoteInput;
class UserDefaults;
class WEXClient;

// A fixed script of pointer moves, clicks, a scroll, text and a key, played into a session right
// after it is established, to check input on a machine nobody sits at. Main thread. Its input goes
// through RemoteInput like any other, so nothing is sent once the session has ended; a new session
// starts the script afresh and drops what was left of the last run.
class InputSelfTest : public QObject {
    Q_OBJECT

public:
    InputSelfTest(RemoteInput& input, InputChannel& channel, Scheduler& clock, QObject* parent = nullptr);
    ~InputSelfTest() override;

    // Says so in the status line and plays the script over the next 3.7 s.
    void run();

    // Whether the launch asks for it ("-inputSelfTest", alone or followed by a true word) or the
    // "inputSelfTest" setting is true ("1", "true" or "yes", in any case).
    static bool requested(const UserDefaults& defaults, const QStringList& arguments);

private:
    RemoteInput& input_;
    InputChannel& channel_;
    Scheduler& clock_;
    std::vector<std::unique_ptr<Timer>> steps_;
};

// The self-test, run at every session `client` establishes.
std::unique_ptr<InputSelfTest> makeInputSelfTest(WEXClient& client, RemoteInput& input, Scheduler& clock);

} // namespace dovrel::controller
