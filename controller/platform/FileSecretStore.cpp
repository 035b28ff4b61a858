#include "controller/platform/FileSecretStore.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <QStandardPaths>
#include <sys/stat.h>

#include "runtime/AtomicFile.h"

namespace dovrel::controller {

namespace {

// A service or account name as one path component: letters, digits, "-", "_" and inner dots stay;
// anything else (slashes, a leading dot, control bytes) becomes %XX, so no name can leave the folder.
std::string component(std::string_view name) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || (c == '.' && i > 0);
        if (plain) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0x0f]);
        }
    }
    return out.empty() ? std::string("%") : out;
}

bool makePrivateDirs(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::path built;
    for (const auto& part : dir) {
        built /= part;
        if (std::filesystem::exists(built, ec)) continue;
        if (::mkdir(built.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return std::filesystem::is_directory(dir, ec);
}

} // namespace

FileSecretStore::FileSecretStore(std::string dir) : dir_(std::move(dir)) {}

std::string FileSecretStore::defaultDir() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return (std::filesystem::path(base.toStdString()) / "Dovrel" / "secrets").string();
}

std::string FileSecretStore::itemPath(std::string_view service, std::string_view account) const {
    return (std::filesystem::path(dir_) / component(service) / component(account)).string();
}

SecretRead FileSecretStore::read(std::string_view service, std::string_view account) {
    const std::string path = itemPath(service, account);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return SecretRead::notFound();
    wex::Bytes data;
    if (!readWholeFile(path, data)) return SecretRead::failed(errno, std::strerror(errno));
    return SecretRead::found(std::move(data));
}

SecretWrite FileSecretStore::write(std::string_view service, std::string_view account, wex::ByteView data) {
    const std::filesystem::path path = itemPath(service, account);
    if (!makePrivateDirs(path.parent_path())) return {false, errno, "cannot make " + path.parent_path().string()};
    const std::string error = writeFileAtomically(path.string(), data, 0600);
    if (!error.empty()) return {false, EIO, error};
    return {true, 0, {}};
}

bool FileSecretStore::remove(std::string_view service, std::string_view account) {
    std::error_code ec;
    std::filesystem::remove(itemPath(service, account), ec);
    return !std::filesystem::exists(itemPath(service, account), ec);
}

} // namespace dovrel::controller
