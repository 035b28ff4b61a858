#include "agent/gnome/MutterSession.h"

#include <condition_variable>
#include <future>
#include <map>
#include <mutex>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QObject>
#include <fcntl.h>

#include "agent/common/AgentError.h"
#include "agent/common/AgentLog.h"
#include "agent/gnome/MutterMonitors.h"

namespace dovrel::agent {

namespace {

const QString rdName = QString::fromLatin1(MutterSession::remoteDesktopName);
const QString scName = QString::fromLatin1(MutterSession::screenCastName);
const QString rdPath = QStringLiteral("/org/gnome/Mutter/RemoteDesktop");
const QString scPath = QStringLiteral("/org/gnome/Mutter/ScreenCast");
const QString rdSession = QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session");
const QString scSession = QStringLiteral("org.gnome.Mutter.ScreenCast.Session");
const QString scStream = QStringLiteral("org.gnome.Mutter.ScreenCast.Stream");
const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString displayConfigName = QStringLiteral("org.gnome.Mutter.DisplayConfig");
const QString displayConfigPath = QStringLiteral("/org/gnome/Mutter/DisplayConfig");

// Embedded: the pointer is drawn into the pictures, as the compositor shows it.
constexpr uint32_t cursorEmbedded = 1;

std::atomic<int> connectionCount{0};

[[noreturn]] void fail(const std::string& what) { throw AgentError(AgentError::Kind::capture, what); }

std::string errorText(const QDBusMessage& reply) {
    const QString text = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
    return text.isEmpty() ? std::string("no answer") : text.toStdString();
}

UniqueFd fdOf(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    const auto fd = reply.arguments().at(0).value<QDBusUnixFileDescriptor>();
    if (!fd.isValid()) return {};
    // The descriptor object closes its own copy; ours must outlive it.
    return UniqueFd(::fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 0));
}

// The compositor wraps the list of types in a structure of its own: (as).
QStringList mimeTypesOf(const QVariant& value) {
    if (!value.canConvert<QDBusArgument>()) return value.toStringList();
    const auto arg = value.value<QDBusArgument>();
    QStringList types;
    if (arg.currentSignature() == "(as)") {
        arg.beginStructure();
        arg >> types;
        arg.endStructure();
    } else if (arg.currentSignature() == "as") {
        arg >> types;
    }
    return types;
}

} // namespace

// Hears the compositor's signals on "dovrel.gnome" and hands them to the state.
class MutterSignals : public QObject {
    Q_OBJECT
public:
    std::function<void(uint32_t node, const QString& path)> onStreamAdded;
    std::function<void(const QString& path)> onClosed;
    std::function<void(const QVariantMap& options)> onOwnerChanged;
    std::function<void(const QString& mime, uint32_t serial)> onTransfer;
    std::function<void(bool present)> onNames;

public slots:
    void streamAdded(uint node, const QDBusMessage& message) { onStreamAdded(node, message.path()); }
    void closed(const QDBusMessage& message) { onClosed(message.path()); }
    void ownerChanged(const QVariantMap& options) { onOwnerChanged(options); }
    void transfer(const QString& mime, uint serial) { onTransfer(mime, serial); }
    void namesChanged() { onNames(false); }
};

