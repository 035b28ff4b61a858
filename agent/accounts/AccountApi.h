#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <QJsonObject>
#include <QList>
#include <QSslCertificate>
#include <QUrl>

#include "runtime/Scheduler.h"
#include "runtime/net/HostLookups.h"

class QNetworkAccessManager;
class QNetworkReply;
class QObject;

namespace dovrel::agent {

// What one account API call came back with: the answer's JSON object, or the message to show.
struct ApiOutcome {
    bool ok = false;
    QJsonObject object;  // when ok
    std::string message; // when not ok: user-facing, never holds a token or a password

    static ApiOutcome success(QJsonObject object) { return {true, std::move(object), {}}; }
    static ApiOutcome failure(std::string message) { return {false, {}, std::move(message)}; }
};

// HTTPS POSTs with a JSON object to the relay's account API. One object belongs to one thread with a Qt
// event loop (the account thread): it is made, used and destroyed there, and answers come back there.
class AccountApi {
public:
    struct Options {
        // The whole exchange, from sending to the last byte of the answer.
        std::chrono::milliseconds timeout = std::chrono::seconds(20);
        // Test-only: a PEM file of one more certificate authority to trust besides the system's.
        std::string caFile;
        // Runs the time-outs; the real clock when null.
        Scheduler* scheduler = nullptr;
        // Larger answers are refused: no account answer comes near it.
        std::size_t maxAnswerBytes = 1 << 20;
        // Looks the API's host name up. Null: the system's resolver.
        std::shared_ptr<HostResolver> resolver;
    };
    using Done = std::function<void(ApiOutcome)>;

    explicit AccountApi(Options options);
    ~AccountApi(); // answers still outstanding are abandoned without a call
    AccountApi(const AccountApi&) = delete;
    AccountApi& operator=(const AccountApi&) = delete;

    // "https://host[:port]" followed by `path`, or nothing when that is no usable address.
    static std::optional<QUrl> address(const std::string& host, uint16_t port, const std::string& path);

    // True when `token` can stand in an "Authorization" header: visible ASCII only, no blanks.
    static bool isHeaderSafe(const std::string& token);

    // Server texts go to the user and into the log: control characters and line separators become
    // blanks, so that a text can never start a log line of its own, and a long text is cut.
    static std::string printable(const std::string& text);

    // Sends `body` as compact JSON to `url`, with "Authorization: Bearer <bearer>" when `bearer` is not
    // empty. Redirects are not followed. `done` runs once, on this thread: with the answer's object when
    // the status is 200 (a body that is not a JSON object counts as an empty one); else with the answer's
    // "error" string, or "The relay refused (<status>)."; without an answer, with the network's own
    // description of what went wrong, or "The request timed out.".
    void post(const QUrl& url, const std::string& bearer, const QJsonObject& body, Done done);

    std::size_t outstanding() const { return pending_.size(); }

private:
    struct Pending;
    void finish(uint64_t id, QNetworkReply* reply);
    void fail(uint64_t id, std::string message);
    void cutShort(uint64_t id, std::string why);

    Options options_;
    Scheduler& scheduler_;
    QList<QSslCertificate> extraAuthorities_;
    HostLookups lookups_;
    std::unique_ptr<QObject> context_; // receives the replies' signals on this thread
    std::unique_ptr<QNetworkAccessManager> network_;
    std::map<uint64_t, std::unique_ptr<Pending>> pending_;
    uint64_t lastId_ = 0;
};

} // namespace dovrel::agent
