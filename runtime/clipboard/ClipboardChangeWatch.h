#pragma once

#include <cstdint>

#include <QObject>

namespace dovrel {

// Tells whether the application's clipboard changed since the last look, without reading it. Qt
// reports changes it learns of from the X server; it stays silent when another application takes the
// clipboard from this one with a time stamp older than this one's, so losing the clipboard counts as a
// change too. Lives on the main thread.
class ClipboardChangeWatch {
public:
    ClipboardChangeWatch();
    ClipboardChangeWatch(const ClipboardChangeWatch&) = delete;
    ClipboardChangeWatch& operator=(const ClipboardChangeWatch&) = delete;

    // Whether the clipboard changed since the last call (or `forget`); each change is reported once.
    bool changed();
    // Takes what is on the clipboard now as seen: after a start, and after this process wrote to it.
    void forget();
    // Whether this process owns the clipboard (put the contents there itself), as the X server sees it.
    static bool ownsClipboard();

private:
    uint64_t changes_ = 0;
    uint64_t seen_ = 0;
    bool ownedAtLastLook_ = false;
    // Bounds the clipboard's connection to this object.
    QObject context_;
};

} // namespace dovrel
