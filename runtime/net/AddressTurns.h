#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include <QHostAddress>
#include <QString>

#include "runtime/Scheduler.h"

namespace dovrel {

// A name's addresses to try in turn, as its lookup gave them; what is no address is left out.
inline std::vector<QHostAddress> addressesToTry(const std::vector<std::string>& found) {
    std::vector<QHostAddress> addresses;
    for (const std::string& text : found)
        if (const QHostAddress address(QString::fromStdString(text)); !address.isNull()) addresses.push_back(address);
    return addresses;
}

// What each of the `left` addresses still to try has of the time until `deadline` (a dial's, a
// request's): an equal share, so that one that swallows packets cannot take the others' time.
inline Duration turnTime(Instant deadline, Instant now, std::size_t left) {
    return std::max(Duration::zero(), (deadline - now) / static_cast<Duration::rep>(std::max<std::size_t>(left, 1)));
}

} // namespace dovrel
