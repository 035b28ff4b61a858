#include "runtime/net/HostLookups.h"

#include <algorithm>
#include <deque>
#include <thread>

#include <pthread.h>

#include <QMetaObject>
#include <QObject>

#include "runtime/SignalStack.h"

namespace dovrel {

struct HostLookups::Shared {
    std::shared_ptr<HostResolver> resolver;
    std::mutex lock;
    std::deque<std::shared_ptr<Lookup>> pending;
    std::size_t threads = 0;
    bool closed = false;
};

HostLookups::Lookup::Lookup(std::string host, QObject* receiver, std::function<void(std::vector<std::string>)> done)
    : host_(std::move(host)), receiver_(receiver), done_(std::move(done)) {}

void HostLookups::Lookup::forget() {
    const std::lock_guard guard(lock_);
    receiver_ = nullptr;
}

bool HostLookups::Lookup::wanted() {
    const std::lock_guard guard(lock_);
    return receiver_ != nullptr;
}

void HostLookups::Lookup::deliver(std::vector<std::string> found) {
    const std::lock_guard guard(lock_);
    if (receiver_)
        QMetaObject::invokeMethod(
            receiver_, [done = done_, found = std::move(found)] { done(found); }, Qt::QueuedConnection);
}

HostLookups::HostLookups(std::shared_ptr<HostResolver> resolver) : shared_(std::make_shared<Shared>()) {
    shared_->resolver = std::move(resolver);
}

HostLookups::~HostLookups() {
    const std::lock_guard guard(shared_->lock);
    shared_->closed = true;
    shared_->pending.clear();
}

std::shared_ptr<HostLookups::Lookup> HostLookups::start(const std::string& host, QObject* receiver,
                                                        std::function<void(std::vector<std::string>)> done) {
    auto lookup = std::shared_ptr<Lookup>(new Lookup(host, receiver, std::move(done)));
    const std::lock_guard guard(shared_->lock);
    // Those whose probes gave up while every thread was stuck go now: what waits stays within the probes.
    std::erase_if(shared_->pending, [](const std::shared_ptr<Lookup>& l) { return !l->wanted(); });
    shared_->pending.push_back(lookup);
    if (shared_->threads < maxThreads) {
        ++shared_->threads;
        // Never joined: one stuck in the resolver must not hold the picker, and it ends by itself once
        // nothing waits.
        std::thread([shared = shared_] { work(shared); }).detach();
    }
    return lookup;
}

void HostLookups::work(const std::shared_ptr<Shared>& shared) {
    armSignalStack();
    ::pthread_setname_np(::pthread_self(), "dovrel.lookup");
    for (;;) {
        std::shared_ptr<Lookup> next;
        {
            const std::lock_guard guard(shared->lock);
            while (!shared->pending.empty() && !shared->pending.front()->wanted())
                shared->pending.pop_front();
            if (shared->closed || shared->pending.empty()) {
                --shared->threads;
                return;
            }
            next = std::move(shared->pending.front());
            shared->pending.pop_front();
        }
        next->deliver(shared->resolver->addressesOf(next->host_));
    }
}

} // namespace dovrel
