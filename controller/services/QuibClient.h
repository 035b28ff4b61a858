#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string_view>

#include <QDate>
#include <QObject>
#include <QString>
#include <QUrl>

#include "controller/client/session/StoredRelayAccount.h"
#include "controller/platform/HttpClient.h"
#include "controller/platform/UserDefaults.h"
#include "controller/platform/WallClock.h"
#include "controller/services/WritingAssistant.h"

namespace dovrel::controller {

// Quib, the writing assistant. Each generation spends one grant of the signed-in account's daily
// quota at the relay ("/v1/quib/grant"), then posts the prompt to the cloud chat-completions endpoint
// with that grant's token. Linux has no system language model, so the on-device source is never
// available; without the user's consent to the cloud nothing is sent anywhere.
//
// Never fails: a generation that cannot be made gives nothing, with the reason kept in
// `lastRefusal` where the grant failed. Main thread; requests run asynchronously and may overlap.
class QuibClient final : public QObject, public WritingAssistant {
    Q_OBJECT

public:
    static constexpr std::string_view consentKey = "dovrel.quib.cloudConsent";
    static constexpr std::string_view defaultEndpointHost = "quib.dovrel.net";
    static constexpr auto grantTimeout = std::chrono::seconds(15);
    static constexpr auto cloudTimeout = std::chrono::seconds(30);
    static const QString systemPrompt;

    // `endpoint`: the cloud chat-completions URL ("https://<host>/v1/chat/completions").
    QuibClient(std::shared_ptr<HttpClient> http, std::shared_ptr<const StoredRelayAccount> account,
               std::shared_ptr<UserDefaults> defaults, std::shared_ptr<const WallClock> clock, QUrl endpoint,
               QObject* parent = nullptr);
    ~QuibClient() override;

    static QUrl endpointFor(const QString& host);
    static QString userPrompt(const QString& text, const QString& instruction);

    AssistantSource currentSource() const override;
    QString unavailableReason() const override;
    std::optional<int> remainingToday() const override;
    bool signedIn() const override;
    bool cloudConsent() const override;
    void setCloudConsent(bool on) override;
    void rewrite(const QString& text, const QString& instruction,
                 std::function<void(std::optional<QString>)> done) override;

    std::optional<QString> lastRefusal() const { return lastRefusal_; }
    // Grant tokens of cloud requests now under way.
    int requestsInFlight() const { return inFlight_; }

private:
    std::optional<QUrl> grantUrl() const;
    void spendOneGeneration(std::function<void(std::optional<QString>)> done);
    void callProxy(const QString& user, std::function<void(std::optional<QString>)> done);
    void noteRemaining(int remaining);

    std::shared_ptr<HttpClient> http_;
    std::shared_ptr<const StoredRelayAccount> account_;
    std::shared_ptr<UserDefaults> defaults_;
    std::shared_ptr<const WallClock> clock_;
    QUrl endpoint_;
    std::optional<int> remaining_;
    QDate remainingDay_; // the UTC day `remaining_` was reported on
    std::optional<QString> lastRefusal_;
    int inFlight_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true); // answers after our end are dropped
};

} // namespace dovrel::controller
