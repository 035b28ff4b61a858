#pragma once

#include <chrono>
#include <memory>

#include "controller/platform/FileSecretStore.h"
#include "controller/platform/SecretStore.h"

namespace dovrel::controller {

// The desktop's keychain (the Secret Service, or KWallet on Plasma, through QtKeychain) with a file
// fallback for sessions where none answers. Writes go to the keychain when one is there and to the
// file otherwise, or when the keychain cannot keep the item; a successful keychain write removes the
// file copy. Reads look in the keychain first and then in the file, so an item is found wherever an
// earlier session had to put it. Spins a local Qt event loop on the calling thread while the keychain
// answers (an unlock prompt may take the user a while; past the time-out the keychain counts as
// silent): the program calls it on the secrets thread only (SecretsThread).
class KeychainSecretStore final : public SecretStore {
public:
    explicit KeychainSecretStore(std::shared_ptr<FileSecretStore> fallback,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(30));

    // Whether a keychain service is registered or can be started on the session bus.
    static bool keychainServiceAvailable();

    SecretRead read(std::string_view service, std::string_view account) override;
    SecretWrite write(std::string_view service, std::string_view account, wex::ByteView data) override;
    bool remove(std::string_view service, std::string_view account) override;

    const FileSecretStore& fallback() const { return *fallback_; }

private:
    bool available();
    void noteFallback(std::string_view why);

    std::shared_ptr<FileSecretStore> fallback_;
    std::chrono::milliseconds timeout_;
    int availability_ = -1; // -1 not yet asked, 0 no, 1 yes
    bool fallbackNoted_ = false;
};

// The keychain with its file fallback in the default places.
std::shared_ptr<SecretStore> makeSystemSecretStore();

} // namespace dovrel::controller
