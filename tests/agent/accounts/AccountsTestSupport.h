#pragma once

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <gtest/gtest.h>

#include "../../support/TempHome.h"
#include "agent/accounts/AccountApi.h"
#include "agent/accounts/AccountService.h"
#include "agent/core/AccountHost.h"
#include "agent/core/RelayConfig.h"
#include "runtime/SerialQueue.h"
#include "tests/support/accountapi/AccountApiDouble.h"

namespace dovrel::test {

using namespace std::chrono_literals;

inline QCoreApplication& qtApp() {
    static int argc = 1;
    static char arg0[] = "agent_accounts_tests";
    static char* argv[] = {arg0, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

inline QJsonObject jsonFile(const std::string& path) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(readText(path))).object();
}

// Everything the code under test prints (descriptor 1) goes into a file while this object lives; a
// failing test gets it echoed on standard error.
class LogCapture {
public:
    LogCapture() : path_(dir_.file("agent.log")) {
        std::fflush(stdout);
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, 1);
        ::close(fd);
    }
    ~LogCapture() {
        std::fflush(stdout);
        guard_.reset();
        if (::testing::Test::HasFailure()) std::fprintf(stderr, "---- agent log ----\n%s----\n", text().c_str());
    }
    std::string text() const { return readText(path_); }
    bool contains(const std::string& s) const { return text().find(s) != std::string::npos; }
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::string all = text();
        std::size_t at = 0;
        while (at < all.size()) {
            const std::size_t end = all.find('\n', at);
            std::string line = all.substr(at, end - at);
            // Drop the time stamp "MM-dd HH:mm:ss.SSS ".
            out.push_back(line.size() > 19 ? line.substr(19) : line);
            if (end == std::string::npos) break;
            at = end + 1;
        }
        return out;
    }
    bool hasLine(const std::string& exact) const {
        for (const auto& l : lines())
            if (l == exact) return true;
        return false;
    }

private:
    TempDir dir_;
    std::string path_;
    std::unique_ptr<StdStreamsGuard> guard_ = std::make_unique<StdStreamsGuard>();
};

// Waits for callbacks that run on other threads.
template <typename T> class Awaited {
public:
    Awaited() : promise_(std::make_shared<std::promise<T>>()), future_(promise_->get_future()) {}
    std::function<void(T)> callback() {
        return [p = promise_](T value) { p->set_value(std::move(value)); };
    }
    std::optional<T> get(std::chrono::milliseconds timeout = 15s) {
        if (future_.wait_for(timeout) != std::future_status::ready) return std::nullopt;
        return future_.get();
    }

private:
    std::shared_ptr<std::promise<T>> promise_;
    std::future<T> future_;
};

class Latch {
public:
    std::function<void()> callback() {
        return [p = promise_] { p->set_value(); };
    }
    bool wait(std::chrono::milliseconds timeout = 15s) {
        return future_.wait_for(timeout) == std::future_status::ready;
    }

private:
    std::shared_ptr<std::promise<void>> promise_ = std::make_shared<std::promise<void>>();
    std::future<void> future_ = promise_->get_future();
};

// The agent around the account work: a relay identity, a pairing code, a client that can be dropped and
// the window's model on a "main" thread of its own.
class FakeAccountHost final : public agent::AccountHost {
public:
    struct Model {
        bool grantBusy = false;
        std::optional<std::string> grantError;
        std::optional<std::string> grantNotice;
        std::string grantExpiryText;
        std::string shareCode;
        std::string shareCodeNote;
        std::optional<int64_t> shareCodeExpiresAt;
        bool shareInFlight = false;
        std::string account;
        bool accountBusy = false;
        std::optional<std::string> accountError;
        std::string pairingURL;
        double grantTTLHours = 0;
        int refreshes = 0;
    };

    explicit FakeAccountHost(wex::RelayIdentity identity) : identity_(std::move(identity)) {}

    void attach(const agent::AccountService* service) {
        main_.sync([&] { service_ = service; });
    }

    wex::RelayIdentity relayIdentity() const override {
        const std::lock_guard g(lock_);
        return identity_;
    }

    wex::RelayIdentity reRegisterRelay(const std::string& account, const std::string& token) override {
        const std::lock_guard g(lock_);
        identity_.account = account;
        identity_.token = token;
        registrations_.push_back({account, token, QThread::currentThread()->objectName().toStdString()});
        return identity_;
    }

    void rotatePairingCode() override {
        const std::lock_guard g(lock_);
        std::random_device rd;
        char code[8];
        std::snprintf(code, sizeof code, "%06u", static_cast<unsigned>(rd() % 1000000));
        pairingCode_ = code;
        ++rotations_;
    }

    void dropClient() override {
        const std::lock_guard g(lock_);
        ++drops_;
    }

    // The links share codes were said to hand out, in order; an empty one for a withdrawal.
    void shareCodeIssued(const std::string& payload, std::chrono::seconds) override {
        const std::lock_guard g(lock_);
        shared_.push_back(payload);
    }
    void shareCodesWithdrawn() override { shareCodeIssued({}, {}); }

