#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include <QJsonObject>
#include <QLocale>
#include <QTimeZone>

#include "protocol/Bytes.h"
#include "protocol/RelayIdentity.h"

namespace dovrel::agent {

class AccountApi;
class RelayConfig;

// Access grants and share codes from the relay's account API, and the grant file.
//
// An access grant is a token the relay issues for the signed-in account; it goes with the account name
// into the pairing link, so that a controller that reads the link can reach this computer through the
// account. grant.json (beside relay.json) keeps the latest grant the relay issued. A share code is a
// short code the relay issues for a payload (the pairing link), valid for a while and for a few claims.
//
// The calls run on the thread that owns the AccountApi and answer there.
class RelayGrant {
public:
    struct Grant {
        std::string token;   // opaque; never empty in a stored grant; a secret
        std::string jti;     // the grant's identifier at the relay, possibly empty
        int64_t expires = 0; // seconds since 1970 UTC; 0 = never

        bool operator==(const Grant&) const = default;

        // "Never expires", "Expired" (the expiry lies before `now`), or "Expires " and the expiry as a
        // medium date and a short time of `locale`, in `zone`.
        std::string expiryText(int64_t now, const QLocale& locale = QLocale(),
                               const QTimeZone& zone = QTimeZone::systemTimeZone()) const;
        std::string expiryText() const;
    };

    // A refused call, with the one text the user sees.
    struct Failure {
        std::string message;
    };
    template <typename T> using Result = std::variant<T, Failure>;

    struct Minted {
        Grant grant;
        std::optional<bool> replaced; // as the relay reported it, if it did
        std::string replaceError;     // empty when the relay gave none
    };
    struct Replaced {
        Grant grant;
        bool cancelled = false;
        std::optional<std::string> reason; // why the old grant still works
    };
    struct ShareCode {
        std::string code;
        int64_t expires = 0; // seconds since 1970; 0 when the relay gave none
    };

    static constexpr const char* notSignedIn = "This computer isn't signed in to an account.";
    static constexpr const char* badAddress = "Bad relay address.";
    static constexpr const char* noAccess = "The relay didn't return access.";
    static constexpr const char* noCode = "The relay didn't return a code.";
    static constexpr const char* noIdOnRecord =
        "the previous QR code had no id on record, so it could not be cancelled";
    static constexpr const char* notCancelledByRelay = "the relay could not cancel the previous QR code";

    // grant.json lives in `config`'s directory; the account API's address comes from its settings.
    RelayGrant(AccountApi& api, RelayConfig& config);

    std::string path() const;
    // The stored grant; nothing when the file is missing, unreadable, malformed, without a token or expired.
    std::optional<Grant> load() const;
    // Writes the grant compactly and atomically with mode 0600, making the directory first. Failures are
    // ignored: the grant is still in use for this run.
    void save(const Grant& grant) const;
    // Deletes grant.json; a missing file is no failure.
    void clear() const;

    // Asks for a new grant of `ttlHours` (0 = never expires), revoking `replacing` when not empty. The new
    // grant is saved before anything else in the answer is looked at.
    void mint(const wex::RelayIdentity& identity, double ttlHours, const std::string& replacing,
              std::function<void(Result<Minted>)> done);
    // Mints a grant that replaces `old`, and says whether the old one is dead.
    void replace(const std::optional<Grant>& old, const wex::RelayIdentity& identity, double ttlHours,
                 std::function<void(Result<Replaced>)> done);
    void createShareCode(const wex::RelayIdentity& identity, const std::string& payload, double ttlMinutes, int uses,
                         std::function<void(Result<ShareCode>)> done);

    // Pure parts, exposed for tests and fuzzing.
    static std::optional<Grant> decodeFile(wex::ByteView bytes, int64_t now);
    static std::string encodeFile(const Grant& grant);
    // The identifier by which the relay can revoke `grant`: its jti, else the sixth of exactly seven
    // dot-separated segments of its token; only 16 hexadecimal digits count. Empty when there is none.
    static std::string cancellableID(const Grant& grant);
    static QJsonObject grantBody(double ttlHours, const std::string& replacing);
    static Result<Minted> readGrantAnswer(const QJsonObject& answer);
    static QJsonObject shareBody(const std::string& payload, double ttlMinutes, int uses);
    static Result<ShareCode> readShareAnswer(const QJsonObject& answer);
    static Replaced replaceOutcome(bool hadOldGrant, const std::string& identifier, Minted minted);
    // "&account=…&token=…" for the end of the pairing link, or "" when signed out or without a grant.
    static std::string relayGrantQuery(const std::string& account, const std::optional<Grant>& grant);

    static int64_t nowSeconds();

private:
    // One authenticated POST of `body` to `path`.
    void api(const wex::RelayIdentity& identity, const std::string& path, const QJsonObject& body,
             std::function<void(Result<QJsonObject>)> done);

    AccountApi& api_;
    RelayConfig& config_;
};

// A JSON number as a 64-bit integer, cut toward zero; `otherwise` when the value is no number.
int64_t jsonInt64(const QJsonValue& value, int64_t otherwise = 0);

} // namespace dovrel::agent
