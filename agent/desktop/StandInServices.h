#pragma once

#include <memory>
#include <string>

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
// The same where something else is missing: `missing` says what, in the log and as the reason.
std::unique_ptr<InputInjector> makeStandInInputInjector(const std::string& missing);
std::unique_ptr<ClipboardSync> makeStandInClipboard(const std::string& missing);
std::unique_ptr<AgentClipFiles> makeStandInClipFiles(const std::string& missing);

} // namespace dovrel::agent
