#pragma once

#include <memory>

#include "agent/core/DesktopSession.h"
#include "agent/core/DeviceInjector.h"
#include "agent/gnome/MutterSession.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

// The controller's input on GNOME's Wayland session, through its remote-desktop session: the
// injector's rules acted out by the session's pointer and keyboard. Where GNOME's remote desktop is not
// on the session bus the injector says so once and drops every event.
//
// The pointer moves absolutely on the stream of the monitor being watched, buttons are the evdev
// buttons and the wheel goes in discrete steps. Keys, modifier keys included, go as keysyms: the
// compositor finds the key on its own keyboard map and the level, Shift included, that types it, and
// drops a character the map lacks. A Wayland client repeats a held key itself, so a repeated press is
// not sent again.
std::unique_ptr<DeviceInjector> makeGnomeInputInjector(std::shared_ptr<MutterSession> session,
                                                       std::shared_ptr<DesktopSession> desktop,
                                                       const Scheduler& clock = realScheduler());

} // namespace dovrel::agent
