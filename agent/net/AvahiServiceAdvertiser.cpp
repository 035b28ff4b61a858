#include <mutex>
#include <optional>

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>

#include "agent/common/AgentLog.h"
#include "agent/net/ServiceAdvertiser.h"

namespace dovrel::agent {

namespace {

struct PollDeleter {
    void operator()(AvahiThreadedPoll* p) const { avahi_threaded_poll_free(p); }
};
struct ClientDeleter {
    void operator()(AvahiClient* c) const { avahi_client_free(c); }
};
struct StringListDeleter {
    void operator()(AvahiStringList* l) const { avahi_string_list_free(l); }
};

// Avahi calls back on its own poll thread; every touch of the client or group from another thread
// happens under the poll's lock.
class AvahiServiceAdvertiser final : public ServiceAdvertiser {
public:
    AvahiServiceAdvertiser() : poll_(avahi_threaded_poll_new()) {
        if (!poll_) {
            print("⚠︎ local advertisement unavailable — could not start its event loop");
            return;
        }
        int error = 0;
        client_.reset(
            avahi_client_new(avahi_threaded_poll_get(poll_.get()), AVAHI_CLIENT_NO_FAIL, &clientChanged, this, &error));
        if (!client_) {
            print(std::string("⚠︎ local advertisement unavailable — ") + avahi_strerror(error));
            return;
        }
        avahi_threaded_poll_start(poll_.get());
    }

    ~AvahiServiceAdvertiser() override {
        if (poll_) avahi_threaded_poll_stop(poll_.get());
        group_ = nullptr; // freed with the client
        client_.reset();
    }

    void publish(const std::string& name, uint16_t port, const wex::DovrelService::TxtRecord& txt) override {
        if (!client_) return;
        avahi_threaded_poll_lock(poll_.get());
        wanted_ = Service{name, port, txt};
        if (avahi_client_get_state(client_.get()) == AVAHI_CLIENT_S_RUNNING) registerUnderLock(client_.get());
        avahi_threaded_poll_unlock(poll_.get());
    }

    void withdraw() override {
        if (!client_) return;
        avahi_threaded_poll_lock(poll_.get());
        wanted_.reset();
        if (group_) avahi_entry_group_reset(group_);
        avahi_threaded_poll_unlock(poll_.get());
    }

private:
    struct Service {
        std::string name;
        uint16_t port = 0;
        wex::DovrelService::TxtRecord txt;
    };

    static void clientChanged(AvahiClient* c, AvahiClientState state, void* self) {
        static_cast<AvahiServiceAdvertiser*>(self)->onClientState(c, state);
    }
    static void groupChanged(AvahiEntryGroup* g, AvahiEntryGroupState state, void* self) {
        static_cast<AvahiServiceAdvertiser*>(self)->onGroupState(avahi_entry_group_get_client(g), state);
    }

    // On the poll thread with its lock held, or inside avahi_client_new (before client_ is set): use
    // the client Avahi passes in.
    void onClientState(AvahiClient* c, AvahiClientState state) {
        switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            if (wanted_) registerUnderLock(c);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            if (group_) avahi_entry_group_reset(group_);
            break;
        case AVAHI_CLIENT_FAILURE:
            group_ = nullptr; // the daemon went away; the client no longer knows the group
            print(std::string("⚠︎ local advertisement lost — ") + avahi_strerror(avahi_client_errno(c)));
            break;
        case AVAHI_CLIENT_CONNECTING:
            group_ = nullptr;
            if (!warnedConnecting_) {
                print("⚠︎ local advertisement waiting — the Avahi daemon is not running");
                warnedConnecting_ = true;
            }
            break;
        }
    }

    void onGroupState(AvahiClient* c, AvahiEntryGroupState state) {
        if (state == AVAHI_ENTRY_GROUP_COLLISION && wanted_) {
            char* alt = avahi_alternative_service_name(wanted_->name.c_str());
            wanted_->name = alt;
            avahi_free(alt);
            registerUnderLock(c);
        } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
            print(std::string("⚠︎ local advertisement failed — ") + avahi_strerror(avahi_client_errno(c)));
        }
    }

    void registerUnderLock(AvahiClient* c) {
        if (!group_) group_ = avahi_entry_group_new(c, &groupChanged, this);
        if (!group_) {
            print(std::string("⚠︎ local advertisement failed — ") + avahi_strerror(avahi_client_errno(c)));
            return;
        }
        avahi_entry_group_reset(group_);
        std::unique_ptr<AvahiStringList, StringListDeleter> list;
        for (const auto& [key, value] : wanted_->txt)
            list.reset(avahi_string_list_add_pair(list.release(), key.c_str(), value.c_str()));
        const std::string type(wex::DovrelService::type);
        int rc = avahi_entry_group_add_service_strlst(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                                                      wanted_->name.c_str(), type.c_str(), nullptr, nullptr,
                                                      wanted_->port, list.get());
        if (rc == AVAHI_ERR_COLLISION) {
            onGroupState(c, AVAHI_ENTRY_GROUP_COLLISION);
            return;
        }
        if (rc >= 0) rc = avahi_entry_group_commit(group_);
        if (rc < 0) print(std::string("⚠︎ local advertisement failed — ") + avahi_strerror(rc));
    }

    std::unique_ptr<AvahiThreadedPoll, PollDeleter> poll_;
    std::unique_ptr<AvahiClient, ClientDeleter> client_;
    AvahiEntryGroup* group_ = nullptr; // owned by the client
    std::optional<Service> wanted_;
    bool warnedConnecting_ = false;
};

} // namespace

std::unique_ptr<ServiceAdvertiser> makeAvahiAdvertiser() { return std::make_unique<AvahiServiceAdvertiser>(); }

} // namespace dovrel::agent
