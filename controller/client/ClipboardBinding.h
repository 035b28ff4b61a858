#pragma once

#include <memory>

namespace dovrel::controller {

class WEXClient;
class ClipboardTextSync;
class ClipboardFileHost;

// Ties the clipboard services to the client's session: both run from each established session (never
// in a demo) until the session ends; the agent's clipboard text goes to `text`, its clipboard-
// file messages to `files`. The connections end with whichever object goes first. Main thread.
void bindClipboardToSession(WEXClient& client, ClipboardTextSync& text,
                            const std::shared_ptr<ClipboardFileHost>& files);

} // namespace dovrel::controller
