#pragma once

#include <string>

namespace dovrel::agent {

// Asks the desktop's file manager to show a folder with the file selected (the FileManager1 D-Bus
// interface that Nautilus, Dolphin, Nemo and others implement). Nothing happens without a session bus
// or a file manager. Call on the main thread; it does not wait for an answer.
void revealInFileManager(const std::string& path);

} // namespace dovrel::agent
