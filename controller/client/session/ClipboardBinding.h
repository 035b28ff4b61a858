#pragma once

#include <memory>

class QObject;

namespace dovrel::controller {

class WEXClient;
class ClipboardTextSync;
class ClipboardFileHost;
class ClipFileHost;

// Ties the clipboard services to the client's session: both run from each established session (never
// in a demo) until the session ends; the agent's clipboard text goes to `text`, its clipboard-
// file messages to `files`. The connections end with whichever object goes first. Main thread.
void bindClipboardToSession(WEXClient& client, ClipboardTextSync& text,
                            const std::shared_ptr<ClipboardFileHost>& files);

// Hands the session's clipboard-file messages to `host` while it lives; the connections end with
// `context` or the client. Main thread.
void connectClipFileHost(WEXClient& client, QObject* context, const std::weak_ptr<ClipFileHost>& host);

} // namespace dovrel::controller
