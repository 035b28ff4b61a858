#include "agent/core/RelayConfig.h"

#include <filesystem>
#include <stdexcept>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "agent/common/ConfigDirectory.h"
#include "protocol/WEXConstants.h"
#include "runtime/AtomicFile.h"

namespace dovrel::agent {

namespace {

const RelayEndpoint builtInRegions[] = {{std::string(wex::WEX::relayHost), 8443}, {"relay-eu.dovrel.net", 8443}};

// The file's top-level object; nothing when it is missing, unreadable, not JSON or not an object.
std::optional<QJsonObject> readObject(const std::string& path) {
    wex::Bytes bytes;
    if (!readWholeFile(path, bytes)) return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    return doc.object();
}

// JSON numbers are doubles; only integral ones count, and only their low 16 bits.
std::optional<uint16_t> port16(const QJsonValue& v) {
    if (!v.isDouble()) return std::nullopt;
    const double d = v.toDouble();
    if (d != static_cast<double>(static_cast<int64_t>(d))) return std::nullopt;
    return static_cast<uint16_t>(static_cast<uint64_t>(static_cast<int64_t>(d)) & 0xFFFF);
}

void writeObject(const std::string& directory, const std::string& path, const QJsonObject& object) {
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec) throw std::runtime_error("cannot create " + directory + ": " + ec.message());
    // QJsonObject keeps its keys sorted, so the file comes out sorted as well as indented.
    const QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Indented);
    const std::string error = writeFileAtomically(
        path, wex::ByteView(reinterpret_cast<const uint8_t*>(json.constData()), static_cast<std::size_t>(json.size())));
    if (!error.empty()) throw std::runtime_error(error);
}

} // namespace

RelayConfig::RelayConfig(std::string directory) : directory_(std::move(directory)) {
    settings_.apiHost = std::string(wex::WEX::relayApiHost);
    settings_.regions.assign(std::begin(builtInRegions), std::end(builtInRegions));
}

RelayConfig& RelayConfig::shared() {
    static RelayConfig config(configDirectory());
    return config;
}

RelayConfig::Settings RelayConfig::settings() const {
    const std::lock_guard guard(lock_);
    return settings_;
}

wex::RelayIdentity RelayConfig::load() {
    const std::string defaultHost(wex::WEX::relayHost);
    const auto object = readObject(path());
    if (!object) return {"", "", defaultHost, 8443};
    const QJsonObject& o = *object;

    const uint16_t port = port16(o.value("port")).value_or(8443);
    const QJsonValue host = o.value("host");
    const QJsonValue apiHost = o.value("apiHost");
    std::vector<RelayEndpoint> regions;
    if (o.value("regions").isArray()) {
        for (const QJsonValue& entry : o.value("regions").toArray()) {
            if (!entry.isString()) continue;
            if (auto e = RelayEndpoint::parse(entry.toString().toStdString())) regions.push_back(std::move(*e));
        }
    }
    {
        const std::lock_guard guard(lock_);
        settings_.lanEnabled = o.value("lan").toBool(true);
        settings_.hostPinned = host.isString() && !host.toString().isEmpty();
        settings_.apiHost = apiHost.isString() && !apiHost.toString().isEmpty() ? apiHost.toString().toStdString()
                                                                                : std::string(wex::WEX::relayApiHost);
        settings_.apiPort = port16(o.value("apiPort")).value_or(443);
        if (!regions.empty()) settings_.regions = std::move(regions);
    }
    const auto text = [&](const char* key) {
        const QJsonValue v = o.value(key);
        return v.isString() ? v.toString().toStdString() : std::string();
    };
    // An empty "host" means the default relay, like a missing one.
    const std::string relayHost = settings().hostPinned ? host.toString().toStdString() : defaultHost;
    return {text("account"), text("token"), relayHost, port};
}

void RelayConfig::save(const std::string& account, const std::string& token) {
    auto existing = readObject(path());
    if (!existing && std::filesystem::exists(path())) {
        // A hand-edited file that no longer parses is kept for its owner rather than overwritten.
        std::error_code ec;
        std::filesystem::rename(path(), path() + ".invalid", ec);
    }
    QJsonObject o = existing.value_or(QJsonObject());
    o.insert("account", QString::fromStdString(account));
    o.insert("token", QString::fromStdString(token));
    writeObject(directory_, path(), o);
}

void RelayConfig::clear() {
    auto object = readObject(path());
    if (!object) {
        // Nothing readable to keep: a file holding only junk is left for the user to look at.
        return;
    }
    object->remove("account");
    object->remove("token");
    if (object->isEmpty()) {
        std::error_code ec;
        std::filesystem::remove(path(), ec);
        return;
    }
    try {
        writeObject(directory_, path(), *object);
    } catch (const std::exception&) {
    }
}

} // namespace dovrel::agent
