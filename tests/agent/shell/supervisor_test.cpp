// The systemd supervisor against a stand-in systemctl first on PATH, and the real systemctl offline.

#include <atomic>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ShellTestSupport.h"
#include "agent/shell/ChildProcess.h"
#include "agent/shell/Supervisor.h"

using namespace dovrel::agent;
using namespace dovrel::test;
using Kind = Supervisor::Kind;

namespace {

Supervisor::Options optionsIn(const TempDir& home, Lines& lines) {
    Supervisor::Options o;
    o.unitDirectory = home.file(".config/systemd/user");
    o.executable = "/opt/Dovrel Agent/bin/DovrelAgent";
    o.log = lines.sink();
    return o;
}

const std::string unit = "com.quendal.dovrel.agent.service";

} // namespace

TEST(Supervisor, MapsWhatSystemdReportsToAState) {
    FakeSystemctl fake;
    TempDir home;
    Lines lines;
    Supervisor s(optionsIn(home, lines));
    struct Case {
        std::optional<std::string> word;
        Kind kind;
        std::string raw;
    };
    const Case cases[] = {
        {"enabled", Kind::active, "enabled"},        {"enabled-runtime", Kind::active, "enabled-runtime"},
        {"disabled", Kind::turnedOff, "disabled"},   {"masked", Kind::turnedOff, "masked"},
        {"linked", Kind::turnedOff, "linked"},       {"not-found", Kind::unwatched, "notFound"},
        {std::nullopt, Kind::unwatched, "notFound"}, // systemd 252 says so on standard error only
        {"static", Kind::failed, "unknown(static)"},
    };
    for (const Case& c : cases) {
        if (c.word) {
            fake.set("is-enabled", *c.word + "\n");
        } else {
            fake.clear("is-enabled");
        }
        SCOPED_TRACE(c.raw);
        const auto state = s.diagnose();
        EXPECT_EQ(state.kind, c.kind);
        EXPECT_EQ(s.rawStatusDescription(), c.raw);
        if (c.kind == Kind::failed) {
            EXPECT_EQ(state.message, "unrecognised registration state");
        }
    }
    // Without a user manager even an enabled unit is watched by nobody.
    fake.set("is-enabled", "enabled\n");
    fake.set("no-manager");
    EXPECT_EQ(s.diagnose(), (Supervisor::State{Kind::unwatched, {}, true}));
    EXPECT_EQ(s.diagnose().sentence(), "No systemd user manager runs here — nothing restarts the agent if it stops");
    EXPECT_EQ(s.rawStatusDescription(), "noUserManager");
    EXPECT_EQ(fake.count("--user enable " + unit), 0) << "diagnose registers nothing";
    EXPECT_TRUE(lines.all().empty());
}

TEST(Supervisor, RegistersAMissingUnitAndLogsEachStep) {
    FakeSystemctl fake;
    TempDir home;
    Lines lines;
    Supervisor s(optionsIn(home, lines));
    fake.set("enable-sets", "enabled\n");
    const auto state = s.ensureRegistered();
    EXPECT_EQ(state.kind, Kind::active);
    EXPECT_EQ(lines.all(), (std::vector<std::string>{
                               "• supervisor: systemd reports status notFound for " + unit,
                               "• supervisor: registered (status now enabled) — Restarts automatically if it stops",
                           }));
    EXPECT_EQ(fake.count("--user enable " + unit), 1);
    const std::string file = home.file(".config/systemd/user/" + unit);
    EXPECT_EQ(modeOf(file), 0644u);
    const std::string text = readFile(file);
    EXPECT_NE(text.find("\nExecStart=\"/opt/Dovrel Agent/bin/DovrelAgent\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nEnvironment=DOVREL_SUPERVISED=1\n"), std::string::npos);
    EXPECT_NE(text.find("\nRestart=on-failure\n"), std::string::npos);
    EXPECT_NE(text.find("\n[Install]\nWantedBy=graphical-session.target\n"), std::string::npos);

    // Registered now: a second call only reports.
    EXPECT_EQ(s.ensureRegistered().kind, Kind::active);
    EXPECT_EQ(fake.count("--user enable " + unit), 1);
}

