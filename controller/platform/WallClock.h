#pragma once

#include <QDateTime>

namespace dovrel::controller {

// The calendar time, for rules that follow the date (the assistant's daily quota, reminders days
// away, the session log's dates). Tests set it by hand. Any thread.
class WallClock {
public:
    virtual ~WallClock() = default;
    virtual QDateTime now() const = 0;
};

class SystemWallClock final : public WallClock {
public:
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
};

} // namespace dovrel::controller
