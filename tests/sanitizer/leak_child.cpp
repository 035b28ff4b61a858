// A program made to leak what our code owns inside libx265 and Qt Quick, or to keep only what those
// libraries keep to the end by themselves: "x265-kept", "x265-leaked", "qml-kept" or "qml-leaked".
#include <cstdio>
#include <memory>
#include <string>

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>

#include "agent/media/LibavVideoEncoder.h"

using namespace dovrel::agent;

namespace {

// An HEVC encoder opened the way the agent opens one; the caller owns it.
libav::CodecContextPtr openX265() {
    VideoEncoderConfig config;
    config.width = 320;
    config.height = 240;
    config.h264 = false;
    config.budget = VideoBudget::lan();
    std::string error;
    auto encoder = LibavVideoEncoder::open("libx265", config, nullptr, error);
    if (!encoder) std::fprintf(stderr, "no x265 encoder: %s\n", error.c_str());
    return encoder;
}

// An item the QML engine made; the caller owns it.
std::unique_ptr<QObject> makeItem(QQmlEngine& engine) {
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nItem { Rectangle { width: 10; height: 10 } }", QUrl());
    std::unique_ptr<QObject> item(component.create());
    if (!qobject_cast<QQuickItem*>(item.get()))
        std::fprintf(stderr, "no item: %s\n", qPrintable(component.errorString()));
    return item;
}

[[gnu::noinline]] void leakAnX265Encoder() { [[maybe_unused]] AVCodecContext* lost = openX265().release(); }

[[gnu::noinline]] void leakAQmlItem(QQmlEngine& engine) { [[maybe_unused]] QObject* lost = makeItem(engine).release(); }

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "x265-kept") return openX265() ? 0 : 1;
    if (mode == "x265-leaked") {
        leakAnX265Encoder();
        return 0;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QQmlEngine engine;
    if (mode == "qml-kept") return makeItem(engine) ? 0 : 1;
    if (mode == "qml-leaked") {
        leakAQmlItem(engine);
        return 0;
    }
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}
