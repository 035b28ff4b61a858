#include "controller/services/UsageMeter.h"

#include <cmath>

namespace dovrel::controller {

namespace {
constexpr double bytesPerToken = 1048576.0;
}

UsageMeter::UsageMeter(std::shared_ptr<UserDefaults> defaults, QObject* parent)
    : QObject(parent), defaults_(std::move(defaults)) {
    // A stored total that is not a count of bytes (negative, not a number) starts the count afresh.
    if (const auto stored = defaults_->number(key); stored && *stored >= 0) totalBytes_ = *stored;
}

qint64 UsageMeter::localTokens() const { return static_cast<qint64>(std::llround(totalBytes_ / bytesPerToken)); }

QVariant UsageMeter::accountTokensForView() const {
    return accountTokens_ ? QVariant(static_cast<qlonglong>(*accountTokens_)) : QVariant();
}

void UsageMeter::setAccountTokens(std::optional<int64_t> tokens) {
    if (tokens == accountTokens_) return;
    accountTokens_ = tokens;
    emit accountTokensChanged();
}

void UsageMeter::addReceived(qint64 bytes) {
    if (bytes < 1) return;
    totalBytes_ += static_cast<double>(bytes);
    defaults_->setNumber(key, totalBytes_);
    emit totalBytesChanged();
}

} // namespace dovrel::controller
