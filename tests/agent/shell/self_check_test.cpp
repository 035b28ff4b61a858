// The self-check: its boundaries, its repairs (reported only when they took) and its exact report.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ShellTestSupport.h"
#include "agent/common/AgentLog.h"
#include "agent/shell/SelfCheck.h"

using namespace dovrel::agent;
using namespace dovrel::test;
using Severity = Doctor::Severity;
using Finding = Doctor::Finding;

TEST(SelfCheck, FreeDiskSpaceBoundaries) {
    const std::string act = "free some space — below this the agent cannot save pairings or write a crash report";
    EXPECT_EQ(Doctor::diskSpaceCheck(200'000'000), (Finding{Severity::warn, "200 MB of disk left", "", ""}));
    EXPECT_EQ(Doctor::diskSpaceCheck(199'999'999), (Finding{Severity::bad, "Only 199 MB of disk left", "", act}));
    EXPECT_EQ(Doctor::diskSpaceCheck(1'000'000'000), (Finding{Severity::ok, "Disk space is fine (1 GB free)", "", ""}));
    EXPECT_EQ(Doctor::diskSpaceCheck(999'999'999), (Finding{Severity::warn, "999 MB of disk left", "", ""}));
    EXPECT_EQ(Doctor::diskSpaceCheck(0), (Finding{Severity::bad, "Only 0 MB of disk left", "", act}))
        << "a full disk is the worst case, not an unknown one";
    EXPECT_EQ(Doctor::diskSpaceCheck(std::nullopt),
              (Finding{Severity::warn, "Could not read free disk space", "", ""}));
    EXPECT_EQ(Doctor::diskSpaceCheck(1'234'567'890'123).title, "Disk space is fine (1234 GB free)");

    TempDir dir;
    const auto free = Doctor::freeDiskBytes(dir.str());
    ASSERT_TRUE(free);
    EXPECT_GT(*free, 0);
    EXPECT_EQ(Doctor::freeDiskBytes(dir.file("missing")), std::nullopt);
}

TEST(SelfCheck, ALogOfExactlyTheCapIsFineAndOneByteMoreIsRotated) {
    TempDir home;
    const std::string log = home.file(".dovrel-agent.log");
    const std::string previous = log + ".1";
    writeFile(log, std::string(8388608, 'x'));
    bool rotated = false;
    EXPECT_EQ(Doctor::logSizeCheck(log, previous, [&] { rotated = true; }),
              (Finding{Severity::ok, "Log size is fine (8 MB)", "", ""}));
    EXPECT_FALSE(rotated);

    writeFile(log, std::string(8388609, 'x'));
    writeFile(previous, "older generation");
    {
        StdStreamsGuard keepTestOutput; // the rotation reopens the log onto standard output
        EXPECT_EQ(Doctor::logSizeCheck(log, previous, [&] { AgentLog::rotateIfNeeded(log, previous); }),
                  (Finding{Severity::ok, "Log was over the 8 MB cap", "rotated it to " + previous, ""}));
    }
    EXPECT_EQ(std::filesystem::file_size(previous), 8388609u);
    const std::string fresh = readFile(log);
    EXPECT_NE(fresh.find("• log rotated at 8 MB — the previous one is at " + previous + "\n"), std::string::npos);
    EXPECT_EQ(Doctor::logSizeCheck(home.file("missing.log"), previous, {}).title, "Log size is fine (0 MB)");
}

TEST(SelfCheck, ARotationThatDidNotHappenIsNotReportedAsARepair) {
    TempDir home;
    const std::string log = home.file(".dovrel-agent.log");
    writeFile(log, std::string(8388609, 'x'));
    const Finding f = Doctor::logSizeCheck(log, log + ".1", [] {});
    EXPECT_EQ(f.severity, Severity::warn);
    EXPECT_EQ(f.title, "Log is over the 8 MB cap and could not be rotated");
    EXPECT_TRUE(f.repaired.empty());
    EXPECT_EQ(f.action, "make sure " + home.str() + " is writable");
}

TEST(SelfCheck, TheIdentityFileIsTightenedTo0600AndReadOnlyIsLeftAlone) {
    TempDir home;
    const std::string key = home.file(".dovrel/agent.key");
    EXPECT_EQ(Doctor::identityCheck(key),
              (Finding{Severity::warn, "No device identity yet — this computer has not been paired", "", ""}));
    writeFile(key, std::string(32, 'k'));
    ::chmod(key.c_str(), 0644);
    EXPECT_EQ(Doctor::identityCheck(key),
              (Finding{Severity::ok, "Device identity present",
                       "tightened ~/.dovrel/agent.key to 0600 — it was readable by other accounts", ""}));
    EXPECT_EQ(modeOf(key), 0600u);
    EXPECT_EQ(Doctor::identityCheck(key), (Finding{Severity::ok, "Device identity present and private", "", ""}));
    ::chmod(key.c_str(), 0400);
    EXPECT_EQ(Doctor::identityCheck(key).title, "Device identity present and private");
    EXPECT_EQ(modeOf(key), 0400u);

    if (::geteuid() != 0) {
        ::chmod(key.c_str(), 0000);
        const Finding f = Doctor::identityCheck(key);
        EXPECT_EQ(f.severity, Severity::bad);
        EXPECT_EQ(f.title, "The device identity exists but cannot be read");
        EXPECT_EQ(f.action, "fix the permissions on ~/.dovrel/agent.key — do NOT delete it, deleting it unpairs every "
                            "device you own");
    }
}

TEST(SelfCheck, CrashesOfEarlierRunsAreAWarningUntilTheReportsAreGone) {
    EXPECT_EQ(Doctor::crashCheck(std::nullopt), (Finding{Severity::ok, "No crash reports from previous runs", "", ""}));
    EXPECT_EQ(Doctor::crashCheck("/home/u/.dovrel/crashes/DovrelAgent-1.crash"),
              (Finding{Severity::warn, "This agent crashed on a previous run", "",
                       "send /home/u/.dovrel/crashes/DovrelAgent-1.crash if you are reporting a problem — it holds a "
                       "stack trace and no screen or clipboard contents. Nothing is uploaded from here."}));
}

TEST(SelfCheck, TheSupervisorCheckRepairsOnlyWhenAskedAndAtMostThreeTimes) {
    FakeSystemctl fake;
    TempDir home;
    Lines lines;
    Supervisor::Options options;
    options.unitDirectory = home.file("units");
    options.executable = "/usr/bin/DovrelAgent";
    options.log = lines.sink();
    Supervisor supervisor(options);
    const std::string unit = "com.quendal.dovrel.agent.service";
    const std::string reinstall = "reinstall Dovrel Agent, then start it once from your desktop";

    EXPECT_EQ(
        Doctor::supervisorCheck(supervisor, false),
        (Finding{Severity::bad, "Nothing is watching the agent — it will not come back if it stops", "", reinstall}));
    EXPECT_EQ(fake.count("--user enable " + unit), 0);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Doctor::supervisorCheck(supervisor, true).severity, Severity::bad);
    EXPECT_EQ(fake.count("--user enable " + unit), 3);

    Supervisor fresh(options);
    fake.set("enable-sets", "enabled\n");
    EXPECT_EQ(Doctor::supervisorCheck(fresh, true),
              (Finding{Severity::ok, "Restarts automatically if it stops",
                       "registered the systemd user unit, so systemd restarts the agent if it stops", ""}));
    EXPECT_EQ(Doctor::supervisorCheck(fresh, true),
              (Finding{Severity::ok, "Restarts automatically if it stops", "", ""}));
    fake.set("is-enabled", "disabled\n");
    EXPECT_EQ(Doctor::supervisorCheck(fresh, true),
              (Finding{Severity::warn, "Turned off in the systemd user services — it will not restart itself", "",
                       "turn it back on: systemctl --user enable " + unit}));
    fake.set("is-enabled", "bad\n");
    EXPECT_EQ(
        Doctor::supervisorCheck(fresh, true),
        (Finding{Severity::bad, "Could not set up automatic restart: unrecognised registration state", "", reinstall}));

    // Without a user manager reinstalling changes nothing: the advice says what is true.
    fake.set("is-enabled", "enabled\n");
    fake.set("no-manager");
    const Finding noManager = Doctor::supervisorCheck(fresh, true);
    EXPECT_EQ(noManager.severity, Severity::bad);
    EXPECT_EQ(noManager.title, "No systemd user manager runs here — nothing restarts the agent if it stops");
    EXPECT_EQ(noManager.action.find("reinstall"), std::string::npos) << noManager.action;
    EXPECT_NE(noManager.action.find("systemctl --user status"), std::string::npos) << noManager.action;
    // Nor when enabling the unit for a later login fails as well.
    Supervisor unregistered(options);
    fake.clear("is-enabled");
    fake.clear("enable-sets");
    fake.set("enable-fails", "Failed to connect to bus: No medium found\n");
    EXPECT_EQ(Doctor::supervisorCheck(unregistered, true), noManager);
}

TEST(SelfCheck, ExamineGivesFiveFindingsInOrderAndTheReportPrintsExactly) {
    FakeSystemctl fake;
    fake.set("is-enabled", "enabled\n");
    TempDir home;
    Lines lines;
    Supervisor::Options options;
    options.log = lines.sink();
    Supervisor supervisor(options);
    writeFile(home.file(".dovrel/agent.key"), std::string(32, 'k'));
    ::chmod(home.file(".dovrel/agent.key").c_str(), 0640);
    writeFile(home.file("log"), std::string(3 << 20, 'x'));

    Doctor::Environment env;
    env.home = home.str();
    env.logPath = home.file("log");
    env.previousLogPath = home.file("log.1");
    env.supervisor = &supervisor;
    env.freeBytes = [] { return std::optional<int64_t>(450'000'000); };
    env.newestCrashReport = [] { return std::optional<std::string>("/r/DovrelAgent-1.crash"); };
    const Doctor::Report report = Doctor::examine(true, env);
    ASSERT_EQ(report.findings.size(), 5u);
    EXPECT_EQ(report.worst(), Severity::warn);

    Lines out;
    Doctor::log(report, out.sink());
    const std::vector<std::string> expected = {
        "── agent self-check ─────────────────────────────────────────",
        "  ✓ Restarts automatically if it stops",
        "  ✓ Device identity present",
        "      repaired: tightened ~/.dovrel/agent.key to 0600 — it was readable by other accounts",
        "  ! 450 MB of disk left",
        "  ✓ Log size is fine (3 MB)",
        "  ! This agent crashed on a previous run",
        "      you:      send /r/DovrelAgent-1.crash if you are reporting a problem — it holds a stack trace and no "
        "screen or clipboard contents. Nothing is uploaded from here.",
        "─────────────────────────────────────────────────────────────",
    };
    EXPECT_EQ(out.all(), expected);
    // Both rules are 61 characters wide.
    EXPECT_EQ(QString::fromStdString(expected.front()).size(), 61);
    EXPECT_EQ(QString::fromStdString(expected.back()).size(), 61);
}

TEST(SelfCheck, TheWorstSeverityWinsAndBothLabelsLineUp) {
    Doctor::Report r;
    EXPECT_EQ(r.worst(), Severity::ok);
    r.findings = {{Severity::warn, "b", "", ""}, {Severity::bad, "T", "R", "A"}, {Severity::ok, "c", "", ""}};
    EXPECT_EQ(r.worst(), Severity::bad);
    const auto lines = Doctor::lines(r);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.begin() + 5),
              (std::vector<std::string>{"  ✗ T", "      repaired: R", "      you:      A"}));
}
