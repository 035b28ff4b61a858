#include "tests/support/accountapi/AccountApiDouble.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTimer>

namespace dovrel::test {

namespace {

int64_t nowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string randomHex(std::size_t digits) {
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < digits; ++i)
        out += hex[QRandomGenerator::global()->bounded(16)];
    return out;
}

std::string hexOf(const std::string& bytes) {
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : bytes) {
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

std::string randomShareCode() {
    static const char* alphabet = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    std::string out;
    for (int i = 0; i < 8; ++i) {
        if (i == 4) out += '-';
        out += alphabet[QRandomGenerator::global()->bounded(32)];
    }
    return out;
}

const char* reasonPhrase(int status) {
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

AccountApiReply refusal(int status, const char* error) { return AccountApiReply::json(status, {{"error", error}}); }

std::string text(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(key);
    return v.isString() ? v.toString().toStdString() : std::string();
}

} // namespace

std::string AccountApiRequest::header(const std::string& lowerName) const {
    const auto found = headers.find(lowerName);
    return found == headers.end() ? std::string() : found->second;
}

QJsonObject AccountApiRequest::json() const {
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(body));
    return doc.isObject() ? doc.object() : QJsonObject();
}

AccountApiReply AccountApiReply::json(int status, const QJsonObject& object) {
    return {status, QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString(), {}, false};
}

AccountApiReply AccountApiReply::raw(int status, std::string body) { return {status, std::move(body), {}, false}; }

// The listening socket and the connections; lives on the double's thread.
struct AccountApiDouble::Server {
    struct Held {
        QPointer<QSslSocket> socket;
        AccountApiReply reply;
    };

    explicit Server(AccountApiDouble& o) : owner(o) {}
    ~Server() {
        // The sockets are the server's children and go with it: their last signals must not reach the
        // maps below, which are gone by then.
        server.close();
        for (QObject* child : server.children())
            QObject::disconnect(child, nullptr, nullptr, nullptr);
    }

    AccountApiDouble& owner;
    QSslServer server;
    std::map<QSslSocket*, QByteArray> buffers;
    std::vector<Held> held;

    void accept() {
        while (server.hasPendingConnections()) {
            auto* socket = qobject_cast<QSslSocket*>(server.nextPendingConnection());
            if (!socket) continue;
            buffers[socket];
            QObject::connect(socket, &QSslSocket::readyRead, socket, [this, socket] { read(socket); });
            QObject::connect(socket, &QSslSocket::disconnected, socket, [this, socket] {
                buffers.erase(socket);
                socket->deleteLater();
            });
            read(socket);
        }
    }

    void read(QSslSocket* socket) {
        QByteArray& buffer = buffers[socket];
        buffer += socket->readAll();
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0) return;
        const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
        AccountApiRequest request;
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0).toStdString();
        request.path = first.value(1).toStdString();
        qsizetype length = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0) continue;
            const std::string name = line.left(colon).trimmed().toLower().toStdString();
            const std::string value = line.mid(colon + 1).trimmed().toStdString();
            request.headers[name] = value;
            if (name == "content-length") length = QByteArray::fromStdString(value).toLongLong();
        }
        if (buffer.size() < headEnd + 4 + length) return; // the body is still on its way
        request.body = buffer.mid(headEnd + 4, length).toStdString();
        buffer.remove(0, headEnd + 4 + length);

        const AccountApiReply reply = owner.received(std::move(request));
        const QPointer<QSslSocket> target(socket);
        if (reply.hold) {
            held.push_back({target, reply});
            return;
        }
        const auto delay = owner.replyDelay();
        if (delay.count() > 0)
            QTimer::singleShot(delay, &server, [this, target, reply] { send(target, reply); });
        else
            send(target, reply);
    }

    void send(const QPointer<QSslSocket>& socket, const AccountApiReply& reply) {
        owner.answered();
        if (!socket) return; // the client gave up
        std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reasonPhrase(reply.status) + "\r\n";
        head += "Content-Type: application/json\r\n";
        head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
        for (const auto& [name, value] : reply.headers)
            head += name + ": " + value + "\r\n";
        head += "Connection: close\r\n\r\n";
        socket->write(QByteArray::fromStdString(head + reply.body));
        socket->disconnectFromHost();
    }

    void releaseHeld() {
        std::vector<Held> now = std::move(held);
        held.clear();
        owner.released(now.size());
        for (const Held& h : now)
            send(h.socket, h.reply);
    }
};

