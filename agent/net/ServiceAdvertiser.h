#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "protocol/DovrelService.h"

namespace dovrel::agent {

// Announces the agent's control service on the local network so controllers can find it. A machine
// without a reachable advertisement daemon still works: the failure is logged, never fatal.
class ServiceAdvertiser {
public:
    virtual ~ServiceAdvertiser() = default;
    // Publishes (or re-publishes) `name` of type "_dovrel._tcp" on `port` with `txt`.
    virtual void publish(const std::string& name, uint16_t port, const wex::DovrelService::TxtRecord& txt) = 0;
    virtual void withdraw() = 0;
};

// DNS-SD through the Avahi daemon; keeps retrying in the background when the daemon is not there yet.
std::unique_ptr<ServiceAdvertiser> makeAvahiAdvertiser();

} // namespace dovrel::agent
