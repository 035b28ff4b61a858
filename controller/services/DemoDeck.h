#pragma once

#include <vector>

#include "controller/services/Device.h"

namespace dovrel::controller::DemoDeck {

// The three sample machines a demo deck shows, each with a fresh id, no device identifier, no relay
// fields and no hardware address (nothing is ever woken for them). Their figures are the samples' own.
std::vector<Device> devices();

// A synthetic CPU history: sample i is base + swing × sin(6 × base + (i ÷ count) × π × 3), kept
// within 0.02…1.
std::vector<double> spark(double base, double swing, int count);

} // namespace dovrel::controller::DemoDeck