AccountApiDouble::AccountApiDouble(const std::filesystem::path& directory, uint16_t port)
    : certificates_(makeTestCertificates(directory)) {
    bool listening = false;
    queue_.sync([&] {
        server_ = std::make_unique<Server>(*this);
        QFile keyFile(QString::fromStdString(certificates_.keyFile));
        if (!keyFile.open(QIODevice::ReadOnly)) return;
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(QSslCertificate::fromPath(QString::fromStdString(certificates_.certFile)).value(0));
        tls.setPrivateKey(QSslKey(&keyFile, QSsl::Ec));
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        server_->server.setSslConfiguration(tls);
        Server* s = server_.get();
        QObject::connect(&s->server, &QTcpServer::pendingConnectionAvailable, &s->server, [s] { s->accept(); });
        listening = s->server.listen(QHostAddress::LocalHost, port);
        port_ = s->server.serverPort();
    });
    if (!listening) {
        queue_.sync([&] { server_.reset(); });
        throw std::runtime_error("the account API double cannot listen");
    }
}

AccountApiDouble::~AccountApiDouble() {
    queue_.sync([&] { server_.reset(); });
}

std::string AccountApiDouble::addAccount(const std::string& name, const std::string& password) {
    const std::lock_guard g(lock_);
    Account& a = accounts_[name];
    a.password = password;
    a.token = "dat." + randomHex(32);
    return a.token;
}

void AccountApiDouble::requireInvitation(const std::string& code) {
    const std::lock_guard g(lock_);
    invitation_ = code;
}

void AccountApiDouble::setGrantIdsInAnswers(bool on) {
    const std::lock_guard g(lock_);
    grantIds_ = on;
}

void AccountApiDouble::script(const std::string& path, AccountApiReply reply) {
    const std::lock_guard g(lock_);
    scripted_[path].push_back(std::move(reply));
}

void AccountApiDouble::holdReplies(bool on) {
    const std::lock_guard g(lock_);
    holdAll_ = on;
}

void AccountApiDouble::releaseHeld() {
    queue_.sync([&] { server_->releaseHeld(); });
}

void AccountApiDouble::setReplyDelay(std::chrono::milliseconds delay) {
    const std::lock_guard g(lock_);
    delay_ = delay;
}

std::chrono::milliseconds AccountApiDouble::replyDelay() const {
    const std::lock_guard g(lock_);
    return delay_;
}

void AccountApiDouble::setQuibQuota(int perAccount) {
    const std::lock_guard g(lock_);
    quibQuota_ = perAccount;
}

void AccountApiDouble::setAssistantAnswer(const std::string& text) {
    const std::lock_guard g(lock_);
    assistantAnswer_ = text;
}

void AccountApiDouble::setLive(const std::string& account, std::vector<std::string> deviceIds) {
    const std::lock_guard g(lock_);
    live_[account] = std::move(deviceIds);
}

std::string AccountApiDouble::addShare(const std::string& account, const std::string& code, const std::string& payload,
                                       int uses) {
    const std::lock_guard g(lock_);
    shares_.push_back({account, code, payload, nowSeconds() + 600, uses});
    return code;
}

std::vector<AccountApiRequest> AccountApiDouble::requests() const {
    const std::lock_guard g(lock_);
    return requests_;
}

std::vector<AccountApiRequest> AccountApiDouble::requests(const std::string& path) const {
    const std::lock_guard g(lock_);
    std::vector<AccountApiRequest> out;
    for (const auto& r : requests_)
        if (r.path == path) out.push_back(r);
    return out;
}

bool AccountApiDouble::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock g(lock_);
    return changed_.wait_for(g, timeout, [&] { return requests_.size() >= count; });
}

bool AccountApiDouble::waitForHeld(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock g(lock_);
    return changed_.wait_for(g, timeout, [&] { return held_ >= count; });
}

std::size_t AccountApiDouble::heldCount() const {
    const std::lock_guard g(lock_);
    return held_;
}

std::size_t AccountApiDouble::mostOpenAtOnce() const {
    const std::lock_guard g(lock_);
    return mostOpen_;
}

