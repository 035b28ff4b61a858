#pragma once

#include <list>
#include <memory>
#include <vector>

#include <QObject>
#include <QStringList>

#include "runtime/Scheduler.h"

namespace dovrel::controller {

class InputChannel;
class RemoteInput;
class UserDefaults;

// A fixed script of pointer moves, clicks, a scroll, text and a key, played into a session right
// after it is established, to check input on a machine nobody sits at. Main thread. Its input goes
// through RemoteInput like any other, so nothing is sent once the session has ended; a run is never
// cut short, so one still playing when the next session starts plays to its end beside the new one.
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
    struct Run {
        std::vector<std::unique_ptr<Timer>> steps;
        bool finished = false;
    };

    RemoteInput& input_;
    InputChannel& channel_;
    Scheduler& clock_;
    std::list<std::unique_ptr<Run>> runs_;
};

} // namespace dovrel::controller
