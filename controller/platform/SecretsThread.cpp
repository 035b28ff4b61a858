#include "controller/platform/SecretsThread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace dovrel::controller {

SecretsThread::SecretsThread(std::shared_ptr<SecretStore> store, std::chrono::milliseconds drainLimit)
    : store_(std::move(store)), drainLimit_(drainLimit), replies_(std::make_shared<Replies>()),
      worker_(std::make_unique<QObject>()) {
    replies_->object = std::make_unique<QObject>();
    thread_.setObjectName(QStringLiteral("dovrel.secrets"));
    worker_->moveToThread(&thread_);
    thread_.start();
}

SecretsThread::~SecretsThread() {
    {
        std::lock_guard held(replies_->lock);
        replies_->object.reset();
    }
    // The thread stops once it reaches this point of its queue.
    QMetaObject::invokeMethod(
        worker_.get(), [thread = &thread_] { thread->quit(); }, Qt::QueuedConnection);
    const QDeadlineTimer deadline(drainLimit_);
    if (*pending_ > 0 && QCoreApplication::instance()) {
        // A keychain call runs on this thread's event loop: it keeps turning while the work drains.
        while (!thread_.wait(QDeadlineTimer(10)) && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    }
    if (!thread_.wait(deadline)) {
        // Quitting also ends the event loop a keychain call waits in, and any it would start later.
        thread_.quit();
        thread_.wait();
    }
    worker_.reset();
}

void SecretsThread::post(std::function<void(SecretStore&)> work) {
    ++*pending_;
    QMetaObject::invokeMethod(
        worker_.get(),
        [store = store_, pending = pending_, work = std::move(work)] {
            work(*store);
            --*pending;
        },
        Qt::QueuedConnection);
}

} // namespace dovrel::controller
