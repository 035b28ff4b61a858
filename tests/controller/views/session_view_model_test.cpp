// The loading overlay's values and the status pill's word for each state of the session being opened.
#include <gtest/gtest.h>

#include "controller/ui/session/SessionViewModel.h"

using namespace dovrel::controller;

TEST(LoadingStateTest, FollowsThePhaseAndPutsReconnectingFirst) {
    EXPECT_EQ(loadingStateFor(PhaseKind::connected, {}, true, "Studio").message, "Reconnecting…");
    EXPECT_EQ(loadingStateFor(PhaseKind::connected, {}, true, "Studio").progress, 0.45);
    EXPECT_EQ(loadingStateFor(PhaseKind::disconnected, {}, false, "Studio"), (LoadingState{0.08, "Starting…", {}}));
    EXPECT_EQ(loadingStateFor(PhaseKind::connecting, {}, false, " \tStudio Mac\t "),
              (LoadingState{0.30, "Reaching Studio Mac…", {}}));
    EXPECT_EQ(loadingStateFor(PhaseKind::needsCode, {}, false, "x"), (LoadingState{0.30, "Waiting to pair…", {}}));
    EXPECT_EQ(loadingStateFor(PhaseKind::handshaking, {}, false, "x"), (LoadingState{0.58, "Securing the link…", {}}));
    EXPECT_EQ(loadingStateFor(PhaseKind::connected, {}, false, "x").progress, 0.85);
    EXPECT_EQ(loadingStateFor(PhaseKind::rejected, "Wrong code.", false, "x"),
              (LoadingState{1.0, "Couldn't connect", "Wrong code."}));
}

TEST(LoadingStateTest, ABlankNameReachesThatComputer) {
    EXPECT_EQ(loadingStateFor(PhaseKind::connecting, {}, false, " \t ").message, "Reaching that computer…");
    EXPECT_EQ(loadingStateFor(PhaseKind::connecting, {}, false, "").message, "Reaching that computer…");
}

TEST(PillWordTest, EncryptedOnlyOnceTheSessionIsSealed) {
    EXPECT_EQ(pillWordFor(PhaseKind::connected, false), "encrypted");
    for (const PhaseKind phase :
         {PhaseKind::disconnected, PhaseKind::connecting, PhaseKind::needsCode, PhaseKind::handshaking})
        EXPECT_EQ(pillWordFor(phase, false), "connecting") << phaseKindName(phase);
    EXPECT_EQ(pillWordFor(PhaseKind::rejected, false), "not connected");
    EXPECT_EQ(pillWordFor(PhaseKind::connected, true), "reconnecting");
    EXPECT_EQ(pillWordFor(PhaseKind::connecting, true), "reconnecting");
}
