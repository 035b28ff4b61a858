// Another application on the test's X display, for clipboard tests: it copies and reads the clipboard
// on command. One command per line on standard input, one answer line on standard output:
//   text HEX      copies the UTF-8 text                                     -> ok
//   files HEX     copies the files (paths separated by newlines)            -> ok
//   read          -> one line of JSON: text (null without text/plain), urls, gnome, owner
//   quit
#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QSocketNotifier>
#include <QUrl>

#include <cstdio>
#include <unistd.h>

// Taking the clipboard the way the agent does: an application that copies right after another one
// may hold an X time older than that copy's, and the X server then ignores it.
#include "runtime/clipboard/X11ClipboardOwner.h"

namespace {

void answer(const QByteArray& line) {
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void handle(const QByteArray& line) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    const int space = line.indexOf(' ');
    const QByteArray command = space < 0 ? line : line.left(space);
    const QByteArray argument = space < 0 ? QByteArray() : QByteArray::fromHex(line.mid(space + 1));
    if (command == "text") {
        auto* data = new QMimeData;
        data->setText(QString::fromUtf8(argument));
        answer(dovrel::putOnClipboard(data) ? "ok" : "failed");
    } else if (command == "files") {
        auto* data = new QMimeData;
        QList<QUrl> urls;
        QByteArray gnome("copy");
        for (const QByteArray& path : argument.split('\n')) {
            urls.push_back(QUrl::fromLocalFile(QString::fromUtf8(path)));
            gnome += "\n" + urls.back().toEncoded();
        }
        data->setUrls(urls);
        data->setData("x-special/gnome-copied-files", gnome);
        answer(dovrel::putOnClipboard(data) ? "ok" : "failed");
    } else if (command == "read") {
        const QMimeData* data = clipboard->mimeData();
        QJsonObject out;
        out["text"] = data && data->hasFormat("text/plain") ? QJsonValue(data->text()) : QJsonValue();
        QJsonArray urls;
        if (data)
            for (const QUrl& url : data->urls())
                urls.append(url.toString());
        out["urls"] = urls;
        out["gnome"] = data ? QString::fromUtf8(data->data("x-special/gnome-copied-files")) : QString();
        out["owner"] = clipboard->ownsClipboard();
        answer(QJsonDocument(out).toJson(QJsonDocument::Compact));
    } else if (command == "quit") {
        QGuiApplication::quit();
    }
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buf[65536];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            QGuiApplication::quit();
            return;
        }
        pending.append(buf, static_cast<int>(n));
        for (int nl = pending.indexOf('\n'); nl >= 0; nl = pending.indexOf('\n')) {
            const QByteArray line = pending.left(nl);
            pending.remove(0, nl + 1);
            handle(line);
        }
    });
    return app.exec();
}
