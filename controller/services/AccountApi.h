#pragma once

#include <functional>
#include <memory>
#include <set>

#include <QObject>
#include <QString>

#include "controller/platform/HttpClient.h"
#include "controller/services/ApiResult.h"
#include "controller/services/RelayAccount.h"

namespace dovrel::controller {

// The relay's account API (HTTPS, JSON): sign in or up, which machines of an account are online, and
// redeeming a share code. No state of its own; several calls may run at once. Called on the main
// thread; each callback runs there exactly once. Only status 200 is success; the body is read
// whatever the status and the server's "error" text is preferred.
class AccountApi : public QObject {
    Q_OBJECT

public:
    // Every request goes to "https://" + host (with ":port" unless 443) + path. The relay named in a
    // sign-in answer without a usable port gives the default relay instead.
    AccountApi(std::shared_ptr<HttpClient> http, QString host, uint16_t port, QString defaultRelayHost,
               uint16_t defaultRelayPort, QObject* parent = nullptr);

    using SessionDone = std::function<void(const ApiResult<RelayAccount::Session>&)>;
    using PresenceDone = std::function<void(const ApiResult<std::set<QString>>&)>;
    using TextDone = std::function<void(const ApiResult<QString>&)>;

    // "/v1/signin" (with an empty code) or "/v1/signup" (with the invitation code). The account name
    // is sent lower-cased; password and code as given.
    void call(const QString& path, const QString& account, const QString& password, const QString& code,
              SessionDone done);
    // The lower-cased identifiers of the account's machines that are connected to the relay now.
    void presence(const QString& token, PresenceDone done);
    // The pairing link behind a share code, sent as the caller typed it.
    void claim(const QString& code, TextDone done);

private:
    std::optional<QUrl> url(const QString& path) const;

    std::shared_ptr<HttpClient> http_;
    QString host_;
    uint16_t port_;
    QString defaultRelayHost_;
    uint16_t defaultRelayPort_;
};

} // namespace dovrel::controller
