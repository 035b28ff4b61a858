#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QStringList>

#include "protocol/Bytes.h"

class QSettings;

namespace dovrel::controller {

// The controller's user defaults: an INI file (QSettings) under ~/.config/Dovrel/, readable by the
// owner only, with the keys the design names ("dovrel.deviceId", "dovrel.agentPub.<machine>", …).
// Launch arguments of the form "-key value" stand in front of the file for text reads, the way the
// defaults' argument domain does ("-pairingCode 123456"). Safe from any thread: every operation opens
// the file's shared cache under one lock and writes through at once.
class UserDefaults {
public:
    explicit UserDefaults(std::string path, const QStringList& arguments = {});

    // $XDG_CONFIG_HOME/Dovrel/DovrelController.ini, by default ~/.config/Dovrel/DovrelController.ini.
    static std::string defaultPath();
    const std::string& path() const { return path_; }

    std::optional<wex::Bytes> data(std::string_view key) const;
    // The argument domain's value when the launch named the key, else the file's.
    std::optional<std::string> string(std::string_view key) const;
    std::vector<std::string> keys() const;
    // A number stored as text; nothing when absent or not a finite number.
    std::optional<double> number(std::string_view key) const;

    // Each write reaches the file before it returns; false when the file cannot be written.
    bool setData(std::string_view key, wex::ByteView value);
    bool setString(std::string_view key, std::string_view value);
    // Written with every digit a double has, so it reads back exactly.
    bool setNumber(std::string_view key, double value);
    bool remove(std::string_view key);

private:
    bool prepareFile() const;
    bool finishWrite(QSettings& s) const;

    std::string path_;
    std::map<std::string, std::string, std::less<>> arguments_;
    mutable std::mutex lock_;
};

} // namespace dovrel::controller
