#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>

#include "controller/platform/SecretStore.h"

namespace dovrel::controller {

// The secret store's calls, one at a time and in order, on a thread of their own ("dovrel.secrets"):
// a keychain may take as long as its unlock prompt stays unanswered, and no window or session waits on
// it. Results come back on the thread that made this object, the main thread, which also keeps turning
// the keychain's own calls (KeychainSecretStore). Made and destroyed there.
class SecretsThread {
public:
    explicit SecretsThread(std::shared_ptr<SecretStore> store,
                           std::chrono::milliseconds drainLimit = std::chrono::seconds(3));
    // What was posted before still runs (a sign-in just made is kept), for `drainLimit` at most, with
    // this thread's events turning meanwhile; then a keychain wait in progress is given up (that call
    // reports no answer, and later ones do at once) and the rest is dropped. Results not yet delivered
    // are dropped first.
    ~SecretsThread();
    SecretsThread(const SecretsThread&) = delete;
    SecretsThread& operator=(const SecretsThread&) = delete;

    // Runs `work` with the store on the secrets thread.
    void post(std::function<void(SecretStore&)> work);

    // Runs `work` there, then `done` with its result on this object's own thread, unless `receiver` (an
    // object of that thread) is gone by then.
    template <typename T>
    void ask(std::function<T(SecretStore&)> work, QObject* receiver, std::function<void(T)> done) {
        QPointer<QObject> back(receiver);
        post([work = std::move(work), back, replies = replies_, done = std::move(done)](SecretStore& store) mutable {
            auto result = std::make_shared<T>(work(store));
            std::lock_guard held(replies->lock);
            if (!replies->object) return;
            QMetaObject::invokeMethod(
                replies->object.get(),
                [back, done = std::move(done), result] {
                    if (back) done(std::move(*result));
                },
                Qt::QueuedConnection);
        });
    }

private:
    // Where results are delivered, on the making thread; gone before the thread stops.
    struct Replies {
        std::mutex lock;
        std::unique_ptr<QObject> object;
    };

    std::shared_ptr<SecretStore> store_;
    std::chrono::milliseconds drainLimit_;
    std::shared_ptr<Replies> replies_;
    std::shared_ptr<std::atomic<int>> pending_ = std::make_shared<std::atomic<int>>(0); // posted, not yet run
    QThread thread_;
    std::unique_ptr<QObject> worker_; // on the secrets thread
};

} // namespace dovrel::controller
