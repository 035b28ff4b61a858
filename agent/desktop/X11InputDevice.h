#pragma once

#include <memory>
#include <string>

#include "agent/core/DesktopSession.h"
#include "agent/core/DeviceInjector.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

// The controller's input on an X display, through the XTest extension: the injector's rules acted out
// by an X input device. Connects to `display` (empty: $DISPLAY); without a display or XTest the
// injector says why once and drops every event.
//
// The device puts the pointer on the root window and presses buttons 1-3 and wheel buttons 4-7. Keys go
// from HID usage to keysym to the keycode of the live keyboard map, read again whenever it changes;
// modifier keys only where the map makes them modifiers (never remapped). Text is typed character by
// character, through spare keycodes for characters the map lacks; Caps Lock is allowed for. XTest
// carries no pen pressure or tilt.
std::unique_ptr<DeviceInjector> makeX11InputInjector(std::shared_ptr<DesktopSession> desktop,
                                                     const std::string& display = {},
                                                     const Scheduler& clock = realScheduler());

} // namespace dovrel::agent
