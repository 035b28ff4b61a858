#pragma once

#include <string>
#include <string_view>

namespace dovrel::controller {

// Clipboard text from the agent as it may go on this computer's clipboard, from valid UTF-8: control
// characters other than tab, line feed and carriage return (an escape pasted into a terminal runs
// there) and the characters that override or embed a writing direction (which make a pasted command or
// file name read other than it is) are left out. Direction marks stay: right-to-left text needs them.
std::string pasteableText(std::string_view utf8);

} // namespace dovrel::controller
