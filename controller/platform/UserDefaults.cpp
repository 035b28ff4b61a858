#include "controller/platform/UserDefaults.h"

#include <cmath>
#include <filesystem>

#include <QSettings>
#include <QStandardPaths>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dovrel::controller {

namespace {
QString qkey(std::string_view key) { return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())); }
} // namespace

UserDefaults::UserDefaults(std::string path, const QStringList& arguments) : path_(std::move(path)) {
    for (qsizetype i = 0; i + 1 < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a.size() < 2 || !a.startsWith('-') || arguments[i + 1].startsWith('-')) continue;
        arguments_[a.mid(1).toStdString()] = arguments[i + 1].toStdString();
        ++i;
    }
}

std::string UserDefaults::defaultPath() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return (std::filesystem::path(base.toStdString()) / "Dovrel" / "DovrelController.ini").string();
}

bool UserDefaults::prepareFile() const {
    // The file exists with owner-only permissions before the first value is written into it.
    std::error_code ec;
    const auto dir = std::filesystem::path(path_).parent_path();
    if (!dir.empty() && !std::filesystem::exists(dir, ec)) {
        std::filesystem::create_directories(dir, ec);
        ::chmod(dir.c_str(), 0700);
    }
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool ok = ::fchmod(fd, 0600) == 0;
    ::close(fd);
    return ok;
}

bool UserDefaults::finishWrite(QSettings& s) const {
    s.sync();
    // QSettings writes a new file and renames it into place; keep it owner-only whatever it made.
    ::chmod(path_.c_str(), 0600);
    return s.status() == QSettings::NoError;
}

std::optional<wex::Bytes> UserDefaults::data(std::string_view key) const {
    std::lock_guard guard(lock_);
    QSettings s(QString::fromStdString(path_), QSettings::IniFormat);
    const QVariant v = s.value(qkey(key));
    if (!v.isValid()) return std::nullopt;
    const QByteArray bytes = v.toByteArray();
    return wex::Bytes(bytes.begin(), bytes.end());
}

std::optional<std::string> UserDefaults::string(std::string_view key) const {
    if (const auto it = arguments_.find(key); it != arguments_.end()) return it->second;
    std::lock_guard guard(lock_);
    QSettings s(QString::fromStdString(path_), QSettings::IniFormat);
    const QVariant v = s.value(qkey(key));
    if (!v.isValid()) return std::nullopt;
    return v.toString().toStdString();
}

std::vector<std::string> UserDefaults::keys() const {
    std::lock_guard guard(lock_);
    QSettings s(QString::fromStdString(path_), QSettings::IniFormat);
    std::vector<std::string> out;
    for (const QString& k : s.allKeys())
        out.push_back(k.toStdString());
    return out;
}

std::optional<double> UserDefaults::number(std::string_view key) const {
    std::lock_guard guard(lock_);
    QSettings s(QString::fromStdString(path_), QSettings::IniFormat);
    const QVariant v = s.value(qkey(key));
    if (!v.isValid()) return std::nullopt;
    bool ok = false;
    const double d = v.toString().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(d)) return std::nullopt;
    return d;
}

bool UserDefaults::setNumber(std::string_view key, double value) {
    std::lock_guard guard(lock_);
    if (!prepareFile()) return false;
    QSettings s(QString::fromStdString(path_), QSettings::IniFormat);
    s.setValue(qkey(key), QString::number(value, 'g', 17));
    return finishWrite(s);
}

bool UserDefaults::setData(std::string_view key, wex::ByteView value) {
    std::lock_guard guard(lock_);
    if (!prepareFile()) return false;
    QSettings s(QString::fromStdString(path_), QSettings::IniFormat);
    s.setValue(qkey(key),
               QByteArray(reinterpret_cast<const char*>(value.data()), static_cast<qsizetype>(value.size())));
    return finishWrite(s);
}

bool UserDefaults::setString(std::string_view key, std::string_view value) {
    std::lock_guard guard(lock_);
    if (!prepareFile()) return false;
    QSettings s(QString::fromStdString(path_), QSettings::IniFormat);
    s.setValue(qkey(key), qkey(value));
    return finishWrite(s);
}

bool UserDefaults::remove(std::string_view key) {
    std::lock_guard guard(lock_);
    QSettings s(QString::fromStdString(path_), QSettings::IniFormat);
    if (!s.contains(qkey(key))) return true;
    s.remove(qkey(key));
    return finishWrite(s);
}

} // namespace dovrel::controller
