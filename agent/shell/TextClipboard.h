#pragma once

#include <QString>

namespace dovrel::agent {

// Where the window's copy buttons put their text: the desktop's clipboard in the program, a fake in
// tests. Main thread.
class TextClipboard {
public:
    virtual ~TextClipboard() = default;
    // Replaces whatever the clipboard held with `text` as plain text.
    virtual void setText(const QString& text) = 0;
};

// The desktop's clipboard through QGuiApplication.
class QtTextClipboard final : public TextClipboard {
public:
    void setText(const QString& text) override;
};

} // namespace dovrel::agent
