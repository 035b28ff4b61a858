#pragma once

#include "controller/platform/SecretStore.h"

namespace dovrel::controller {

// Secrets as files for a desktop where no Secret Service answers: <dir>/<service>/<account>, folders
// 0700 and files 0600, each written atomically so that a crash never leaves half a key.
class FileSecretStore final : public SecretStore {
public:
    explicit FileSecretStore(std::string dir);

    // $XDG_DATA_HOME/Dovrel/secrets, by default ~/.local/share/Dovrel/secrets.
    static std::string defaultDir();
    const std::string& dir() const { return dir_; }
    // Where the item lives (whether or not it exists).
    std::string itemPath(std::string_view service, std::string_view account) const;

    SecretRead read(std::string_view service, std::string_view account) override;
    SecretWrite write(std::string_view service, std::string_view account, wex::ByteView data) override;
    bool remove(std::string_view service, std::string_view account) override;

private:
    std::string dir_;
};

} // namespace dovrel::controller
