#pragma once

#include <functional>
#include <string>
#include <variant>

#include <QJsonObject>

namespace dovrel::agent {

class AccountApi;
class RelayConfig;

// Signs in to an account of the relay service, or creates one, and stores the account name and its
// token in relay.json. Runs on the thread that owns the AccountApi and answers there.
class AccountSignIn {
public:
    // A refused sign-in, with the one text the user sees.
    struct Failure {
        std::string message;
    };
    struct Account {
        std::string account;
        std::string token; // a secret
    };
    using Result = std::variant<Account, Failure>;

    static constexpr const char* missingInput = "Enter an account name and a password.";
    static constexpr const char* badAddress = "Bad relay address.";
    static constexpr const char* noToken = "The relay didn't return an account token.";

    AccountSignIn(AccountApi& api, RelayConfig& config);

    // Reloads relay.json (for the account API's current address), sends the trimmed name, the password as
    // typed and the invitation code to "/v1/signup" (`create`) or "/v1/signin", and on success stores the
    // account and token before `done` sees them. A failure leaves relay.json as it was.
    void signIn(const std::string& account, const std::string& password, bool create, const std::string& inviteCode,
                std::function<void(Result)> done);

    // Pure parts, exposed for tests and fuzzing.
    static std::string trimmed(const std::string& text); // white space and line breaks off both ends
    static QJsonObject body(const std::string& trimmedAccount, const std::string& password,
                            const std::string& inviteCode);
    static Result readAnswer(const QJsonObject& answer, const std::string& trimmedAccount);

private:
    AccountApi& api_;
    RelayConfig& config_;
};

} // namespace dovrel::agent
