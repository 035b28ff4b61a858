#pragma once

class QMimeData;

namespace dovrel {

// The truth about who owns the X clipboard, and taking it so that it sticks. QClipboard takes the
// clipboard with the time of the last X event it saw; when another application took it more recently
// than that, the X server ignores the request while Qt goes on believing it owns the clipboard. Both
// functions run on the main thread; off the xcb platform they trust Qt.

// Whether this process holds the CLIPBOARD selection, as the X server sees it.
bool ownsClipboard();

// Puts `data` (taken over) on the clipboard, and when the X server ignored that, lets Qt catch up on
// the X events it has not handled yet (they carry newer times) and tries again. False when the
// clipboard could not be taken.
bool putOnClipboard(QMimeData* data);

} // namespace dovrel