TEST(Supervisor, TriesToRegisterAtMostThreeTimesAProcess) {
    FakeSystemctl fake; // enable "works" but the unit never shows up
    TempDir home;
    Lines lines;
    Supervisor s(optionsIn(home, lines));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(s.ensureRegistered().kind, Kind::unwatched);
    EXPECT_EQ(fake.count("--user enable " + unit), 3);
    const auto all = lines.all();
    ASSERT_EQ(all.size(), 10u);
    EXPECT_EQ(all[1], "• supervisor: registered (status now notFound) — Nothing is watching the agent — it will "
                      "not come back if it stops");
    EXPECT_EQ(all[7], "• supervisor: not retrying registration (already tried 3 times this run)");
    EXPECT_EQ(all[9], "• supervisor: not retrying registration (already tried 3 times this run)");
}

TEST(Supervisor, TheCapHoldsWhenManyThreadsRegisterAtOnce) {
    FakeSystemctl fake;
    TempDir home;
    Lines lines;
    Supervisor s(optionsIn(home, lines));
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] { s.ensureRegistered(); });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(fake.count("--user enable " + unit), 3);
}

TEST(Supervisor, AFailedRegistrationSaysWhyAndLeavesNoUnitBehind) {
    FakeSystemctl fake;
    TempDir home;
    Lines lines;
    Supervisor s(optionsIn(home, lines));
    fake.set("enable-fails", "\nFailed to enable unit: Access denied\n");
    const auto state = s.ensureRegistered();
    EXPECT_EQ(state, Supervisor::failedWith("Failed to enable unit: Access denied"));
    EXPECT_EQ(lines.all().back(), "• supervisor: could NOT register — Failed to enable unit: Access denied");
    EXPECT_FALSE(std::filesystem::exists(home.file(".config/systemd/user/" + unit)));
    // The next look sees no unit again, not a disabled one.
    EXPECT_EQ(s.diagnose().kind, Kind::unwatched);
}

TEST(Supervisor, ATurnedOffUnitIsLeftToTheUser) {
    FakeSystemctl fake;
    TempDir home;
    Lines lines;
    Supervisor s(optionsIn(home, lines));
    fake.set("is-enabled", "masked\n");
    EXPECT_EQ(s.ensureRegistered().kind, Kind::turnedOff);
    EXPECT_EQ(lines.all(), std::vector<std::string>{"• supervisor: systemd reports status masked for " + unit});
    EXPECT_EQ(fake.count("--user enable " + unit), 0);
}

TEST(Supervisor, WithoutAUserManagerAnEnabledUnitIsNotRegisteredAgain) {
    FakeSystemctl fake;
    TempDir home;
    Lines lines;
    Supervisor s(optionsIn(home, lines));
    fake.set("no-manager");
    fake.set("enable-sets", "enabled\n");
    EXPECT_EQ(s.ensureRegistered().kind, Kind::unwatched);
    EXPECT_EQ(s.ensureRegistered().kind, Kind::unwatched);
    EXPECT_EQ(fake.count("--user enable " + unit), 1) << "enabled for the next login once";
}

