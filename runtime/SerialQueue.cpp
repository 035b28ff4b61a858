#include "runtime/SerialQueue.h"

#include <cstdio>
#include <cstdlib>

#include <QMetaObject>
#include <QString>

#include "runtime/SignalStack.h"

namespace dovrel {

namespace {

// A queue's thread: its event loop, on a signal stack of its own.
class QueueThread final : public QThread {
protected:
    void run() override {
        armSignalStack();
        exec();
    }
};

} // namespace

SerialQueue::SerialQueue(const std::string& label)
    : label_(label), thread_(std::make_unique<QueueThread>()), context_(std::make_unique<QObject>()) {
    thread_->setObjectName(QString::fromStdString(label));
    context_->moveToThread(thread_.get());
    thread_->start();
}

SerialQueue::~SerialQueue() {
    // The objects the context owns (sockets, timers) must die on their own thread, and before the loop
    // stops: a delete merely posted ahead of quit() may never run.
    QMetaObject::invokeMethod(
        context_.get(), [this] { context_.reset(); }, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
}

void SerialQueue::post(std::function<void()> fn) const {
    const std::lock_guard guard(postLock_);
    if (!closed_) QMetaObject::invokeMethod(context_.get(), std::move(fn), Qt::QueuedConnection);
}

void SerialQueue::close() {
    {
        const std::lock_guard guard(postLock_);
        closed_ = true;
    }
    sync([] {});
}

void SerialQueue::sync(const std::function<void()>& fn) const {
    if (isCurrent()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(context_.get(), fn, Qt::BlockingQueuedConnection);
}

void SerialQueue::assertCurrent(const char* function) const {
    if (isCurrent()) return;
    std::fprintf(stderr, "!! FATAL: %s runs off its owner thread \"%s\"\n", function, label_.c_str());
    std::fflush(stderr);
    std::abort();
}

} // namespace dovrel
