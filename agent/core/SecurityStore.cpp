#include "agent/core/SecurityStore.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

#include <sodium.h>

#include "agent/common/AgentLog.h"
#include "protocol/Crypto.h"
#include "runtime/AtomicFile.h"

namespace dovrel::agent {

namespace fs = std::filesystem;

namespace {
constexpr std::size_t keySize = 32;
}

SecurityStore::SecurityStore(std::string dir) : dir_(std::move(dir)), identity_(loadIdentity(dir_ + "/agent.key")) {
    pairingCode_ = newPairingCode();
    loadPaired();
}

wex::DeviceIdentity SecurityStore::loadIdentity(const std::string& path) {
    // Runs before the other members are used: make the folder first.
    std::error_code ec;
    fs::create_directories(dir_, ec);
    ::chmod(dir_.c_str(), 0700);

    const bool exists = fs::exists(path, ec);
    wex::Bytes raw;
    if (readWholeFile(path, raw) && raw.size() == keySize) {
        try {
            wex::DeviceIdentity identity(raw);
            sodium_memzero(raw.data(), raw.size());
            ::chmod(path.c_str(), 0600);
            return identity;
        } catch (const std::exception&) {
        }
    }
    if (!raw.empty()) sodium_memzero(raw.data(), raw.size());
    if (exists) {
        std::string aside = path + ".unreadable";
        for (int n = 2; fs::exists(aside, ec); ++n)
            aside = path + ".unreadable." + std::to_string(n);
        fs::rename(path, aside, ec);
        print("• agent.key was unreadable - kept at " + aside +
              "; starting a NEW identity, paired devices must re-pair");
    }
    wex::DeviceIdentity identity;
    wex::Bytes seed = identity.raw();
    write(seed, path);
    sodium_memzero(seed.data(), seed.size());
    return identity;
}

void SecurityStore::loadPaired() {
    pairedPubs_.clear();
    const std::string path = dir_ + "/paired";
    wex::Bytes bytes;
    if (!readWholeFile(path, bytes)) return;
    ::chmod(path.c_str(), 0600);
    for (std::size_t at = 0; at + keySize <= bytes.size(); at += keySize)
        pairedPubs_.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                 bytes.begin() + static_cast<std::ptrdiff_t>(at + keySize));
}

std::string SecurityStore::rotatePairingCode() {
    std::string code = newPairingCode();
    const std::lock_guard guard(codeLock_);
    pairingCode_ = code;
    return code;
}

std::string SecurityStore::newPairingCode() {
    wex::Crypto::ensureInitialized();
    char code[8];
    std::snprintf(code, sizeof code, "%06u", static_cast<unsigned>(randombytes_uniform(1000000)));
    return code;
}

bool SecurityStore::isPaired(wex::ByteView publicKey) const {
    return std::any_of(pairedPubs_.begin(), pairedPubs_.end(), [&](const wex::Bytes& k) {
        return std::equal(k.begin(), k.end(), publicKey.begin(), publicKey.end());
    });
}

void SecurityStore::pair(wex::ByteView publicKey) {
    if (isPaired(publicKey)) return;
    pairedPubs_.emplace_back(publicKey.begin(), publicKey.end());
    savePaired();
}

void SecurityStore::unpair(wex::ByteView publicKey) {
    const auto it = std::find_if(pairedPubs_.begin(), pairedPubs_.end(), [&](const wex::Bytes& k) {
        return std::equal(k.begin(), k.end(), publicKey.begin(), publicKey.end());
    });
    if (it == pairedPubs_.end()) return;
    pairedPubs_.erase(it);
    savePaired();
}

void SecurityStore::savePaired() {
    wex::Bytes all;
    for (const auto& k : pairedPubs_)
        all.insert(all.end(), k.begin(), k.end());
    write(all, dir_ + "/paired");
}

void SecurityStore::write(wex::ByteView bytes, const std::string& path) {
    if (const std::string error = writeFileAtomically(path, bytes, 0600); !error.empty())
        print("• could not write " + path + ": " + error);
}

wex::Bytes randomBytes(std::size_t count) { return wex::Crypto::randomBytes(count); }

} // namespace dovrel::agent
