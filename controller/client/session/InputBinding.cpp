#include "controller/client/session/InputBinding.h"

#include <utility>

#include "controller/client/input/InputSelfTest.h"
#include "controller/client/input/RemoteInput.h"
#include "controller/client/session/WEXClient.h"

namespace dovrel::controller {

std::unique_ptr<RemoteInput> makeRemoteInput(WEXClient& client, Scheduler& clock) {
    auto input = std::make_unique<RemoteInput>(client, clock);
    QObject::connect(&client, &WEXClient::sessionEnding, input.get(), &RemoteInput::releaseHeld);
    return input;
}

std::unique_ptr<InputSelfTest> makeInputSelfTest(WEXClient& client, RemoteInput& input, Scheduler& clock,
                                                 std::shared_ptr<const UserDefaults> defaults, QStringList arguments) {
    auto test = std::make_unique<InputSelfTest>(input, client, clock);
    QObject::connect(&client, &WEXClient::sessionEstablished, test.get(),
                     [self = test.get(), defaults = std::move(defaults), arguments = std::move(arguments)] {
                         if (InputSelfTest::requested(*defaults, arguments)) self->run();
                     });
    return test;
}

} // namespace dovrel::controller
