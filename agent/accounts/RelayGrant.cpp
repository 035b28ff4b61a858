#include "agent/accounts/RelayGrant.h"

#include <cctype>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>
#include <vector>

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonValue>
#include <QRegularExpression>

#include "agent/accounts/AccountApi.h"
#include "agent/core/RelayConfig.h"
#include "runtime/AtomicFile.h"

namespace dovrel::agent {

namespace {

constexpr const char* damagedToken = "This computer's account token is damaged; sign in again.";
constexpr const char* badLifetime = "That lifetime is not valid.";

bool isHex16(const std::string& s) {
    if (s.size() != 16) return false;
    for (const char c : s)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// The locale's long date without the weekday and with abbreviated month names: the "medium" date
// ("Jan 5, 2026" in American English, "5. Jan. 2026" in German).
QString mediumDateFormat(const QLocale& locale) {
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{3,4}[,\\s]*"));
    format.remove(weekday);
    format = format.trimmed();
    while (format.endsWith(QLatin1Char(',')))
        format.chop(1);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format;
}

QByteArray utf8(const std::string& s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }

} // namespace

int64_t jsonInt64(const QJsonValue& value, int64_t otherwise) {
    if (!value.isDouble()) return otherwise;
    const double d = value.toDouble();
    constexpr double limit = 9223372036854775808.0; // 2^63
    if (std::isnan(d)) return otherwise;
    if (d >= limit) return std::numeric_limits<int64_t>::max();
    if (d < -limit) return std::numeric_limits<int64_t>::min();
    // Integers beyond 2^53 are kept exactly by the parser; doubles are cut toward zero.
    const qint64 exact = value.toInteger(std::numeric_limits<qint64>::min());
    if (exact != std::numeric_limits<qint64>::min() && static_cast<double>(exact) == d) return exact;
    return static_cast<int64_t>(std::trunc(d));
}

int64_t RelayGrant::nowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string RelayGrant::Grant::expiryText(int64_t now, const QLocale& locale, const QTimeZone& zone) const {
    if (expires == 0) return "Never expires";
    if (expires < now) return "Expired";
    const QDateTime at = QDateTime::fromSecsSinceEpoch(expires, zone);
    const QString text = locale.toString(at, mediumDateFormat(locale)) + QStringLiteral(", ") +
                         locale.toString(at, locale.timeFormat(QLocale::ShortFormat));
    return "Expires " + text.toStdString();
}

std::string RelayGrant::Grant::expiryText() const { return expiryText(nowSeconds()); }

RelayGrant::RelayGrant(AccountApi& api, RelayConfig& config) : api_(api), config_(config) {}

std::string RelayGrant::path() const { return config_.directory() + "/grant.json"; }

std::optional<RelayGrant::Grant> RelayGrant::decodeFile(wex::ByteView bytes, int64_t now) {
    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
    if (!doc.isObject()) return std::nullopt;
    const QJsonObject o = doc.object();
    const QJsonValue token = o.value("token");
    if (!token.isString() || token.toString().isEmpty()) return std::nullopt;
    Grant grant;
    grant.token = token.toString().toStdString();
    grant.expires = jsonInt64(o.value("expires"));
    if (grant.expires != 0 && grant.expires < now) return std::nullopt;
    const QJsonValue jti = o.value("jti");
    if (jti.isString()) grant.jti = jti.toString().toStdString();
    return grant;
}

std::string RelayGrant::encodeFile(const Grant& grant) {
    QJsonObject o;
    o.insert("token", QString::fromStdString(grant.token));
    o.insert("jti", QString::fromStdString(grant.jti));
    o.insert("expires", static_cast<qint64>(grant.expires));
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

std::optional<RelayGrant::Grant> RelayGrant::load() const {
    wex::Bytes bytes;
    if (!readWholeFile(path(), bytes)) return std::nullopt;
    return decodeFile(bytes, nowSeconds());
}

void RelayGrant::save(const Grant& grant) const {
    std::error_code ec;
    std::filesystem::create_directories(config_.directory(), ec);
    const std::string json = encodeFile(grant);
    // Written with mode 0600 from the first byte: the token is a secret.
    (void)writeFileAtomically(path(), wex::ByteView(reinterpret_cast<const uint8_t*>(json.data()), json.size()));
}

void RelayGrant::clear() const {
    std::error_code ec;
    std::filesystem::remove(path(), ec);
}

std::string RelayGrant::cancellableID(const Grant& grant) {
    std::string candidate = grant.jti;
    if (candidate.empty()) {
        std::vector<std::string> segments;
        std::size_t at = 0;
        while (true) {
            const std::size_t dot = grant.token.find('.', at);
            segments.push_back(grant.token.substr(at, dot == std::string::npos ? std::string::npos : dot - at));
            if (dot == std::string::npos) break;
            at = dot + 1;
        }
        if (segments.size() == 7) candidate = segments[5];
    }
    return isHex16(candidate) ? candidate : std::string();
}

QJsonObject RelayGrant::grantBody(double ttlHours, const std::string& replacing) {
    QJsonObject body;
    body.insert("ttlHours", ttlHours);
    if (!replacing.empty()) body.insert("replaces", QString::fromStdString(replacing));
    return body;
}

RelayGrant::Result<RelayGrant::Minted> RelayGrant::readGrantAnswer(const QJsonObject& answer) {
    const QJsonValue token = answer.value("token");
    // An empty token could never be stored or used: it counts as none.
    if (!token.isString() || token.toString().isEmpty()) return Failure{noAccess};
    Minted minted;
    minted.grant.token = token.toString().toStdString();
    if (const QJsonValue jti = answer.value("jti"); jti.isString()) minted.grant.jti = jti.toString().toStdString();
    minted.grant.expires = jsonInt64(answer.value("expires"));
    if (const QJsonValue replaced = answer.value("replaced"); replaced.isBool()) minted.replaced = replaced.toBool();
    if (const QJsonValue error = answer.value("replaceError"); error.isString())
        minted.replaceError = AccountApi::printable(error.toString().toStdString());
    return minted;
}

QJsonObject RelayGrant::shareBody(const std::string& payload, double ttlMinutes, int uses) {
    QJsonObject body;
    body.insert("payload", QString::fromStdString(payload));
    body.insert("ttlMinutes", ttlMinutes);
    body.insert("uses", uses);
    return body;
}

RelayGrant::Result<RelayGrant::ShareCode> RelayGrant::readShareAnswer(const QJsonObject& answer) {
    const QJsonValue code = answer.value("code");
    if (!code.isString() || code.toString().isEmpty()) return Failure{noCode};
    return ShareCode{code.toString().toStdString(), jsonInt64(answer.value("expires"))};
}

RelayGrant::Replaced RelayGrant::replaceOutcome(bool hadOldGrant, const std::string& identifier, Minted minted) {
    Replaced out;
    out.grant = std::move(minted.grant);
    if (!hadOldGrant) {
        out.cancelled = true;
    } else if (identifier.empty()) {
        out.reason = noIdOnRecord;
    } else if (minted.replaced == false) {
        std::string reason = notCancelledByRelay;
        if (!minted.replaceError.empty()) reason += " (" + minted.replaceError + ")";
        out.reason = std::move(reason);
    } else {
        out.cancelled = true;
    }
    return out;
}

std::string RelayGrant::relayGrantQuery(const std::string& account, const std::optional<Grant>& grant) {
    if (account.empty() || !grant || grant->token.empty()) return {};
    // What may stand in a query stays as it is, except "&" and "=": escaped, they cannot split the value.
    static const QByteArray keep = "!$'()*+,;:@/?";
    return "&account=" + utf8(account).toPercentEncoding(keep).toStdString() +
           "&token=" + utf8(grant->token).toPercentEncoding(keep).toStdString();
}

void RelayGrant::api(const wex::RelayIdentity& identity, const std::string& path, const QJsonObject& body,
                     std::function<void(Result<QJsonObject>)> done) {
    if (identity.token.empty()) return done(Failure{notSignedIn});
    if (!AccountApi::isHeaderSafe(identity.token)) return done(Failure{damagedToken});
    const RelayConfig::Settings settings = config_.settings();
    const auto url = AccountApi::address(settings.apiHost, settings.apiPort, path);
    if (!url) return done(Failure{badAddress});
    api_.post(*url, identity.token, body, [done = std::move(done)](ApiOutcome outcome) {
        if (!outcome.ok) return done(Failure{std::move(outcome.message)});
        done(std::move(outcome.object));
    });
}

void RelayGrant::mint(const wex::RelayIdentity& identity, double ttlHours, const std::string& replacing,
                      std::function<void(Result<Minted>)> done) {
    if (!std::isfinite(ttlHours)) return done(Failure{badLifetime});
    api(identity, "/v1/grant", grantBody(ttlHours, replacing), [this, done = std::move(done)](Result<QJsonObject> r) {
        if (auto* failure = std::get_if<Failure>(&r)) return done(std::move(*failure));
        Result<Minted> minted = readGrantAnswer(std::get<QJsonObject>(r));
        // The relay has issued it: keep it on disk before anything else can go wrong.
        if (const auto* m = std::get_if<Minted>(&minted)) save(m->grant);
        done(std::move(minted));
    });
}

void RelayGrant::replace(const std::optional<Grant>& old, const wex::RelayIdentity& identity, double ttlHours,
                         std::function<void(Result<Replaced>)> done) {
    const std::string identifier = old ? cancellableID(*old) : std::string();
    mint(identity, ttlHours, identifier,
         [hadOld = old.has_value(), identifier, done = std::move(done)](Result<Minted> r) {
             if (auto* failure = std::get_if<Failure>(&r)) return done(std::move(*failure));
             done(replaceOutcome(hadOld, identifier, std::move(std::get<Minted>(r))));
         });
}

void RelayGrant::createShareCode(const wex::RelayIdentity& identity, const std::string& payload, double ttlMinutes,
                                 int uses, std::function<void(Result<ShareCode>)> done) {
    api(identity, "/v1/share", shareBody(payload, ttlMinutes, uses), [done = std::move(done)](Result<QJsonObject> r) {
        if (auto* failure = std::get_if<Failure>(&r)) return done(std::move(*failure));
        done(readShareAnswer(std::get<QJsonObject>(r)));
    });
}

} // namespace dovrel::agent