struct MutterSession::State {
    State(MutterSession& s, const Options& o)
        : self(s), options(o), busName(QStringLiteral("dovrel.gnome.%1").arg(++connectionCount)),
          bus(o.busAddress.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, busName)
                                     : QDBusConnection::connectToBus(o.busAddress, busName)) {
        listener.onStreamAdded = [this](uint32_t node, const QString& path) { streamAdded(node, path); };
        listener.onClosed = [this](const QString& path) { sessionClosed(path); };
        listener.onOwnerChanged = [this](const QVariantMap& map) { ownerChanged(map); };
        listener.onTransfer = [this](const QString& mime, uint32_t serial) {
            if (clipboard.transfer) clipboard.transfer(mime.toStdString(), serial);
        };
        listener.onNames = [this](bool) { checkNames(); };
        if (!bus.isConnected()) return;
        watcher = std::make_unique<QDBusServiceWatcher>();
        watcher->setConnection(bus);
        watcher->setWatchedServices({rdName, scName});
        watcher->setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
        QObject::connect(watcher.get(), &QDBusServiceWatcher::serviceOwnerChanged, &listener,
                         &MutterSignals::namesChanged);
        checkNames();
    }

    ~State() {
        stopLocked();
        watcher.reset();
        QDBusConnection::disconnectFromBus(busName);
    }

    MutterSession& self;
    const Options options;
    QString busName;
    QDBusConnection bus;
    MutterSignals listener;
    std::unique_ptr<QDBusServiceWatcher> watcher;

    // The session now, if any.
    QString rd;
    QString sc;
    std::vector<MutterStream> streams;
    QString pointerStream;
    std::shared_ptr<std::promise<Opened>> opening;
    OnClosed onClosed;  // of the session now
    uint64_t token = 0; // of the session now, or the last one
    MutterClipboardEvents clipboard;

    mutable std::mutex offerLock;
    std::optional<bool> clipboardOffered;

    int timeout() const { return static_cast<int>(options.callTimeout.count()); }

    QDBusMessage call(const QString& service, const QString& path, const QString& interface, const QString& method,
                      const QList<QVariant>& args = {}) {
        QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, method);
        m.setArguments(args);
        return bus.call(m, QDBus::Block, timeout());
    }
    // Calls and fails the open with `what` and the compositor's reason.
    QDBusMessage require(const std::string& what, const QString& service, const QString& path, const QString& interface,
                         const QString& method, const QList<QVariant>& args = {}) {
        const QDBusMessage reply = call(service, path, interface, method, args);
        if (reply.type() != QDBusMessage::ReplyMessage) fail(what + " (" + errorText(reply) + ")");
        return reply;
    }
    // Tells the compositor without waiting for its answer.
    void send(const QString& method, const QList<QVariant>& args) {
        if (rd.isEmpty()) return;
        QDBusMessage m = QDBusMessage::createMethodCall(rdName, rd, rdSession, method);
        m.setArguments(args);
        bus.send(m);
    }

    void checkNames() {
        bool present = false;
        if (bus.isConnected() && bus.interface()) {
            const auto rdOwned = bus.interface()->isServiceRegistered(rdName);
            const auto scOwned = bus.interface()->isServiceRegistered(scName);
            present = rdOwned.isValid() && rdOwned.value() && scOwned.isValid() && scOwned.value();
        }
        self.offered_ = present;
        if (!present && !rd.isEmpty()) ended("GNOME's compositor left the session bus");
    }

    std::vector<MutterMonitor> monitorsLocked() {
        const QDBusMessage reply = call(displayConfigName, displayConfigPath, displayConfigName, "GetCurrentState");
        if (reply.type() != QDBusMessage::ReplyMessage) return {};
        return parseMutterMonitors(reply.arguments());
    }

    void openLocked(std::shared_ptr<std::promise<Opened>> promise, OnClosed closedCallback) {
        stopLocked();
        ++token;
        onClosed = std::move(closedCallback);
        try {
            if (!bus.isConnected()) fail("no session bus (" + bus.lastError().message().toStdString() + ")");
            std::vector<MutterMonitor> monitors = monitorsLocked();
            if (monitors.empty()) monitors.push_back({}); // the compositor's own choice: its primary monitor
            rd = require("GNOME's remote desktop refused a session", rdName, rdPath, rdName, "CreateSession")
                     .arguments()
                     .value(0)
                     .value<QDBusObjectPath>()
                     .path();
            if (rd.isEmpty()) fail("GNOME's remote desktop gave no session");
            bus.connect(rdName, rd, rdSession, "Closed", &listener, SLOT(closed(QDBusMessage)));
            learnClipboardOffer();
            const QDBusVariant id =
                require("the remote-desktop session has no id", rdName, rd, properties, "Get", {rdSession, "SessionId"})
                    .arguments()
                    .value(0)
                    .value<QDBusVariant>();
            QVariantMap scOptions;
            scOptions.insert("remote-desktop-session-id", id.variant());
            sc = require("GNOME's screen cast refused a session", scName, scPath, scName, "CreateSession", {scOptions})
                     .arguments()
                     .value(0)
                     .value<QDBusObjectPath>()
                     .path();
            QVariantMap recordOptions;
            recordOptions.insert("cursor-mode", QVariant::fromValue(cursorEmbedded));
            for (const MutterMonitor& m : monitors) {
                const QString path = require("GNOME would not record monitor " + m.connector, scName, sc, scSession,
                                             "RecordMonitor", {QString::fromStdString(m.connector), recordOptions})
                                         .arguments()
                                         .value(0)
                                         .value<QDBusObjectPath>()
                                         .path();
                bus.connect(scName, path, scStream, "PipeWireStreamAdded", &listener,
                            SLOT(streamAdded(uint, QDBusMessage)));
                streams.push_back({m, path.toStdString(), 0});
            }
            opening = std::move(promise);
            require("GNOME would not start the remote-desktop session", rdName, rd, rdSession, "Start");
            self.open_ = true;
        } catch (...) {
            if (promise) promise->set_exception(std::current_exception());
            if (opening) opening->set_exception(std::current_exception());
            opening.reset();
            stopLocked();
            return;
        }
    }

    void learnClipboardOffer() {
        const QDBusMessage xml =
            call(rdName, rd, QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
        const bool offered =
            xml.type() == QDBusMessage::ReplyMessage && xml.arguments().value(0).toString().contains("EnableClipboard");
        const std::lock_guard guard(offerLock);
        if (!offered && clipboardOffered != false)
            print("⚠︎ clipboard text unavailable — GNOME's remote-desktop session here has no clipboard calls");
        clipboardOffered = offered;
    }

    void streamAdded(uint32_t node, const QString& path) {
        bool all = true;
        for (MutterStream& s : streams) {
            if (QString::fromStdString(s.path) == path) s.node = node;
            all = all && s.node != 0;
        }
        if (!all || !opening) return;
        for (MutterStream& s : streams) {
            // Where the compositor put the stream and how big its pictures are.
            const QDBusMessage reply =
                call(scName, QString::fromStdString(s.path), properties, "Get", {scStream, "Parameters"});
            if (reply.type() == QDBusMessage::ReplyMessage)
                applyStreamParameters(s.monitor, reply.arguments().value(0).value<QDBusVariant>().variant());
        }
        if (pointerStream.isEmpty()) pointerStream = QString::fromStdString(streams.front().path);
        // The compositor makes a session's pointer and keyboard at their first events and loses the
        // first key press: a move by nothing and a tap of Shift make them now, before the controller's.
        send("NotifyPointerMotionRelative", {0.0, 0.0});
        send("NotifyKeyboardKeysym", {uint32_t{0xffe1}, true}); // Shift_L
        send("NotifyKeyboardKeysym", {uint32_t{0xffe1}, false});
        enableClipboard();
        opening->set_value(Opened{streams, token});
        opening.reset();
    }

    void enableClipboard() {
        if (rd.isEmpty() || !clipboard.ownerChanged) return;
        {
            const std::lock_guard guard(offerLock);
            if (!clipboardOffered.value_or(false)) return;
        }
        bus.connect(rdName, rd, rdSession, "SelectionOwnerChanged", &listener, SLOT(ownerChanged(QVariantMap)));
        bus.connect(rdName, rd, rdSession, "SelectionTransfer", &listener, SLOT(transfer(QString, uint)));
        const QDBusMessage reply = call(rdName, rd, rdSession, "EnableClipboard", {QVariantMap{}});
        if (reply.type() != QDBusMessage::ReplyMessage)
            print("⚠︎ GNOME would not share its clipboard with the agent (" + errorText(reply) + ")");
    }

    void ownerChanged(const QVariantMap& change) {
        if (!clipboard.ownerChanged) return;
        std::vector<std::string> types;
        for (const QString& t : mimeTypesOf(change.value("mime-types")))
            types.push_back(t.toStdString());
        clipboard.ownerChanged(types, change.value("session-is-owner").toBool());
    }

    void sessionClosed(const QString& path) {
        if (path != rd && path != sc) return;
        ended("GNOME ended the remote-desktop session");
    }

    void ended(const std::string& why) {
        if (opening) {
            opening->set_exception(std::make_exception_ptr(AgentError(AgentError::Kind::capture, why)));
            opening.reset();
        }
        const OnClosed told = std::move(onClosed);
        forget();
        if (told) told(why);
    }

    // Drops what we knew of the session without telling the compositor.
    void forget() {
        if (!rd.isEmpty()) {
            bus.disconnect(rdName, rd, rdSession, "Closed", &listener, SLOT(closed(QDBusMessage)));
            bus.disconnect(rdName, rd, rdSession, "SelectionOwnerChanged", &listener, SLOT(ownerChanged(QVariantMap)));
            bus.disconnect(rdName, rd, rdSession, "SelectionTransfer", &listener, SLOT(transfer(QString, uint)));
        }
        for (const MutterStream& s : streams)
            bus.disconnect(scName, QString::fromStdString(s.path), scStream, "PipeWireStreamAdded", &listener,
                           SLOT(streamAdded(uint, QDBusMessage)));
        streams.clear();
        rd.clear();
        sc.clear();
        pointerStream.clear();
        onClosed = nullptr;
        self.open_ = false;
    }

    void stopLocked() {
        if (opening) {
            opening->set_exception(
                std::make_exception_ptr(AgentError(AgentError::Kind::capture, "the session was closed")));
            opening.reset();
        }
        const QString path = rd;
        forget();
        // Stopping the remote-desktop session stops the screen cast tied to it.
        if (!path.isEmpty()) call(rdName, path, rdSession, "Stop");
    }
};

