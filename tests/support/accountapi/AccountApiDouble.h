#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QJsonObject>

#include "runtime/SerialQueue.h"
#include "tests/support/TestCA.h"

namespace dovrel::test {

// One request as the double received it.
struct AccountApiRequest {
    std::string method;
    std::string path;
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;

    bool hasHeader(const std::string& lowerName) const { return headers.count(lowerName) != 0; }
    std::string header(const std::string& lowerName) const;
    QJsonObject json() const; // the body's object; empty when it is none
};

// An answer the test chooses instead of the service's own.
struct AccountApiReply {
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    bool hold = false; // sent only when releaseHeld() is called

    static AccountApiReply json(int status, const QJsonObject& object);
    static AccountApiReply raw(int status, std::string body);
};

// A stand-in for the relay's account API: HTTPS on 127.0.0.1 with a certificate from an authority made
// for the test (trust caFile()), serving /v1/signup, /v1/signin, /v1/grant and /v1/share for the
// agent, and /v1/signin, /v1/signup, /v1/presence (GET) and /v1/claim for the controller; and the
// writing assistant's two ends: /v1/quib/grant (one token per generation within a daily quota per
// account) and the cloud's /v1/chat/completions (taking each such token once).
//
// On its own it behaves like the service: accounts with passwords and tokens, grants whose tokens have
// seven dot-separated segments with the grant's 16-hex-digit identifier as the sixth, revocation of the
// grant named by "replaces", share codes that keep their payload and give it back when claimed (once
// per use), and presence lists of live device identifiers per account. A test can script the next answer of a
// path (any status, with or without "error", a body that is not JSON, "replaced": false with a
// "replaceError", ...), hold answers back, delay them, and read every request that arrived.
//
// Runs on a thread of its own; every member may be called from any thread.
class AccountApiDouble {
public:
    struct IssuedGrant {
        std::string account;
        std::string token;
        std::string jti;
        int64_t expires = 0;
        double ttlHours = 0;
        bool revoked = false;
    };
    struct IssuedShare {
        std::string account;
        std::string code;
        std::string payload;
        int64_t expires = 0;
        int uses = 0;
    };

    // Writes the authority and the server's certificate into `directory` and listens on 127.0.0.1 at
    // `port` (0: a free one).
    explicit AccountApiDouble(const std::filesystem::path& directory, uint16_t port = 0);
    ~AccountApiDouble();
    AccountApiDouble(const AccountApiDouble&) = delete;
    AccountApiDouble& operator=(const AccountApiDouble&) = delete;

    std::string host() const { return "127.0.0.1"; }
    uint16_t port() const { return port_; }
    const std::string& caFile() const { return certificates_.caFile; }

    // The service's own behaviour.
    std::string addAccount(const std::string& name, const std::string& password); // returns its token
    void requireInvitation(const std::string& code);
    void setGrantIdsInAnswers(bool on); // "jti" in grant answers (the default); the token carries it anyway
    // The device identifiers /v1/presence reports as live for the account, as given.
    void setLive(const std::string& account, std::vector<std::string> deviceIds);
    // A share code that /v1/claim redeems `uses` times for `payload`, valid for ten minutes.
    std::string addShare(const std::string& account, const std::string& code, const std::string& payload, int uses = 1);

    // The writing assistant: generations each account may have (5 unless set), and the text the
    // cloud answers with ("Quib's answer." unless set).
    void setQuibQuota(int perAccount);
    void setAssistantAnswer(const std::string& text);

    // Scripting.
    void script(const std::string& path, AccountApiReply reply); // for the next request to `path`, in order
    void holdReplies(bool on);                                   // every answer waits for releaseHeld()
    void releaseHeld();
    void setReplyDelay(std::chrono::milliseconds delay);

    // What happened.
    std::vector<AccountApiRequest> requests() const;
    std::vector<AccountApiRequest> requests(const std::string& path) const;
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    bool waitForHeld(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    std::size_t heldCount() const;
    std::size_t mostOpenAtOnce() const; // requests received and not yet answered, at most
    std::vector<IssuedGrant> grants() const;
    std::vector<IssuedShare> shares() const;
    std::vector<std::string> accountTokens() const;

private:
    struct Server;
    AccountApiReply serve(const AccountApiRequest& request); // the service, under lock_
    AccountApiReply signUp(const QJsonObject& body);
    AccountApiReply signIn(const QJsonObject& body);
    AccountApiReply grant(const std::string& account, const QJsonObject& body);
    AccountApiReply share(const std::string& account, const QJsonObject& body);
    AccountApiReply presence(const std::string& account);
    AccountApiReply claim(const QJsonObject& body);
    AccountApiReply quibGrant(const std::string& account);
    AccountApiReply chat(const AccountApiRequest& request);
    std::optional<std::string> accountOf(const AccountApiRequest& request) const;
    AccountApiReply received(AccountApiRequest request); // records it and picks the answer
    void answered();
    void released(std::size_t count);
    std::chrono::milliseconds replyDelay() const;

    TestCertificates certificates_;
    uint16_t port_ = 0;

    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    struct Account {
        std::string password;
        std::string token;
    };
    std::map<std::string, Account> accounts_;
    std::optional<std::string> invitation_;
    bool grantIds_ = true;
    std::map<std::string, std::vector<AccountApiReply>> scripted_;
    bool holdAll_ = false;
    std::chrono::milliseconds delay_{0};
    std::vector<AccountApiRequest> requests_;
    std::size_t open_ = 0;
    std::size_t mostOpen_ = 0;
    std::size_t held_ = 0;
    std::vector<IssuedGrant> grants_;
    std::vector<IssuedShare> shares_;
    std::map<std::string, std::vector<std::string>> live_;
    int quibQuota_ = 5;
    std::map<std::string, int> quibUsed_;
    std::map<std::string, bool> quibTokens_; // issued, and whether spent
    std::string assistantAnswer_ = "Quib's answer.";

    std::unique_ptr<Server> server_; // lives on queue_
    SerialQueue queue_{"accountapi.double"};
};

} // namespace dovrel::test
