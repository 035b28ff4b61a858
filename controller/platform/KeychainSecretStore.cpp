#include "controller/platform/KeychainSecretStore.h"

#include <functional>
#include <mutex>
#include <type_traits>

#include <QCoreApplication>
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

// What a job left behind.
struct JobResult {
    bool finished = false;
    QKeychain::Error error = QKeychain::NoError;
    QString message;
    QByteArray data;
};

// A job's result as it runs on the main thread, and the loop of the thread that waits for it.
struct JobState {
    std::mutex lock;
    JobResult result;
    QEventLoop* waiter = nullptr; // set while a thread waits
};

// The keychain library queues its calls on the thread that made the first one, and its desktop
// backend answers through the main thread's GLib context: so every job is made, started and finished
// on the main thread, without blocking it. The calling thread (the secrets thread; the main thread
// itself in tests) waits in a local event loop until the job finishes or the time-out passes, so the
// thread quitting ends the wait too. The job deletes itself when it finishes, even after the wait gave
// up on it.
JobResult runJob(std::function<QKeychain::Job*()> make, std::chrono::milliseconds timeout) {
    if (!QCoreApplication::instance()) return {}; // no main loop to run the job on: no answer
    auto state = std::make_shared<JobState>();
    QEventLoop loop;
    {
        std::lock_guard held(state->lock);
        state->waiter = &loop;
    }
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [state, make = std::move(make)] {
            QKeychain::Job* job = make();
            job->setAutoDelete(true);
            QObject::connect(job, &QKeychain::Job::finished, job, [state](QKeychain::Job* j) {
                std::lock_guard held(state->lock);
                state->result.finished = true;
                state->result.error = j->error();
                state->result.message = j->errorString();
                if (auto* r = qobject_cast<QKeychain::ReadPasswordJob*>(j)) state->result.data = r->binaryData();
                // Posted under the lock: the loop exists now, and a loop gone by delivery drops it.
                if (QEventLoop* w = state->waiter)
                    QMetaObject::invokeMethod(
                        w, [w] { w->quit(); }, Qt::QueuedConnection);
            });
            job->start();
        },
        Qt::QueuedConnection);
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    bool finished = false;
    {
        std::lock_guard held(state->lock);
        finished = state->result.finished;
    }
    if (!finished) loop.exec(QEventLoop::ExcludeUserInputEvents);
    std::lock_guard held(state->lock);
    state->waiter = nullptr;
    return state->result;
}

// A job of kind `Job` on the item `account` of `service`; a write stores `data`.
template <typename Job>
JobResult runJob(std::string_view service, std::string_view account, std::chrono::milliseconds timeout,
                 const QByteArray& data = {}) {
    return runJob(
        [service = qtext(service), key = qtext(account), data]() -> QKeychain::Job* {
            auto* job = new Job(service);
            job->setKey(key);
            if constexpr (std::is_same_v<Job, QKeychain::WritePasswordJob>) job->setBinaryData(data);
            return job;
        },
        timeout);
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
    if (availability_ == 0) noteFallback("no keyring service on the session bus");
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
        const auto r = runJob<QKeychain::ReadPasswordJob>(service, account, timeout_);
        if (!r.finished)
            fromKeychain = SecretRead::failed(timedOutCode, "the keyring did not answer");
        else if (r.error == QKeychain::NoError)
            return SecretRead::found(wex::Bytes(r.data.begin(), r.data.end()));
        else if (r.error != QKeychain::EntryNotFound)
            fromKeychain = SecretRead::failed(static_cast<int>(r.error), r.message.toStdString());
    }
    SecretRead fromFile = fallback_->read(service, account);
    if (fromFile.outcome == SecretRead::Outcome::found) return fromFile;
    if (fromKeychain.outcome == SecretRead::Outcome::failed) return fromKeychain;
    return fromFile;
}

SecretWrite KeychainSecretStore::write(std::string_view service, std::string_view account, wex::ByteView data) {
    if (available()) {
        const auto r = runJob<QKeychain::WritePasswordJob>(
            service, account, timeout_,
            QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size())));
        if (r.finished && r.error == QKeychain::NoError) {
            // One place per item: an older file copy would otherwise shadow nothing but linger on disk.
            fallback_->remove(service, account);
            return {true, 0, {}};
        }
        noteFallback(r.finished ? "the keyring refused to store an item (" + r.message.toStdString() + ")"
                                : std::string("the keyring did not answer"));
    }
    return fallback_->write(service, account, data);
}

bool KeychainSecretStore::remove(std::string_view service, std::string_view account) {
    bool gone = true;
    if (available()) {
        const auto r = runJob<QKeychain::DeletePasswordJob>(service, account, timeout_);
        gone = r.finished && (r.error == QKeychain::NoError || r.error == QKeychain::EntryNotFound);
    }
    return fallback_->remove(service, account) && gone;
}

std::shared_ptr<SecretStore> makeSystemSecretStore() {
    return std::make_shared<KeychainSecretStore>(std::make_shared<FileSecretStore>(FileSecretStore::defaultDir()));
}

} // namespace dovrel::controller