TEST(Supervisor, ReadsTheMainProcessAndTellsASupervisedProcess) {
    EXPECT_EQ(Supervisor::parseMainPid("Id=x\n\tMainPID=812 \nMainPID=9\n"), 812);
    EXPECT_EQ(Supervisor::parseMainPid("MainPID=0\n"), std::nullopt);
    EXPECT_EQ(Supervisor::parseMainPid("MainPID=+77\n"), 77);
    EXPECT_EQ(Supervisor::parseMainPid("MainPID=12x\nMainPID=5\n"), std::nullopt); // later lines are not tried
    EXPECT_EQ(Supervisor::parseMainPid("MainPID=99999999999\n"), std::nullopt);
    EXPECT_EQ(Supervisor::parseMainPid("MainPID=\n"), std::nullopt);
    EXPECT_EQ(Supervisor::parseMainPid("ActiveState=active\n"), std::nullopt);

    FakeSystemctl fake;
    TempDir home;
    Lines lines;
    Supervisor s(optionsIn(home, lines));
    fake.set("mainpid", "caller");
    EXPECT_EQ(s.managerPid(), static_cast<int32_t>(::getpid()));

    ::unsetenv("DOVREL_SUPERVISED");
    EXPECT_FALSE(s.isSupervisedProcess());
    for (const char* notOne : {"true", "01", "1 ", ""}) {
        ::setenv("DOVREL_SUPERVISED", notOne, 1);
        EXPECT_FALSE(s.isSupervisedProcess()) << notOne;
    }
    EXPECT_EQ(fake.count("--user show --property=MainPID " + unit), 1) << "systemd is asked only for \"1\"";
    ::setenv("DOVREL_SUPERVISED", "1", 1);
    EXPECT_TRUE(s.isSupervisedProcess());
    fake.set("mainpid", "1");
    EXPECT_FALSE(s.isSupervisedProcess()) << "the variable alone is not enough";
    fake.set("mainpid", "0");
    EXPECT_FALSE(s.isSupervisedProcess());
    ::unsetenv("DOVREL_SUPERVISED");
}

