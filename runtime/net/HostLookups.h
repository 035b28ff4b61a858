#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/net/HostResolver.h"

class QObject;

namespace dovrel {

// The host name lookups of one owner (the region picker, a relay link, an HTTP client), on a few threads
// of its own ("dovrel.lookup"), so that a resolver that does not answer holds at most that many threads
// however many callers ask; the others wait their turn, and one whose caller gave up is never looked up.
// A thread inside a lookup when the owner goes is left to finish it by itself: it holds only what it
// shares with the lookups (the resolver and the queue), never the owner or a caller. Not Qt's lookups:
// they run on its network library's threads, and one still running as the program ends crashes that
// library's clean-up at exit.
class HostLookups {
public:
    static constexpr std::size_t maxThreads = 3;

    // One lookup, for its caller to give up on.
    class Lookup {
    public:
        // Nothing is delivered from now on. On the receiver's thread.
        void forget();

    private:
        friend class HostLookups;
        Lookup(std::string host, QObject* receiver, std::function<void(std::vector<std::string>)> done);
        bool wanted();
        void deliver(std::vector<std::string> found);

        const std::string host_;
        std::mutex lock_;
        QObject* receiver_;
        const std::function<void(std::vector<std::string>)> done_;
    };

    explicit HostLookups(std::shared_ptr<HostResolver> resolver);
    // Drops the lookups not yet begun.
    ~HostLookups();
    HostLookups(const HostLookups&) = delete;
    HostLookups& operator=(const HostLookups&) = delete;

    // `done` runs on `receiver`'s thread with the addresses (none when the name has none), unless the
    // lookup was forgotten first. Any thread.
    std::shared_ptr<Lookup> start(const std::string& host, QObject* receiver,
                                  std::function<void(std::vector<std::string>)> done);

private:
    struct Shared;
    static void work(const std::shared_ptr<Shared>& shared);
    std::shared_ptr<Shared> shared_;
};

} // namespace dovrel
