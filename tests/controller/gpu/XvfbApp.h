#pragma once

#include <cstdlib>

#include <QGuiApplication>

#include "XvfbServer.h"

namespace dovrel::controller::test {

// The process's X server and its one QGuiApplication on it (xcb, OpenGL through Mesa's software
// rasteriser), made on first use.
inline dovrel::test::XvfbServer& gpuXvfb() {
    static dovrel::test::XvfbServer server(320, 240);
    return server;
}

inline QGuiApplication* gpuApp() {
    static QGuiApplication* a = [] {
        ::setenv("DISPLAY", gpuXvfb().display().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::setenv("QSG_RHI_BACKEND", "opengl", 1);
        ::unsetenv("QT_QUICK_BACKEND");
        static int argc = 1;
        static char arg0[] = "controller_gpu_tests";
        static char* argv[] = {arg0, nullptr};
        return new QGuiApplication(argc, argv);
    }();
    return a;
}

} // namespace dovrel::controller::test