std::vector<AccountApiDouble::IssuedGrant> AccountApiDouble::grants() const {
    const std::lock_guard g(lock_);
    return grants_;
}

std::vector<AccountApiDouble::IssuedShare> AccountApiDouble::shares() const {
    const std::lock_guard g(lock_);
    return shares_;
}

std::vector<std::string> AccountApiDouble::accountTokens() const {
    const std::lock_guard g(lock_);
    std::vector<std::string> out;
    for (const auto& [name, account] : accounts_)
        out.push_back(account.token);
    return out;
}

AccountApiReply AccountApiDouble::received(AccountApiRequest request) {
    const std::lock_guard g(lock_);
    requests_.push_back(request);
    mostOpen_ = std::max(mostOpen_, ++open_);
    AccountApiReply reply;
    auto& queued = scripted_[request.path];
    if (!queued.empty()) {
        reply = std::move(queued.front());
        queued.erase(queued.begin());
    } else {
        reply = serve(request);
    }
    if (holdAll_) reply.hold = true;
    if (reply.hold) ++held_;
    changed_.notify_all();
    return reply;
}

void AccountApiDouble::answered() {
    const std::lock_guard g(lock_);
    --open_;
    changed_.notify_all();
}

void AccountApiDouble::released(std::size_t count) {
    const std::lock_guard g(lock_);
    held_ -= count;
    changed_.notify_all();
}

std::optional<std::string> AccountApiDouble::accountOf(const AccountApiRequest& request) const {
    const std::string authorization = request.header("authorization");
    if (authorization.rfind("Bearer ", 0) != 0) return std::nullopt;
    const std::string token = authorization.substr(7);
    for (const auto& [name, account] : accounts_)
        if (!token.empty() && account.token == token) return name;
    return std::nullopt;
}

AccountApiReply AccountApiDouble::serve(const AccountApiRequest& request) {
    if (request.path == "/v1/presence") {
        if (request.method != "GET") return refusal(405, "GET only.");
        const auto account = accountOf(request);
        if (!account) return refusal(401, "Sign in again.");
        return presence(*account);
    }
    if (request.method != "POST") return refusal(405, "POST only.");
    if (request.path == "/v1/chat/completions") return chat(request);
    const QJsonObject body = request.json();
    if (request.path == "/v1/signup") return signUp(body);
    if (request.path == "/v1/signin") return signIn(body);
    if (request.path == "/v1/claim") return claim(body);
    if (request.path != "/v1/grant" && request.path != "/v1/share" && request.path != "/v1/quib/grant")
        return refusal(404, "No such endpoint.");
    const auto account = accountOf(request);
    if (!account) return refusal(401, "Sign in again.");
    if (request.path == "/v1/quib/grant") return quibGrant(*account);
    return request.path == "/v1/grant" ? grant(*account, body) : share(*account, body);
}

AccountApiReply AccountApiDouble::signUp(const QJsonObject& body) {
    const std::string name = text(body, "account"), password = text(body, "password");
    if (name.empty() || password.empty() || !body.value("code").isString())
        return refusal(400, "Account, password and code are required.");
    if (invitation_ && text(body, "code") != *invitation_) return refusal(403, "That invitation code is not valid.");
    if (accounts_.count(name)) return refusal(409, "That account name is taken.");
    Account& a = accounts_[name];
    a.password = password;
    a.token = "dat." + randomHex(32);
    return AccountApiReply::json(
        200, {{"account", QString::fromStdString(name)}, {"token", QString::fromStdString(a.token)}});
}

AccountApiReply AccountApiDouble::signIn(const QJsonObject& body) {
    const std::string name = text(body, "account"), password = text(body, "password");
    const auto found = accounts_.find(name);
    if (found == accounts_.end() || found->second.password != password || !body.value("code").isString())
        return refusal(401, "Wrong account name or password.");
    return AccountApiReply::json(
        200, {{"account", QString::fromStdString(name)}, {"token", QString::fromStdString(found->second.token)}});
}

AccountApiReply AccountApiDouble::presence(const std::string& account) {
    QJsonArray live;
    for (const std::string& id : live_[account])
        live.append(QString::fromStdString(id));
    return AccountApiReply::json(200, {{"account", QString::fromStdString(account)}, {"live", live}});
}

