#pragma once

#include <memory>
#include <optional>
#include <string>

#include "agent/core/LocalAddress.h"
#include "protocol/RelayIdentity.h"

namespace dovrel::agent {

// The pairing link this computer shows: who it is, where it is on the local network (only when its
// listeners are on), the pairing code, the relay and the access grant. Built once at start-up, then
// rebuilt on the main thread whenever one of them changes.
class PairingPublisher {
public:
    struct Device {
        std::string name; // as controllers see it
        std::string id;   // the relay room: 32 lower-case hex digits
        bool lanEnabled = false;
    };
    struct Published {
        std::string lanIP;
        std::string mac;
        std::string link;
    };

    // `address` may not be null.
    explicit PairingPublisher(std::unique_ptr<LocalAddress> address) : address_(std::move(address)) {}

    bool ready() const { return address_ != nullptr; }

    // Set at start-up, before anything reads it; read-only afterwards, from any thread.
    void setDevice(Device device) { device_ = std::move(device); }
    const Device& device() const { return device_; }

    // The link at start-up for `code`, `relay` and `grantQuery`, with this machine's addresses now.
    Published build(const std::string& code, const wex::RelayIdentity& relay, const std::string& grantQuery) const;
    // Main thread: `published` is shown from now on.
    void publish(Published published) { published_ = std::move(published); }
    bool published() const { return published_.has_value(); }
    // Main thread, once published: the shown link rebuilt for `code`, `relay` and `grantQuery`, with
    // this machine's addresses now.
    const std::string& rebuild(const std::string& code, const wex::RelayIdentity& relay, const std::string& grantQuery);
    // Main thread: the link now shown, or empty.
    std::string link() const { return published_ ? published_->link : std::string(); }

private:
    // `p` with this machine's addresses now (its MAC kept when none can be read) and the link for them.
    void fill(Published& p, const std::string& code, const wex::RelayIdentity& relay,
              const std::string& grantQuery) const;
    std::string linkFor(const std::string& ip, const std::string& mac, const std::string& code,
                        const wex::RelayIdentity& relay, const std::string& grantQuery) const;

    std::unique_ptr<LocalAddress> address_;
    Device device_;
    std::optional<Published> published_;
};

} // namespace dovrel::agent
