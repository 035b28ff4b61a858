#pragma once

#include <memory>

#include "agent/media/ClipFiles.h"
#include "agent/media/ClipboardSync.h"
#include "agent/media/FileReceiver.h"
#include "agent/media/InputInjector.h"

namespace dovrel::agent {

// Stand-ins for the desktop services whose Linux implementations are not built yet: each does nothing
// and says once in the log that its feature is not available, so a session still authenticates and
// runs its control traffic.
std::unique_ptr<InputInjector> makeStandInInputInjector();
std::unique_ptr<ClipboardSync> makeStandInClipboard();
std::unique_ptr<FileReceiver> makeStandInFileReceiver();
std::unique_ptr<AgentClipFiles> makeStandInClipFiles();

} // namespace dovrel::agent
