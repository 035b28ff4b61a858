#pragma once

#include <string>
#include <string_view>

#include "protocol/Bytes.h"

namespace dovrel::controller {

// What reading one secret gave.
struct SecretRead {
    enum class Outcome { found, notFound, failed };
    Outcome outcome = Outcome::notFound;
    wex::Bytes data;     // when found
    int code = 0;        // when failed: the store's own error number
    std::string message; // when failed: what the store said (never secret)

    static SecretRead found(wex::Bytes d) { return {Outcome::found, std::move(d), 0, {}}; }
    static SecretRead notFound() { return {}; }
    static SecretRead failed(int c, std::string m) { return {Outcome::failed, {}, c, std::move(m)}; }
};

struct SecretWrite {
    bool ok = false;
    int code = 0;        // when not ok
    std::string message; // when not ok
};

// Generic password items named by a service and an account, the way the keychain names them
// ("com.plovnik.dovrel.identity" / "device-identity"). Calls block until the store has answered and
// run on the calling thread.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    virtual SecretRead read(std::string_view service, std::string_view account) = 0;
    // Replaces any item of that name.
    virtual SecretWrite write(std::string_view service, std::string_view account, wex::ByteView data) = 0;
    // True when no item of that name is left.
    virtual bool remove(std::string_view service, std::string_view account) = 0;
};

} // namespace dovrel::controller
