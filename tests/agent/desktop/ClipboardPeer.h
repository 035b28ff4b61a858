#pragma once

#include <string>
#include <vector>

#include <QClipboard>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

#include "DesktopTestSupport.h"
#include "runtime/clipboard/X11ClipboardOwner.h"

namespace dovrel::test {

// Drives clipboard_peer, a second X client, while the test's own event loop keeps running: the peer
// reading the clipboard this process owns needs this process to answer.
class ClipboardPeer {
public:
    struct Contents {
        bool hasText = false;
        std::string text;
        std::vector<std::string> urls;
        std::string gnome;
        bool owner = false;
    };

    // `env`: the peer's environment (its DISPLAY names the X server whose clipboard it uses).
    explicit ClipboardPeer(const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(CLIPBOARD_PEER, {});
        started_ = process_.waitForStarted(10000);
    }
    ~ClipboardPeer() {
        if (!started_) return;
        process_.write("quit\n");
        if (!process_.waitForFinished(5000)) process_.kill();
        process_.waitForFinished(5000);
    }
    ClipboardPeer(const ClipboardPeer&) = delete;
    ClipboardPeer& operator=(const ClipboardPeer&) = delete;

    bool started() const { return started_; }

    // Copies as another application would; returns once the peer owns the clipboard.
    bool copyText(const std::string& text) {
        return command("text " + QByteArray::fromStdString(text).toHex().toStdString()) == "ok";
    }
    bool copyFiles(const std::vector<std::string>& paths) {
        std::string joined;
        for (const auto& p : paths)
            joined += (joined.empty() ? "" : "\n") + p;
        return command("files " + QByteArray::fromStdString(joined).toHex().toStdString()) == "ok";
    }
    Contents read() {
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(command("read"))).object();
        Contents c;
        c.hasText = o["text"].isString();
        c.text = o["text"].toString().toStdString();
        for (const auto& u : o["urls"].toArray())
            c.urls.push_back(u.toString().toStdString());
        c.gnome = o["gnome"].toString().toStdString();
        c.owner = o["owner"].toBool();
        return c;
    }

private:
    std::string command(const std::string& line) {
        if (!started_) return {};
        process_.write((line + "\n").c_str());
        std::string reply;
        pumpUntil([&] {
            process_.waitForReadyRead(1);
            if (!process_.canReadLine()) return false;
            reply = process_.readLine().trimmed().toStdString();
            return true;
        });
        return reply;
    }

    QProcess process_;
    bool started_ = false;
};

// Counts the changes of the clipboard this process sees, as the services under test see them: Qt's
// change signal, or the loss of the clipboard this process owned (Qt does not signal that when the
// new owner's time stamp is older than this process's).
class ClipboardChanges {
public:
    struct Mark {
        int count = 0;
        bool owned = false;
    };

    ClipboardChanges() {
        connection_ = QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed, [this](QClipboard::Mode m) {
            if (m == QClipboard::Clipboard) ++count_;
        });
    }
    ~ClipboardChanges() { QObject::disconnect(connection_); }
    Mark mark() const { return {count_, ownsClipboard()}; }
    // Runs events until the clipboard changed since `seen`.
    bool waitPast(Mark seen) {
        return pumpUntil([&] { return count_ > seen.count || (seen.owned && !ownsClipboard()); });
    }

private:
    QMetaObject::Connection connection_;
    int count_ = 0;
};

} // namespace dovrel::test