MutterSession::MutterSession() : MutterSession(Options{}) {}

MutterSession::MutterSession(Options options) : queue_(std::make_unique<SerialQueue>("dovrel.gnome")) {
    queue_->sync([&] { state_ = std::make_unique<State>(*this, options); });
}

MutterSession::~MutterSession() {
    queue_->sync([this] { state_.reset(); });
    queue_.reset();
}

std::optional<bool> MutterSession::clipboardOffered() const {
    const std::lock_guard guard(state_->offerLock);
    return state_->clipboardOffered;
}

std::vector<MutterMonitor> MutterSession::monitors() {
    std::vector<MutterMonitor> out;
    queue_->sync([&] { out = state_->monitorsLocked(); });
    if (out.empty()) throw AgentError(AgentError::Kind::capture, "GNOME lists no monitor");
    return out;
}

MutterSession::Opened MutterSession::open(OnClosed onClosed, std::chrono::milliseconds timeout) {
    auto promise = std::make_shared<std::promise<Opened>>();
    std::future<Opened> result = promise->get_future();
    queue_->post([this, promise, onClosed = std::move(onClosed)]() mutable {
        state_->openLocked(promise, std::move(onClosed));
    });
    if (result.wait_for(timeout) != std::future_status::ready) {
        close();
        throw AgentError(AgentError::Kind::capture,
                         "GNOME's screen cast sent no stream within " + std::to_string(timeout.count() / 1000) + " s");
    }
    return result.get();
}

