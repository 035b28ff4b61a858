#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "../WaitUntil.h"
#include "controller/platform/HttpClient.h"
#include "controller/ui/pairing/PairingTarget.h"
#include "controller/ui/signin/SignInTarget.h"

namespace dovrel::controller::test {

// Waits as the other controller tests do, with room for a busy machine and a TLS handshake.
inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(15)) {
    return waitUntil(done, limit);
}

// Passes requests to a real client and counts the answers that came back to their callers.
struct CountingHttpClient final : HttpClient {
    explicit CountingHttpClient(std::shared_ptr<HttpClient> inner) : inner_(std::move(inner)) {}
    void send(const HttpRequest& request, std::function<void(const HttpResponse&)> done) override {
        inner_->send(request, [this, done = std::move(done)](const HttpResponse& r) {
            done(r);
            ++answered;
        });
    }
    int answered = 0;

private:
    std::shared_ptr<HttpClient> inner_;
};

// Records every result the pairing screen hands over; shows the screen until told otherwise.
struct RecordingPairingTarget final : PairingTarget {
    struct Result {
        bool relay = false;
        QString target; // host or device identifier
        QString name, code;
        Device::Kind kind = Device::Kind::mac;
        std::optional<QString> account, token, relay_;
        std::optional<PairLink> link; // a link handed over whole
    };
    std::vector<Result> results;
    int cancels = 0;
    bool shown = true;

    void connectLAN(const QString& host, const QString& name, const QString& code, Device::Kind kind) override {
        results.push_back({false, host, name, code, kind, {}, {}, {}, {}});
    }
    void connectRelay(const QString& deviceId, const QString& name, const QString& code, Device::Kind kind,
                      const std::optional<QString>& account, const std::optional<QString>& token,
                      const std::optional<QString>& relay) override {
        results.push_back({true, deviceId, name, code, kind, account, token, relay, {}});
    }
    // Recorded by the way it starts: the local network when it names a host, else the relay.
    void connectLink(const PairLink& link) override {
        const bool relay = link.host.isEmpty();
        results.push_back({relay, relay ? link.deviceId.value_or(QString()) : link.host, link.name, link.code,
                           link.kind, link.account, link.token, link.relay, link});
    }
    void cancelPairing() override {
        ++cancels;
        shown = false;
    }
    bool pairingShown() const override { return shown; }
    std::optional<CodeWanted> codeWanted() const override { return wanted; }
    std::optional<Returned> returned() const override { return back; }
    void onTurnedBack(std::function<void()> listener) override { turnedBack = std::move(listener); }
    // The window turns to the pairing screen to ask `machine`'s code.
    void askForCode(const CodeWanted& machine) {
        wanted = machine;
        if (turnedBack) turnedBack();
    }
    // The window turns back to the pairing screen after the attempt it handed over ended so.
    void turnBack(const Returned& how) {
        wanted.reset();
        back = how;
        if (turnedBack) turnedBack();
    }
    std::optional<CodeWanted> wanted;
    std::optional<Returned> back;
    std::function<void()> turnedBack;
};

struct RecordingSignInTarget final : SignInTarget {
    std::vector<RelayAccount::Session> sessions;
    int skips = 0;
    void signedIn(const RelayAccount::Session& session) override { sessions.push_back(session); }
    void signInSkipped() override { ++skips; }
};

} // namespace dovrel::controller::test
