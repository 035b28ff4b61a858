#include <csignal>
#include <sstream>

#include <gtest/gtest.h>

#include "../../support/ChildProcess.h"
#include "AccountsTestSupport.h"
#include "agent/accounts/AccountSignIn.h"

using namespace dovrel;
using namespace dovrel::agent;
using namespace dovrel::test;

namespace {

// What the program prints once it listens: "port N", "ca FILE" and "token NAME TOKEN" per account.
struct Announced {
    uint16_t port = 0;
    std::string caFile;
    std::map<std::string, std::string> tokens;
};

std::optional<Announced> awaitAnnouncement(const std::string& outFile, std::size_t accounts) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < end) {
        Announced a;
        std::istringstream in(readText(outFile));
        for (std::string word; in >> word;) {
            if (word == "port") {
                in >> a.port;
            } else if (word == "ca") {
                in >> a.caFile;
            } else if (word == "token") {
                std::string name, token;
                in >> name >> token;
                if (!token.empty()) a.tokens[name] = token;
            }
        }
        if (a.port && !a.caFile.empty() && a.tokens.size() == accounts) return a;
        std::this_thread::sleep_for(10ms);
    }
    return std::nullopt;
}

} // namespace

TEST(AccountApiProgram, ServesTheAgentFromItsOwnProcessAndStopsOnSigterm) {
    qtApp();
    TempDir dir;
    ChildProcess::Options options;
    options.logFile = dir.file("out.txt");
    ChildProcess program({DOVREL_TEST_ACCOUNTAPI, "--dir", dir.file("certs"), "--account", "amy:pw"}, options);
    const auto announced = awaitAnnouncement(options.logFile, 1);
    ASSERT_TRUE(announced) << readText(options.logFile);

    RelayConfig config(dir.file("config"));
    std::filesystem::create_directories(config.directory());
    writeText(
        config.path(),
        QJsonDocument(QJsonObject{{"apiHost", "127.0.0.1"}, {"apiPort", announced->port}}).toJson().toStdString());
    SerialQueue queue("test.account");
    std::unique_ptr<AccountApi> client;
    std::unique_ptr<AccountSignIn> signIns;
    queue.sync([&] {
        AccountApi::Options o;
        o.caFile = announced->caFile;
        client = std::make_unique<AccountApi>(o);
        signIns = std::make_unique<AccountSignIn>(*client, config);
    });
    const auto result =
        runOn<AccountSignIn::Result>(queue, [&](auto done) { signIns->signIn("amy", "pw", false, "", done); });
    queue.sync([&] {
        client.reset();
        signIns.reset();
    });
    ASSERT_TRUE(result);
    ASSERT_TRUE(std::holds_alternative<AccountSignIn::Account>(*result));
    EXPECT_EQ(std::get<AccountSignIn::Account>(*result).token, announced->tokens.at("amy"));

    ::kill(program.pid(), SIGTERM);
    EXPECT_EQ(program.wait(5s), 0) << readText(options.logFile);
}
