#pragma once

#include <QDateTime>

#include "ServicesTestSupport.h"
#include "controller/platform/WallClock.h"

namespace dovrel::controller::test {

// A calendar clock the test sets.
struct FakeWallClock final : WallClock {
    QDateTime at = QDateTime(QDate(2026, 12, 9), QTime(10, 0), Qt::UTC);
    QDateTime now() const override { return at; }
};

// The relay account the test says is signed in, or none.
struct FakeRelayAccount final : StoredRelayAccount {
    std::optional<wex::RelayIdentity> identity;
    std::optional<wex::RelayIdentity> storedRelayIdentity() const override { return identity; }
};

} // namespace dovrel::controller::test
