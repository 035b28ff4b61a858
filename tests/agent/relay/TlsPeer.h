#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <QCoreApplication>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

#include "protocol/Bytes.h"

namespace dovrel::test {

inline QCoreApplication& qtApp() {
    static int argc = 1;
    static char arg0[] = "agent_relay_tests";
    static char* argv[] = {arg0, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the calling thread's event loop until `done` or the time-out; true when done.
inline bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    qtApp();
    QTimer tick; // wakes the wait below even when nothing else happens
    tick.start(5);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// A TLS client of the relay double that trusts only the test's certificate authority, on the test's
// own thread: what an agent or a controller would be to the relay, byte for byte.
class TlsPeer {
public:
    TlsPeer(uint16_t port, const std::string& caFile, const QString& host = QStringLiteral("127.0.0.1"))
        : socket_(std::make_unique<QSslSocket>()) {
        qtApp();
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(QSslCertificate::fromPath(QString::fromStdString(caFile)));
        tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
        socket_->setSslConfiguration(tls);
        QObject::connect(socket_.get(), &QSslSocket::readyRead, [this] { drain(); });
        QObject::connect(socket_.get(), &QSslSocket::disconnected, [this] {
            drain();
            closed_ = true;
        });
        QObject::connect(socket_.get(), &QSslSocket::errorOccurred, [this] {
            failed_ = true;
            if (socket_->state() == QAbstractSocket::UnconnectedState) closed_ = true;
        });
        socket_->connectToHostEncrypted(host, port);
        spinUntil([this] { return socket_->isEncrypted() || closed_ || failed_; }, std::chrono::seconds(10));
    }

    bool encrypted() const { return socket_->isEncrypted(); }
    QString error() const { return socket_->errorString(); }

    void send(wex::ByteView bytes) {
        socket_->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        socket_->flush();
    }
    void send(std::string_view text) {
        send(wex::ByteView(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    }

    // Waits for at least `n` bytes received in all; false on time-out.
    bool waitForBytes(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return spinUntil([&] { return rx_.size() >= n; }, timeout);
    }
    // Waits until the relay has closed this connection; false on time-out.
    bool waitClosed(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return spinUntil([&] { return closed_; }, timeout);
    }
    // Nothing arrives and the connection stays open for `quiet`.
    bool staysQuiet(std::chrono::milliseconds quiet) {
        const std::size_t before = rx_.size();
        spinUntil([&] { return rx_.size() != before || closed_; }, quiet);
        return rx_.size() == before && !closed_;
    }

    const wex::Bytes& received() const { return rx_; }
    wex::Bytes take() { return std::exchange(rx_, {}); }
    bool closed() const { return closed_; }

    // Closes this side in order: what was written goes out first. Incoming bytes (the server's session
    // tickets among them) are read before, since closing a TCP socket with unread bytes resets the
    // connection and throws away what it had not sent yet.
    void close() {
        spinUntil([] { return false; }, std::chrono::milliseconds(50));
        socket_->disconnectFromHost();
        waitClosed(std::chrono::seconds(5));
    }
    void abort() {
        socket_->abort();
        closed_ = true;
    }

private:
    void drain() {
        const QByteArray data = socket_->readAll();
        rx_.insert(rx_.end(), data.begin(), data.end());
    }

    std::unique_ptr<QSslSocket> socket_;
    wex::Bytes rx_;
    bool closed_ = false;
    bool failed_ = false;
};

} // namespace dovrel::test