    void updateModel(agent::AccountModelChange change,
                     std::function<void(const agent::AccountModelView&)> then) override {
        {
            const std::lock_guard g(lock_);
            callerThreads_.push_back(QThread::currentThread()->objectName().toStdString());
        }
        main_.post([this, change, then] {
            apply(change);
            changes_.push_back(change);
            if (then) then({model_.pairingURL, model_.grantTTLHours});
        });
    }

    Model model() const {
        Model m;
        main_.sync([&] { m = model_; });
        return m;
    }
    std::vector<agent::AccountModelChange> changes() const {
        std::vector<agent::AccountModelChange> c;
        main_.sync([&] { c = changes_; });
        return c;
    }
    void setGrantTTLHours(double hours) {
        main_.sync([&] { model_.grantTTLHours = hours; });
    }
    void setShareCode(const std::string& code) {
        main_.sync([&] { model_.shareCode = code; });
    }
    // Builds the first link, as start-up does.
    void refreshNow() {
        main_.sync([&] { refresh(); });
    }

    struct Registration {
        std::string account;
        std::string token;
        std::string thread;
    };
    std::vector<Registration> registrations() const {
        const std::lock_guard g(lock_);
        return registrations_;
    }
    std::string pairingCode() const {
        const std::lock_guard g(lock_);
        return pairingCode_;
    }
    int rotations() const {
        const std::lock_guard g(lock_);
        return rotations_;
    }
    int drops() const {
        const std::lock_guard g(lock_);
        return drops_;
    }
    std::vector<std::string> shared() const {
        const std::lock_guard g(lock_);
        return shared_;
    }
    std::vector<std::string> callerThreads() const {
        const std::lock_guard g(lock_);
        return callerThreads_;
    }

private:
    void apply(const agent::AccountModelChange& c) {
        if (c.grantBusy) model_.grantBusy = *c.grantBusy;
        if (c.grantError) model_.grantError = *c.grantError;
        if (c.grantNotice) model_.grantNotice = *c.grantNotice;
        if (c.grantExpiryText) model_.grantExpiryText = *c.grantExpiryText;
        if (c.shareCode) model_.shareCode = *c.shareCode;
        if (c.shareCodeNote) model_.shareCodeNote = *c.shareCodeNote;
        if (c.shareCodeExpiresAt) model_.shareCodeExpiresAt = *c.shareCodeExpiresAt;
        if (c.shareInFlight) model_.shareInFlight = *c.shareInFlight;
        if (c.account) model_.account = *c.account;
        if (c.accountBusy) model_.accountBusy = *c.accountBusy;
        if (c.accountError) model_.accountError = *c.accountError;
        if (c.refreshPairingURL) refresh();
    }

    void refresh() {
        const wex::RelayIdentity id = relayIdentity();
        model_.pairingURL = "dovrel://pair?code=" + pairingCode() +
                            "&name=Test&mac=&id=0123456789abcdef0123456789abcdef" + "&relay=" + id.host + ":" +
                            std::to_string(id.port) + "&kind=linux" +
                            (service_ ? service_->relayGrantQuery() : std::string());
        ++model_.refreshes;
    }

    mutable std::mutex lock_;
    wex::RelayIdentity identity_;
    std::string pairingCode_ = "123456";
    int rotations_ = 0;
    int drops_ = 0;
    std::vector<std::string> shared_;
    std::vector<Registration> registrations_;
    std::vector<std::string> callerThreads_;

    // Touched only on main_.
    const agent::AccountService* service_ = nullptr;
    Model model_;
    std::vector<agent::AccountModelChange> changes_;
    SerialQueue main_{"fake.main"};
};

// A configuration directory whose relay.json points the account API at the double.
struct QtAppFirst {
    QtAppFirst() { qtApp(); }
};

struct AccountsFixture : ::testing::Test, private QtAppFirst {
    AccountsFixture() : api(certs.path()), config(configDir.file("Dovrel")) {
        std::filesystem::create_directories(config.directory());
        writeRelayJson(QJsonObject{{"lan", true}});
    }

    // relay.json: `extra` with apiHost and apiPort of the double.
    void writeRelayJson(QJsonObject extra) {
        extra.insert("apiHost", QString::fromStdString(api.host()));
        extra.insert("apiPort", api.port());
        writeText(config.path(), QJsonDocument(extra).toJson().toStdString());
        config.load();
    }

    agent::AccountApi::Options apiOptions() const {
        agent::AccountApi::Options o;
        o.caFile = api.caFile();
        return o;
    }

    TempDir certs;
    TempDir configDir;
    AccountApiDouble api;
    agent::RelayConfig config;
};

// Runs `start` on `queue` and waits for the value it hands to its callback.
template <typename T>
std::optional<T> runOn(SerialQueue& queue, std::function<void(std::function<void(T)>)> start,
                       std::chrono::milliseconds timeout = 15s) {
    Awaited<T> result;
    queue.post([start = std::move(start), cb = result.callback()] { start(cb); });
    return result.get(timeout);
}

} // namespace dovrel::test
