#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include <QObject>
#include <QVariant>

#include "controller/platform/UserDefaults.h"

namespace dovrel::controller {

// How much this controller has received from agents over all sessions, kept across launches in the
// user defaults, and shown as tokens: one per MiB. Fed once a second by the session client's
// receivedBytes signal. Main thread only.
class UsageMeter : public QObject {
    Q_OBJECT
    Q_PROPERTY(double totalBytes READ totalBytes NOTIFY totalBytesChanged)
    Q_PROPERTY(qint64 localTokens READ localTokens NOTIFY totalBytesChanged)
    Q_PROPERTY(QVariant accountTokens READ accountTokensForView NOTIFY accountTokensChanged)

public:
    static constexpr std::string_view key = "dovrel.usage.rxBytes";

    // Reads the stored total (0 when missing or not a number).
    explicit UsageMeter(std::shared_ptr<UserDefaults> defaults, QObject* parent = nullptr);

    double totalBytes() const { return totalBytes_; }
    // totalBytes in MiB, rounded to the nearest whole number, halves up.
    qint64 localTokens() const;
    // A count reported for the account; shown in place of the local one when present.
    std::optional<int64_t> accountTokens() const { return accountTokens_; }
    QVariant accountTokensForView() const;
    void setAccountTokens(std::optional<int64_t> tokens);

public slots:
    // Adds bytes received and stores the new total at once; nothing for a count below 1.
    void addReceived(qint64 bytes);

signals:
    void totalBytesChanged();
    void accountTokensChanged();

private:
    std::shared_ptr<UserDefaults> defaults_;
    double totalBytes_ = 0;
    std::optional<int64_t> accountTokens_;
};

} // namespace dovrel::controller
