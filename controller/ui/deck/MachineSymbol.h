#pragma once

#include <QString>

#include "controller/services/Device.h"

namespace dovrel::controller {

// The symbol that stands for a machine on its card. A saved machine knows its platform but not its
// shape, so the words of its name speak first: a name with "server", "nas" or "rack" gets the server,
// one with "tower", "desktop" or "workstation" the tower, one with "laptop", "notebook" or "macbook"
// the laptop (whole words, any case, in that order). Otherwise the platform's: "macbook" for a Mac,
// "pc" for a Windows PC, "terminal" for Linux.
QString machineSymbol(Device::Kind kind, const QString& name);

} // namespace dovrel::controller
