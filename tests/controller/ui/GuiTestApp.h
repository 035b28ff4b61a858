#pragma once

#include <cstdlib>

#include <QGuiApplication>

namespace dovrel::controller::test {

// Set before the application is made, to keep the platform and renderer the environment names (the
// screens program draws on an X server with OpenGL, as the program does on a desktop).
inline bool& guiAppOnDisplay() {
    static bool onDisplay = false;
    return onDisplay;
}

// The process's one QGuiApplication, offscreen and drawn by Qt Quick's software renderer.
inline QGuiApplication& guiApp() {
    static int argc = 1;
    static char arg0[] = "controller_gui_tests";
    static char* argv[] = {arg0, nullptr};
    static QGuiApplication* a = [] {
        if (!guiAppOnDisplay()) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("QT_QUICK_BACKEND", "software", 1);
        }
        return new QGuiApplication(argc, argv);
    }();
    return *a;
}

} // namespace dovrel::controller::test