void MutterSession::close() {
    queue_->sync([this] { state_->stopLocked(); });
}

void MutterSession::close(uint64_t token) {
    queue_->sync([this, token] {
        if (token == state_->token) state_->stopLocked();
    });
}

void MutterSession::setPointerStream(const std::string& path) {
    queue_->post([this, path] { state_->pointerStream = QString::fromStdString(path); });
}

void MutterSession::pointerMotion(double x, double y) {
    queue_->post([this, x, y] {
        // The compositor takes positions on the stream's own monitor.
        for (const MutterStream& s : state_->streams) {
            if (QString::fromStdString(s.path) != state_->pointerStream) continue;
            state_->send("NotifyPointerMotionAbsolute", {state_->pointerStream, x - s.monitor.x, y - s.monitor.y});
            return;
        }
    });
}

void MutterSession::pointerButton(int32_t evdevButton, bool pressed) {
    queue_->post([this, evdevButton, pressed] { state_->send("NotifyPointerButton", {evdevButton, pressed}); });
}

void MutterSession::pointerAxisDiscrete(uint32_t axis, int32_t steps) {
    queue_->post([this, axis, steps] { state_->send("NotifyPointerAxisDiscrete", {axis, steps}); });
}

void MutterSession::keysym(uint32_t keysym, bool pressed) {
    queue_->post([this, keysym, pressed] { state_->send("NotifyKeyboardKeysym", {keysym, pressed}); });
}

void MutterSession::waitIdle() {
    queue_->sync([this] {
        if (state_->rd.isEmpty()) return;
        state_->call(rdName, state_->rd, properties, "Get", {rdSession, "SessionId"});
    });
}

void MutterSession::setClipboardEvents(MutterClipboardEvents events) {
    queue_->post([this, events = std::move(events)] {
        state_->clipboard = events;
        state_->enableClipboard();
    });
}

void MutterSession::setSelection(const std::vector<std::string>& mimeTypes) {
    QStringList types;
    for (const std::string& t : mimeTypes)
        types << QString::fromStdString(t);
    queue_->post([this, types] {
        if (state_->rd.isEmpty()) return;
        QVariantMap options;
        options.insert("mime-types", types);
        const QDBusMessage reply = state_->call(rdName, state_->rd, rdSession, "SetSelection", {options});
        if (reply.type() != QDBusMessage::ReplyMessage)
            print("⚠︎ clipboard text from the controller could not be offered to GNOME (" + errorText(reply) + ")");
    });
}

void MutterSession::selectionRead(const std::string& mimeType, std::function<void(UniqueFd)> done) {
    queue_->post([this, mime = QString::fromStdString(mimeType), done = std::move(done)] {
        if (state_->rd.isEmpty()) return done({});
        done(fdOf(state_->call(rdName, state_->rd, rdSession, "SelectionRead", {mime})));
    });
}

void MutterSession::selectionWrite(uint32_t serial, std::function<void(UniqueFd)> done) {
    queue_->post([this, serial, done = std::move(done)] {
        if (state_->rd.isEmpty()) return done({});
        done(fdOf(state_->call(rdName, state_->rd, rdSession, "SelectionWrite", {serial})));
    });
}

void MutterSession::selectionWriteDone(uint32_t serial, bool success) {
    queue_->post([this, serial, success] { state_->send("SelectionWriteDone", {serial, success}); });
}

} // namespace dovrel::agent

#include "MutterSession.moc"
