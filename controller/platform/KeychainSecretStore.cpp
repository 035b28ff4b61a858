#include "controller/platform/KeychainSecretStore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

#include "controller/platform/ClientLog.h"

namespace dovrel::controller {

namespace {

// Bus names under which a keychain answers: the Secret Service (GNOME Keyring, KeePassXC, …) and
// KWallet, which QtKeychain prefers on Plasma.
const char* const keychainBusNames[] = {"org.freedesktop.secrets", "org.kde.kwalletd6", "org.kde.kwalletd5",
                                        "org.kde.kwalletd"};

constexpr int timedOutCode = -1;

QString qtext(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// What a finished job left behind; shared with the job's callback, which may outlive a timed-out wait.
struct JobResult {
    bool finished = false;
    QKeychain::Error error = QKeychain::NoError;
    QString message;
    QByteArray data;
};

// Starts the job and spins a local event loop until it finishes or the time-out passes. The job
// deletes itself when it finishes, even after the wait gave up on it.
template <typename Job> std::shared_ptr<JobResult> runJob(Job* job, std::chrono::milliseconds timeout) {
    auto result = std::make_shared<JobResult>();
    job->setAutoDelete(true);
    QEventLoop loop;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [result, &loop](QKeychain::Job* j) {
        result->finished = true;
        result->error = j->error();
        result->message = j->errorString();
        if (auto* r = qobject_cast<QKeychain::ReadPasswordJob*>(j)) result->data = r->binaryData();
        loop.quit();
    });
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    job->start();
    if (!result->finished) loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!result->finished) QObject::disconnect(job, nullptr, &loop, nullptr);
    return result;
}

} // namespace

KeychainSecretStore::KeychainSecretStore(std::shared_ptr<FileSecretStore> fallback, std::chrono::milliseconds timeout)
    : fallback_(std::move(fallback)), timeout_(timeout) {}

bool KeychainSecretStore::keychainServiceAvailable() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    QDBusConnectionInterface* iface = bus.interface();
    const QDBusReply<QStringList> activatable = iface->activatableServiceNames();
    for (const char* name : keychainBusNames) {
        const QString n = QString::fromLatin1(name);
        const QDBusReply<bool> registered = iface->isServiceRegistered(n);
        if (registered.isValid() && registered.value()) return true;
        if (activatable.isValid() && activatable.value().contains(n)) return true;
    }
    return false;
}

bool KeychainSecretStore::available() {
    if (availability_ < 0) availability_ = keychainServiceAvailable() ? 1 : 0;
    if (availability_ == 0) noteFallback("no keychain service on the session bus");
    return availability_ == 1;
}

void KeychainSecretStore::noteFallback(std::string_view why) {
    if (fallbackNoted_) return;
    fallbackNoted_ = true;
    clientLog(std::string("secrets: ") + std::string(why) + " - keeping secrets in owner-only files under " +
              fallback_->dir());
}

SecretRead KeychainSecretStore::read(std::string_view service, std::string_view account) {
    SecretRead fromKeychain = SecretRead::notFound();
    if (available()) {
        auto* job = new QKeychain::ReadPasswordJob(qtext(service));
        job->setKey(qtext(account));
        const auto r = runJob(job, timeout_);
        if (!r->finished)
            fromKeychain = SecretRead::failed(timedOutCode, "the keychain did not answer");
        else if (r->error == QKeychain::NoError)
            return SecretRead::found(wex::Bytes(r->data.begin(), r->data.end()));
        else if (r->error != QKeychain::EntryNotFound)
            fromKeychain = SecretRead::failed(static_cast<int>(r->error), r->message.toStdString());
    }
    SecretRead fromFile = fallback_->read(service, account);
    if (fromFile.outcome == SecretRead::Outcome::found) return fromFile;
    if (fromKeychain.outcome == SecretRead::Outcome::failed) return fromKeychain;
    return fromFile;
}

SecretWrite KeychainSecretStore::write(std::string_view service, std::string_view account, wex::ByteView data) {
    if (available()) {
        auto* job = new QKeychain::WritePasswordJob(qtext(service));
        job->setKey(qtext(account));
        job->setBinaryData(QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size())));
        const auto r = runJob(job, timeout_);
        if (r->finished && r->error == QKeychain::NoError) {
            // One place per item: an older file copy would otherwise shadow nothing but linger on disk.
            fallback_->remove(service, account);
            return {true, 0, {}};
        }
        noteFallback(r->finished ? "the keychain refused to store an item (" + r->message.toStdString() + ")"
                                 : std::string("the keychain did not answer"));
    }
    return fallback_->write(service, account, data);
}

bool KeychainSecretStore::remove(std::string_view service, std::string_view account) {
    bool gone = true;
    if (available()) {
        auto* job = new QKeychain::DeletePasswordJob(qtext(service));
        job->setKey(qtext(account));
        const auto r = runJob(job, timeout_);
        gone = r->finished && (r->error == QKeychain::NoError || r->error == QKeychain::EntryNotFound);
    }
    return fallback_->remove(service, account) && gone;
}

std::shared_ptr<SecretStore> makeSystemSecretStore() {
    return std::make_shared<KeychainSecretStore>(std::make_shared<FileSecretStore>(FileSecretStore::defaultDir()));
}

} // namespace dovrel::controller
