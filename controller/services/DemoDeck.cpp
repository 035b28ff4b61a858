#include "controller/services/DemoDeck.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace dovrel::controller::DemoDeck {

std::vector<double> spark(double base, double swing, int count) {
    std::vector<double> out;
    for (int i = 0; i < count; ++i) {
        const double v = base + swing * std::sin(6 * base + (static_cast<double>(i) / count) * std::numbers::pi * 3);
        out.push_back(std::min(1.0, std::max(0.02, v)));
    }
    return out;
}

std::vector<Device> devices() {
    std::vector<Device> demo(3);
    demo[0].name = QStringLiteral("Tobrin's MacBook Pro");
    demo[0].host = QStringLiteral("127.0.0.1");
    demo[0].state = Device::State::awake;
    demo[0].cpu = spark(0.34, 0.22, 24);
    demo[0].ram = 0.61;
    demo[0].battery = 0.82;
    demo[0].lastSeen = QStringLiteral("now");

    demo[1].name = QStringLiteral("Studio PC");
    demo[1].kind = Device::Kind::windows;
    demo[1].host = QStringLiteral("10.0.0.7");
    demo[1].state = Device::State::asleep;
    demo[1].cpu = spark(0.08, 0.05, 24);
    demo[1].ram = 0.19;
    demo[1].lastSeen = QStringLiteral("3m");

    demo[2].name = QStringLiteral("Mac mini · server");
    demo[2].host = QStringLiteral("10.0.0.9");
    demo[2].state = Device::State::offline;
    demo[2].cpu = spark(0, 0, 24);
    demo[2].privacyFrost = true;
    demo[2].lastSeen = QStringLiteral("offline");
    for (Device& d : demo)
        d.statsCurrent = true;
    return demo;
}

} // namespace dovrel::controller::DemoDeck