TEST(Supervisor, KickstartIsTrueOnlyWhenSystemctlSucceedsInTime) {
    FakeSystemctl fake;
    TempDir home;
    Lines lines;
    auto options = optionsIn(home, lines);
    options.timeout = 300ms;
    Supervisor s(options);
    EXPECT_TRUE(s.kickstart());
    fake.set("start-status", "1");
    EXPECT_FALSE(s.kickstart());
    fake.set("start-status", "0");
    fake.set("hang");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(s.kickstart());
    EXPECT_EQ(s.managerPid(), std::nullopt);
    EXPECT_EQ(s.diagnose().kind, Kind::unwatched) << "a manager that does not answer in time watches nothing";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST(Supervisor, WithoutSystemctlNothingWatchesAndRegistrationSaysSo) {
    TempDir home;
    Lines lines;
    auto options = optionsIn(home, lines);
    options.systemctl = home.file("no-systemctl-here");
    Supervisor s(options);
    EXPECT_EQ(s.diagnose().kind, Kind::unwatched);
    EXPECT_EQ(s.ensureRegistered(), Supervisor::failedWith("systemctl cannot be run on this computer"));
    EXPECT_FALSE(s.kickstart());
    EXPECT_EQ(s.managerPid(), std::nullopt);
}

TEST(Supervisor, QuotesTheProgramForTheUnitFile) {
    EXPECT_EQ(Supervisor::quoteForExecStart("/usr/bin/DovrelAgent"), "\"/usr/bin/DovrelAgent\"");
    EXPECT_EQ(Supervisor::quoteForExecStart("/a b/100%/$HOME/\"q\"\\"), "\"/a b/100%%/$$HOME/\\\"q\\\"\\\\\"");
}

TEST(Supervisor, AnEnabledUnitWhoseProgramIsGoneIsPointedAtThisOne) {
    FakeSystemctl fake;
    TempDir home;
    Lines lines;
    Supervisor s(optionsIn(home, lines));
    const std::string file = home.file(".config/systemd/user/" + unit);
    writeFile(file, Supervisor::unitFileText(home.file("build/agent/DovrelAgent")));
    fake.set("is-enabled", "enabled\n");
    EXPECT_EQ(s.ensureRegistered().kind, Kind::active);
    EXPECT_EQ(Supervisor::programOfUnit(readFile(file)), "/opt/Dovrel Agent/bin/DovrelAgent");
    EXPECT_EQ(fake.count("--user daemon-reload"), 1);
    EXPECT_EQ(fake.count("--user enable " + unit), 0) << "still enabled: only its program changed";
    EXPECT_EQ(lines.all().back(), "• supervisor: the unit started " + home.file("build/agent/DovrelAgent") +
                                      ", which is gone — it now starts /opt/Dovrel Agent/bin/DovrelAgent");

    // A unit whose program is there is the user's choice, whichever copy runs now.
    writeFile(file, Supervisor::unitFileText("/bin/sh"));
    EXPECT_EQ(s.ensureRegistered().kind, Kind::active);
    EXPECT_EQ(Supervisor::programOfUnit(readFile(file)), "/bin/sh");
    EXPECT_EQ(fake.count("--user daemon-reload"), 1);
    // Not enabled (turned off by the user): left alone even when its program is gone.
    writeFile(file, Supervisor::unitFileText(home.file("gone")));
    fake.set("is-enabled", "disabled\n");
    EXPECT_EQ(s.ensureRegistered().kind, Kind::turnedOff);
    EXPECT_EQ(Supervisor::programOfUnit(readFile(file)), home.file("gone"));
}

TEST(Supervisor, ReadsTheProgramBackFromAUnitFile) {
    const std::string odd = "/a b/100%/$HOME/\"q\"\\x";
    EXPECT_EQ(Supervisor::programOfUnit(Supervisor::unitFileText(odd)), odd);
    EXPECT_EQ(Supervisor::programOfUnit("[Service]\nExecStart=-/usr/bin/agent --flag\n"), "/usr/bin/agent");
    EXPECT_EQ(Supervisor::programOfUnit("[Service]\nExecStart=\n"), std::nullopt);
    EXPECT_EQ(Supervisor::programOfUnit("[Service]\nType=simple\n"), std::nullopt);
}

// The real systemctl enables the unit from the files alone when no user manager runs (as on CI, where
// systemd is not process 1). HOME and XDG_CONFIG_HOME point into a temporary folder.
TEST(Supervisor, RealSystemctlEnablesTheUnitOfflineInATemporaryHome) {
    if (findOnPath("systemctl").empty()) GTEST_SKIP() << "systemctl is not installed here";
    TempDir home;
    ::setenv("HOME", home.str().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", home.file(".config").c_str(), 1);
    // A running user manager would act on the real session, not on the temporary folder.
    const auto probe = runChildProcess("systemctl", {"--user", "show", "--property=Version"});
    if (probe.succeeded()) GTEST_SKIP() << "a user manager runs here; enabling would touch the real session";

    Lines lines;
    Supervisor::Options options;
    options.log = lines.sink();
    options.executable = "/usr/bin/DovrelAgent";
    Supervisor s(options);
    EXPECT_EQ(s.diagnose().kind, Kind::unwatched);
    const auto state = s.ensureRegistered();
    if (state.kind == Kind::failed) GTEST_SKIP() << "systemctl cannot enable offline here: " << state.message;
    EXPECT_EQ(state.kind, Kind::unwatched) << "enabled for the next login, but nothing runs it now";
    const std::string unitFile = home.file(".config/systemd/user/" + unit);
    EXPECT_EQ(s.unitFilePath(), unitFile);
    EXPECT_TRUE(std::filesystem::exists(unitFile));
    EXPECT_TRUE(std::filesystem::is_symlink(home.file(".config/systemd/user/graphical-session.target.wants/" + unit)));
    const auto enabled = runChildProcess("systemctl", {"--user", "is-enabled", unit});
    EXPECT_EQ(enabled.out, "enabled\n") << enabled.err;
    EXPECT_EQ(lines.all().back(),
              "• supervisor: registered (status now noUserManager) — No systemd user manager runs here — nothing "
              "restarts the agent if it stops");
}
