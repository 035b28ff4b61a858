#pragma once

#include <string>
#include <vector>

class QMimeData;

namespace dovrel {

// Local files on the clipboard as file managers put them there (text/uri-list); empty when it holds
// none. Must run on the main thread for the application's clipboard.
std::vector<std::string> clipboardFilePaths(const QMimeData* data);

// Clipboard contents that hand `paths` to file managers as copied files: text/uri-list, and
// x-special/gnome-copied-files for GNOME's and its relatives'. No plain text, so that clipboard text
// sync does not send the paths along.
QMimeData* copiedFilesMimeData(const std::vector<std::string>& paths);

// The clipboard's plain text, unless it holds files (those travel as clipboard files) or no text.
bool clipboardPlainText(const QMimeData* data, std::string& text);

} // namespace dovrel
