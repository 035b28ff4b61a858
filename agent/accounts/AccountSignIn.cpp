#include "agent/accounts/AccountSignIn.h"

#include <exception>

#include <QString>

#include "agent/accounts/AccountApi.h"
#include "agent/core/RelayConfig.h"

namespace dovrel::agent {

AccountSignIn::AccountSignIn(AccountApi& api, RelayConfig& config) : api_(api), config_(config) {}

std::string AccountSignIn::trimmed(const std::string& text) {
    return QString::fromStdString(text).trimmed().toStdString();
}

QJsonObject AccountSignIn::body(const std::string& trimmedAccount, const std::string& password,
                                const std::string& inviteCode) {
    QJsonObject o;
    o.insert("account", QString::fromStdString(trimmedAccount));
    o.insert("password", QString::fromStdString(password));
    o.insert("code", QString::fromStdString(inviteCode));
    return o;
}

AccountSignIn::Result AccountSignIn::readAnswer(const QJsonObject& answer, const std::string& trimmedAccount) {
    const QJsonValue token = answer.value("token");
    if (!token.isString() || token.toString().isEmpty()) return Failure{noToken};
    const std::string tokenText = token.toString().toStdString();
    // A token that cannot be sent back in a header is of no use, and must not reach relay.json.
    if (!AccountApi::isHeaderSafe(tokenText)) return Failure{noToken};
    const QJsonValue account = answer.value("account");
    const bool named = account.isString() && !account.toString().isEmpty();
    return Account{named ? account.toString().toStdString() : trimmedAccount, tokenText};
}

void AccountSignIn::signIn(const std::string& account, const std::string& password, bool create,
                           const std::string& inviteCode, std::function<void(Result)> done) {
    (void)config_.load(); // only for the account API's address
    const std::string name = trimmed(account);
    if (name.empty() || password.empty()) return done(Failure{missingInput});
    const RelayConfig::Settings settings = config_.settings();
    const auto url = AccountApi::address(settings.apiHost, settings.apiPort, create ? "/v1/signup" : "/v1/signin");
    if (!url) return done(Failure{badAddress});
    api_.post(*url, {}, body(name, password, inviteCode), [this, name, done = std::move(done)](ApiOutcome outcome) {
        if (!outcome.ok) return done(Failure{std::move(outcome.message)});
        Result result = readAnswer(outcome.object, name);
        if (const auto* signedIn = std::get_if<Account>(&result)) {
            try {
                config_.save(signedIn->account, signedIn->token);
            } catch (const std::exception& e) {
                // The relay has accepted, but without the file this computer stays signed out.
                return done(Failure{e.what()});
            }
        }
        done(std::move(result));
    });
}

} // namespace dovrel::agent
