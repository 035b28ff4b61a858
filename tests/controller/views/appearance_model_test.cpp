// The window's appearance: the stored choice, the desktop's scheme for anything else, the deck's
// toggle, and changes of the desktop's scheme followed at once.
#include <QSignalSpy>

#include <gtest/gtest.h>

#include "../../support/TempHome.h"
#include "controller/ui/look/AppearanceModel.h"

using namespace dovrel::controller;

namespace {

class FakeScheme final : public ColorSchemeSource {
public:
    ColorScheme current() const override { return scheme; }
    void set(ColorScheme s) {
        scheme = s;
        emit changed();
    }
    ColorScheme scheme = ColorScheme::light;
};

struct AppearanceFixture : ::testing::Test {
    dovrel::test::TempDir dir;
    std::shared_ptr<UserDefaults> defaults = std::make_shared<UserDefaults>(dir.file("c.ini"));
    FakeScheme desktop;
};

} // namespace

TEST_F(AppearanceFixture, NothingStoredIsDark) {
    AppearanceModel m(defaults, desktop);
    EXPECT_TRUE(m.dark());
    EXPECT_EQ(m.preference(), "dark");
}

TEST_F(AppearanceFixture, LightAndDarkAreExactWordsAnythingElseFollowsTheDesktop) {
    for (const auto& [stored, dark] : std::vector<std::pair<std::string, bool>>{
             {"light", false}, {"dark", true}, {"Dark", false}, {"", false}, {"system", false}}) {
        defaults->setString(AppearanceModel::key, stored);
        AppearanceModel m(defaults, desktop);
        EXPECT_EQ(m.dark(), dark) << stored;
    }
    defaults->setString(AppearanceModel::key, "Dark");
    AppearanceModel m(defaults, desktop);
    QSignalSpy spy(&m, &AppearanceModel::darkChanged);
    desktop.set(ColorScheme::dark);
    EXPECT_TRUE(m.dark());
    EXPECT_EQ(spy.count(), 1);
}

TEST_F(AppearanceFixture, AChosenSchemeIgnoresTheDesktop) {
    defaults->setString(AppearanceModel::key, "light");
    AppearanceModel m(defaults, desktop);
    desktop.set(ColorScheme::dark);
    EXPECT_FALSE(m.dark());
}

TEST_F(AppearanceFixture, TheToggleWritesTheOtherWordAndAppliesIt) {
    AppearanceModel m(defaults, desktop);
    QSignalSpy spy(&m, &AppearanceModel::darkChanged);
    m.toggle();
    EXPECT_EQ(defaults->string(AppearanceModel::key), "light");
    EXPECT_FALSE(m.dark());
    m.toggle();
    EXPECT_EQ(defaults->string(AppearanceModel::key), "dark");
    EXPECT_TRUE(m.dark());
    EXPECT_EQ(spy.count(), 2);
    // Anything but "light" toggles to "light".
    defaults->setString(AppearanceModel::key, "sepia");
    AppearanceModel other(defaults, desktop);
    other.toggle();
    EXPECT_EQ(defaults->string(AppearanceModel::key), "light");
}
