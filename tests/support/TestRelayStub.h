#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QSslServer>
#include <QSslSocket>

#include "TempHome.h"
#include "protocol/Bytes.h"

namespace dovrel::test {

class TestAgent;

// A certificate authority and a server certificate for "localhost" and 127.0.0.1, made when the test
// starts (makeTestCertificates). `available()` is false, with `reason()`, when that failed.
class TestCertificate {
public:
    TestCertificate();
    bool available() const { return ok_; }
    const std::string& reason() const { return reason_; }
    std::string caFile() const { return dir_.file("ca.pem"); }
    std::string certFile() const { return dir_.file("server.pem"); }
    std::string keyFile() const { return dir_.file("server.key"); }

private:
    TempDir dir_;
    bool ok_ = false;
    std::string reason_;
};

// A scripted relay for the controller's tests: a TLS server on loopback that reads a client's
// registration preamble, answers it as told (nothing, an ownership nonce, or a redirect; whole or a
// byte at a time), and then splices the stream to the test agent routed for the room. A fuller relay
// double with agents registering over their own links stands beside it in later tests.
class TestRelayStub final : public QObject {
public:
    enum class Reply { none, nonce, redirect };

    struct Registration {
        int version = 0;
        uint8_t role = 0;
        std::string account;
        std::string room;
        std::string token;
        wex::Bytes pubKey;
    };

    explicit TestRelayStub(const TestCertificate& cert, QObject* parent = nullptr);
    ~TestRelayStub() override;

    bool listen(uint16_t port = 0);
    uint16_t port() const { return server_.serverPort(); }

    // The agent a room's controller is spliced to; `anyRoom` takes every room without its own route.
    void route(const std::string& room, TestAgent* agent) { routes_[room] = agent; }
    TestAgent* anyRoom = nullptr;

    Reply reply = Reply::none;
    wex::Bytes nonce = wex::Bytes(32, 0x5a); // the 32 bytes after "DRLYN"
    std::string redirectTarget;              // "host:port"
    bool replyByteByByte = false;            // every reply byte in its own TLS record, apart in time
    // Bytes written after the reply and before the splice, as if the agent had already spoken.
    wex::Bytes afterReply;

    // What it saw.
    std::vector<Registration> registrations;
    int handshakesBegun = 0; // TLS handshakes, whether they came through or not
    int connectionsAccepted = 0;
    int connectionsEnded = 0;

private:
    struct Client;
    void onConnection();
    void onReadable(Client* c);
    void answer(Client* c, const Registration& reg, const QByteArray& rest);

    QSslServer server_;
    std::map<std::string, TestAgent*> routes_;
    std::vector<std::unique_ptr<Client>> clients_;
};

} // namespace dovrel::test
