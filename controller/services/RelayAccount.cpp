#include "controller/services/RelayAccount.h"

#include "controller/services/PortText.h"

namespace dovrel::controller {

namespace {

std::optional<QString> item(SecretStore& secrets, std::string_view name) {
    const SecretRead read = secrets.read(RelayAccount::service, name);
    if (read.outcome != SecretRead::Outcome::found) return std::nullopt;
    const QByteArray bytes(reinterpret_cast<const char*>(read.data.data()), static_cast<qsizetype>(read.data.size()));
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes) return std::nullopt; // not UTF-8: as good as missing
    return text;
}

void setItem(SecretStore& secrets, std::string_view name, const QString& value) {
    secrets.remove(RelayAccount::service, name);
    const QByteArray bytes = value.toUtf8();
    secrets.write(
        RelayAccount::service, name,
        wex::ByteView(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())));
}

} // namespace

RelayAccount::RelayAccount(std::shared_ptr<SecretsThread> secrets, QString defaultRelayHost, uint16_t defaultRelayPort,
                           QObject* parent)
    : QObject(parent), secrets_(std::move(secrets)) {
    secrets_->ask<std::optional<Session>>([host = std::move(defaultRelayHost), defaultRelayPort](
                                              SecretStore& store) { return read(store, host, defaultRelayPort); },
                                          this,
                                          [this, before = changes_](std::optional<Session> stored) {
                                              // A sign-in or sign-out meanwhile knows better than what was stored
                                              // before it.
                                              if (changes_ == before) session_ = std::move(stored);
                                              loaded_ = true;
                                              emit changed();
                                          });
}

std::optional<RelayAccount::Session> RelayAccount::read(SecretStore& secrets, const QString& defaultRelayHost,
                                                        uint16_t defaultRelayPort) {
    const auto account = item(secrets, "account");
    if (!account || account->isEmpty()) return std::nullopt;
    const auto token = item(secrets, "token");
    if (!token || token->isEmpty()) return std::nullopt;
    const auto host = item(secrets, "relayHost");
    const auto port = item(secrets, "relayPort");
    const auto parsed = port ? decimalPort(*port) : std::nullopt;
    return Session{*account, *token, host.value_or(defaultRelayHost), parsed.value_or(defaultRelayPort)};
}

std::optional<wex::RelayIdentity> RelayAccount::storedRelayIdentity() const {
    if (!session_) return std::nullopt;
    return wex::RelayIdentity{session_->account.toStdString(), session_->token.toStdString(),
                              session_->relayHost.toStdString(), session_->relayPort};
}

void RelayAccount::set(std::optional<Session> session) {
    ++changes_;
    loaded_ = true;
    session_ = std::move(session);
    emit changed();
}

void RelayAccount::save(const Session& session) {
    set(session);
    secrets_->post([session](SecretStore& store) {
        setItem(store, "account", session.account);
        setItem(store, "token", session.token);
        setItem(store, "relayHost", session.relayHost);
        setItem(store, "relayPort", QString::number(session.relayPort));
    });
}

void RelayAccount::signOut() {
    set(std::nullopt);
    secrets_->post([](SecretStore& store) {
        for (const std::string_view name : {"account", "token", "relayHost", "relayPort"})
            store.remove(service, name);
    });
}

} // namespace dovrel::controller
