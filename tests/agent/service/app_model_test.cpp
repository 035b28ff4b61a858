#include <QVariant>

#include <gtest/gtest.h>

#include "../shell/FakeAgentCommands.h"
#include "AgentTestSupport.h"
#include "agent/shell/AppModel.h"

using dovrel::agent::AppModel;

TEST(AppModel, StartsWithPlaceholdersAndNotifiesOnlyRealChanges) {
    dovrel::test::qtApp();
    dovrel::test::FakeAgentCommands commands;
    AppModel m(commands, nullptr);
    EXPECT_EQ(m.pairingCode(), "------");
    EXPECT_EQ(m.statusText(), "Starting…");
    EXPECT_EQ(m.deviceName(), "Computer");
    EXPECT_TRUE(m.connectedClient().isEmpty());
    EXPECT_TRUE(m.pairingURL().isEmpty());

    int changes = 0;
    QObject::connect(&m, &AppModel::statusTextChanged, [&] { ++changes; });
    m.setStatusText("Device connecting…");
    m.setStatusText("Device connecting…");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(m.property("statusText").toString(), "Device connecting…");

    bool called = false;
    m.disconnectSession(); // nothing set: nothing happens
    commands.onDisconnectSession = [&] { called = true; };
    m.disconnectSession();
    EXPECT_TRUE(called);
}
