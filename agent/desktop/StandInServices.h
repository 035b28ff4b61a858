#pragma once

#include <memory>

#include "agent/core/ClipFiles.h"
#include "agent/core/ClipboardSync.h"
#include "agent/core/InputInjector.h"

namespace dovrel::agent {

// Stand-ins for the desktop services when the agent runs without an X display (the services need one):
// each does nothing and says once in the log why, so a session still authenticates and runs its
// control traffic.
std::unique_ptr<InputInjector> makeStandInInputInjector();
std::unique_ptr<ClipboardSync> makeStandInClipboard();
std::unique_ptr<AgentClipFiles> makeStandInClipFiles();

} // namespace dovrel::agent
