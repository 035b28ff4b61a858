#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <QObject>
#include <QThread>

namespace dovrel {

// One owner thread with its own Qt event loop: the state a queue owns (sockets, timers, protocol
// state) lives in QObjects whose thread is this one, and every other thread reaches it by posting. The
// thread has an alternate signal stack of its own (armSignalStack).
//
// Naming: a function whose name ends in ...Locked runs on its owner thread, and says so by calling
// assertCurrent() first; a function that needs a mutex held by its caller ends in ...UnderLock.
// Nothing else carries either suffix.
class SerialQueue {
public:
    explicit SerialQueue(const std::string& label);
    // Destroys what the context owns on the owner thread, stops the loop and joins the thread; posted
    // work not yet run is dropped. Never destroy a queue from its own thread.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }

    // Runs `fn` on the owner thread, after work posted before it; nothing once the queue is closed.
    void post(std::function<void()> fn) const;
    // From now on post() drops what it is handed, so that a thread still holding the queue cannot reach
    // an owner that has begun to go; waits for the work posted before to run (unless called on the owner
    // thread). sync() still runs: its caller waits, so it holds the owner.
    void close();
    // Runs `fn` on the owner thread and waits for it; runs it directly when already there.
    void sync(const std::function<void()>& fn) const;
    bool isCurrent() const { return QThread::currentThread() == thread_.get(); }
    // Ends the process with a line naming `function` and this queue when called on any other thread:
    // state of an owner touched from elsewhere is a race that must not go unnoticed. Always checked.
    void assertCurrent(const char* function) const;

    // Parent or thread-affinity target for the QObjects this queue owns.
    QObject* context() const { return context_.get(); }
    QThread* thread() const { return thread_.get(); }

private:
    std::string label_;
    std::unique_ptr<QThread> thread_;
    std::unique_ptr<QObject> context_;
    mutable std::mutex postLock_; // a post under way ends before close() returns
    bool closed_ = false;
};

} // namespace dovrel
