#include <gtest/gtest.h>

#include "agent/desktop/ClipboardOffers.h"

// The echo of the controller's own text is held back until something else was copied here.
TEST(ClipboardOffers, TheControllersTextGoesBackOnceOtherTextWasCopiedHere) {
    std::vector<std::string> sent;
    dovrel::agent::ClipboardOffers offers([&](const std::string& text) { sent.push_back(text); });
    offers.fromController("Grüße ✓ 日本");
    offers.offer("Grüße ✓ 日本");
    offers.offer("copied here");
    offers.offer("Grüße ✓ 日本");
    offers.fromController("second");
    offers.offer("second");
    EXPECT_EQ(sent, (std::vector<std::string>{"copied here", "Grüße ✓ 日本"}));
}
