// A Wayland client for the tests on a GNOME session: a full-screen window of one colour (argv[1],
// RRGGBB) that prints, one line each on standard output, what reaches it: "ready W H" once shown,
// "move X Y" for the pointer, "press B X Y" and "release B X Y" for buttons (Qt's button number, surface pixels),
// "wheel DX DY", "key K" for each key press (Qt's key code, in hexadecimal) and "text T" for what the key typed.
#include <cstdio>

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QWheelEvent>

namespace {

void say(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

class Probe : public QRasterWindow {
public:
    explicit Probe(QColor colour) : colour_(colour) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(QRect(QPoint(), size()), colour_);
        if (!shown_ && width() > 300) {
            shown_ = true;
            say(QStringLiteral("ready %1 %2").arg(width()).arg(height()));
        }
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        say(QStringLiteral("move %1 %2").arg(int(e->position().x())).arg(int(e->position().y())));
    }
    void mousePressEvent(QMouseEvent* e) override { button("press", e); }
    void mouseReleaseEvent(QMouseEvent* e) override { button("release", e); }
    void wheelEvent(QWheelEvent* e) override {
        say(QStringLiteral("wheel %1 %2").arg(e->angleDelta().x()).arg(e->angleDelta().y()));
    }
    void keyPressEvent(QKeyEvent* e) override {
        say(QStringLiteral("key %1 %2").arg(e->key(), 0, 16).arg(int(e->modifiers()), 0, 16));
        if (!e->text().isEmpty() && e->text().at(0).isPrint()) say(QStringLiteral("text ") + e->text());
    }

private:
    void button(const char* what, QMouseEvent* e) {
        say(QStringLiteral("%1 %2 %3 %4")
                .arg(what)
                .arg(int(e->button()))
                .arg(int(e->position().x()))
                .arg(int(e->position().y())));
    }
    QColor colour_;
    bool shown_ = false;
};

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    Probe probe(QColor(QStringLiteral("#") + (argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("2890e0"))));
    probe.showFullScreen();
    return app.exec();
}
