#include "controller/services/RelayAccount.h"

#include "controller/services/PortText.h"

namespace dovrel::controller {

RelayAccount::RelayAccount(std::shared_ptr<SecretStore> secrets, QString defaultRelayHost, uint16_t defaultRelayPort)
    : secrets_(std::move(secrets)), defaultRelayHost_(std::move(defaultRelayHost)),
      defaultRelayPort_(defaultRelayPort) {}

std::optional<QString> RelayAccount::item(std::string_view name) const {
    const SecretRead read = secrets_->read(service, name);
    if (read.outcome != SecretRead::Outcome::found) return std::nullopt;
    const QByteArray bytes(reinterpret_cast<const char*>(read.data.data()), static_cast<qsizetype>(read.data.size()));
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes) return std::nullopt; // not UTF-8: as good as missing
    return text;
}

void RelayAccount::setItem(std::string_view name, const std::optional<QString>& value) {
    secrets_->remove(service, name);
    if (!value) return;
    const QByteArray bytes = value->toUtf8();
    secrets_->write(
        service, name,
        wex::ByteView(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())));
}

std::optional<RelayAccount::Session> RelayAccount::current() const {
    const auto account = item("account");
    if (!account || account->isEmpty()) return std::nullopt;
    const auto token = item("token");
    if (!token || token->isEmpty()) return std::nullopt;
    const auto host = item("relayHost");
    const auto port = item("relayPort");
    const auto parsed = port ? decimalPort(*port) : std::nullopt;
    return Session{*account, *token, host.value_or(defaultRelayHost_), parsed.value_or(defaultRelayPort_)};
}

std::optional<wex::RelayIdentity> RelayAccount::storedRelayIdentity() const {
    const auto s = current();
    if (!s) return std::nullopt;
    return wex::RelayIdentity{s->account.toStdString(), s->token.toStdString(), s->relayHost.toStdString(),
                              s->relayPort};
}

void RelayAccount::save(const Session& session) {
    setItem("account", session.account);
    setItem("token", session.token);
    setItem("relayHost", session.relayHost);
    setItem("relayPort", QString::number(session.relayPort));
}

void RelayAccount::signOut() {
    for (const std::string_view name : {"account", "token", "relayHost", "relayPort"})
        secrets_->remove(service, name);
}

} // namespace dovrel::controller