AccountApiReply AccountApiDouble::claim(const QJsonObject& body) {
    const QJsonValue code = body.value("code");
    if (!code.isString() || code.toString().isEmpty()) return refusal(400, "A code is required.");
    // Codes are compared the way people type them: without the hyphen, in any case.
    const auto bare = [](std::string c) {
        std::string out;
        for (const char ch : c)
            if (ch != '-') out += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        return out;
    };
    const std::string wanted = bare(code.toString().toStdString());
    const int64_t now = nowSeconds();
    for (IssuedShare& s : shares_) {
        if (bare(s.code) != wanted || s.uses < 1 || s.expires < now) continue;
        --s.uses;
        return AccountApiReply::json(200, {{"payload", QString::fromStdString(s.payload)}});
    }
    return refusal(404, "That code is unknown or has expired.");
}

AccountApiReply AccountApiDouble::grant(const std::string& account, const QJsonObject& body) {
    const QJsonValue ttl = body.value("ttlHours");
    if (!ttl.isDouble() || ttl.toDouble() < 0) return refusal(400, "ttlHours must be a number of hours.");
    const int64_t now = nowSeconds();
    IssuedGrant issued;
    issued.account = account;
    issued.ttlHours = ttl.toDouble();
    issued.expires = issued.ttlHours == 0 ? 0 : now + std::llround(issued.ttlHours * 3600);
    issued.jti = randomHex(16);
    issued.token = "dgt1." + hexOf(account) + "." + std::to_string(now) + "." + std::to_string(issued.expires) + "." +
                   randomHex(8) + "." + issued.jti + "." + randomHex(16);
    QJsonObject answer{{"token", QString::fromStdString(issued.token)},
                       {"expires", static_cast<qint64>(issued.expires)}};
    if (grantIds_) answer.insert("jti", QString::fromStdString(issued.jti));
    if (body.contains("replaces")) {
        const std::string id = text(body, "replaces");
        const auto old = std::find_if(grants_.begin(), grants_.end(), [&](const IssuedGrant& g) {
            return g.jti == id && g.account == account && !g.revoked;
        });
        if (old != grants_.end()) {
            old->revoked = true;
            answer.insert("replaced", true);
        } else {
            answer.insert("replaced", false);
            answer.insert("replaceError", QString::fromStdString("no live grant " + id + " on record"));
        }
    }
    grants_.push_back(issued);
    return AccountApiReply::json(200, answer);
}

AccountApiReply AccountApiDouble::share(const std::string& account, const QJsonObject& body) {
    const std::string payload = text(body, "payload");
    const QJsonValue ttl = body.value("ttlMinutes"), uses = body.value("uses");
    if (payload.empty() || !ttl.isDouble() || ttl.toDouble() <= 0 || !uses.isDouble() ||
        uses.toDouble() != std::floor(uses.toDouble()) || uses.toDouble() < 1)
        return refusal(400, "payload, ttlMinutes and uses are required.");
    IssuedShare issued{account, randomShareCode(), payload, nowSeconds() + std::llround(ttl.toDouble() * 60),
                       uses.toInt()};
    shares_.push_back(issued);
    return AccountApiReply::json(
        200, {{"code", QString::fromStdString(issued.code)}, {"expires", static_cast<qint64>(issued.expires)}});
}

AccountApiReply AccountApiDouble::quibGrant(const std::string& account) {
    int& used = quibUsed_[account];
    if (used >= quibQuota_)
        return AccountApiReply::json(
            429, {{"remaining", 0}, {"error", "You have used today's generations. Quib resets at midnight UTC."}});
    ++used;
    const std::string token = "qgt." + randomHex(32);
    quibTokens_[token] = false;
    return AccountApiReply::json(200, {{"remaining", quibQuota_ - used}, {"token", QString::fromStdString(token)}});
}

AccountApiReply AccountApiDouble::chat(const AccountApiRequest& request) {
    const auto found = quibTokens_.find(request.header("x-app-token"));
    if (found == quibTokens_.end() || found->second) return refusal(401, "That token is not valid.");
    found->second = true;
    if (!request.json().value("messages").isArray()) return refusal(400, "messages are required.");
    const QJsonObject message{{"role", "assistant"}, {"content", QString::fromStdString(assistantAnswer_)}};
    return AccountApiReply::json(200, {{"choices", QJsonArray{QJsonObject{{"index", 0}, {"message", message}}}}});
}

} // namespace dovrel::test
