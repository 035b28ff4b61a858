#pragma once

#include <vector>

#include <QList>
#include <QVariant>

#include "agent/gnome/MutterSession.h"

namespace dovrel::agent {

// The monitors in the reply of org.gnome.Mutter.DisplayConfig.GetCurrentState: one per logical monitor
// (its first connector), in the compositor's order, sized in logical pixels. Nothing for a reply of
// another shape.
std::vector<MutterMonitor> parseMutterMonitors(const QList<QVariant>& reply);

// Takes a stream's "Parameters" (position and size of what it records) into `monitor`.
void applyStreamParameters(MutterMonitor& monitor, const QVariant& parameters);

} // namespace dovrel::agent
