#include "controller/client/input/RemoteInput.h"

#include <algorithm>
#include <array>

#include <QThread>

#include "controller/client/input/TextTyping.h"
#include "protocol/Q1616.h"

namespace dovrel::controller {

using namespace std::chrono_literals;

namespace {

struct ModifierKey {
    uint16_t bit;
    uint16_t usage;
};
// The order every press, release and letting go visits them in.
constexpr std::array<ModifierKey, 4> modifierKeys{{
    {RemoteInput::shift, 0xE1},
    {RemoteInput::control, 0xE0},
    {RemoteInput::option, 0xE2},
    {RemoteInput::command, 0xE3},
}};

constexpr wex::EventFlags reliable{wex::EventFlag::reliable};

wex::InputBatch::Entry keyEvent(uint16_t hid, bool down, uint16_t modifiers) {
    return {reliable, wex::KeyEvent{wex::KeyEvent::makeUsage(wex::KeyEvent::keyboardUsagePage, hid),
                                    static_cast<uint8_t>(down ? 1 : 0), modifiers}};
}

uint8_t buttonBit(int button) {
    if (button <= 1) return 0x01;
    if (button == 2) return 0x02;
    return 0x04;
}

int16_t clamp16(int v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }

} // namespace

RemoteInput::RemoteInput(InputChannel& channel, Scheduler& clock, QObject* parent)
    : QObject(parent), channel_(channel), clock_(clock) {}

RemoteInput::~RemoteInput() = default;

void RemoteInput::setTargetKind(TargetKind kind) {
    if (kind == kind_) return;
    kind_ = kind;
    emit targetKindChanged();
}

QString RemoteInput::targetKindName() const {
    switch (kind_) {
    case TargetKind::mac: return QStringLiteral("mac");
    case TargetKind::windows: return QStringLiteral("windows");
    case TargetKind::linuxDesktop: return QStringLiteral("linux");
    }
    return QStringLiteral("mac");
}

void RemoteInput::setTargetKindName(const QString& name) {
    if (name == QLatin1String("mac")) setTargetKind(TargetKind::mac);
    if (name == QLatin1String("windows")) setTargetKind(TargetKind::windows);
    if (name == QLatin1String("linux")) setTargetKind(TargetKind::linuxDesktop);
}

QSizeF RemoteInput::remoteBounds() const {
    const QSizeF s = channel_.remoteSize();
    return QSizeF(s.width() > 0 ? s.width() : 1280, s.height() > 0 ? s.height() : 720);
}

QPointF RemoteInput::clamped(QPointF p) const {
    const QSizeF b = remoteBounds();
    return QPointF(std::clamp(p.x(), 0.0, b.width() - 1), std::clamp(p.y(), 0.0, b.height() - 1));
}

uint64_t RemoteInput::session() {
    Q_ASSERT(QThread::currentThread() == thread());
    const uint64_t now = channel_.inputSession();
    if (now != session_) {
        // The agent let go of everything when the last session ended; nothing waits for this one.
        session_ = now;
        heldButtons_ = 0;
        heldMods_ = 0;
        releasedMods_ = 0;
        pendingMove_.reset();
        moveTimer_.reset();
        lastMoveAt_.reset();
        delayed_.clear();
    }
    return now;
}

Duration RemoteInput::moveInterval() const {
    const int fps = channel_.fps();
    const int rate = fps <= 0 ? 60 : std::clamp(fps, 30, 120);
    return std::chrono::duration_cast<Duration>(std::chrono::nanoseconds(1'000'000'000 / rate));
}

void RemoteInput::send(uint64_t forSession, std::vector<Entry> events) {
    if (forSession == 0 || forSession != session()) return;
    if (pendingMove_) {
        events.insert(events.begin(), *pendingMove_);
        pendingMove_.reset();
        moveTimer_.reset();
        lastMoveAt_ = clock_.now();
    }
    for (const auto& batch : wex::InputBatch::split(events, maxPayload))
        sendBatch(forSession, batch);
}

void RemoteInput::sendBatch(uint64_t forSession, const wex::InputBatch& batch) {
    channel_.sendInputPayload(forSession, batch.encode());
    emit inputSent();
}

void RemoteInput::flushMove() {
    if (pendingMove_) send(session_, {});
}

void RemoteInput::later(Duration delay, std::function<void()> fn) {
    const uint64_t id = nextTimer_++;
    delayed_[id] = clock_.after(delay, [this, id, fn = std::move(fn)] {
        delayed_.erase(id);
        fn();
    });
}

void RemoteInput::pointerTo(QPointF remote) {
    const uint64_t s = session();
    cursor_ = clamped(remote);
    if (s == 0) return;
    pendingMove_ = Entry{
        {}, wex::MouseMoveEvent{0, wex::Q1616::encode(cursor_.x()), wex::Q1616::encode(cursor_.y()), heldButtons_}};
    if (moveTimer_) return; // the waiting move goes when the interval is over
    const Duration interval = moveInterval();
    const Instant now = clock_.now();
    if (!lastMoveAt_ || now - *lastMoveAt_ >= interval) {
        flushMove();
        return;
    }
    moveTimer_ = clock_.after(interval - (now - *lastMoveAt_), [this] { flushMove(); });
}

void RemoteInput::moveNow(QPointF remote) {
    const uint64_t s = session();
    cursor_ = clamped(remote);
    pendingMove_.reset();
    moveTimer_.reset();
    lastMoveAt_ = clock_.now();
    send(s, {Entry{{},
                   wex::MouseMoveEvent{0, wex::Q1616::encode(cursor_.x()), wex::Q1616::encode(cursor_.y()),
                                       heldButtons_}}});
}

RemoteInput::Entry RemoteInput::buttonEvent(int button, bool down, int clickCount) const {
    return {reliable,
            wex::MouseButtonEvent{0, wex::Q1616::encode(cursor_.x()), wex::Q1616::encode(cursor_.y()),
                                  static_cast<uint8_t>(std::clamp(button, 0, 255)), static_cast<uint8_t>(down ? 1 : 0),
                                  static_cast<uint8_t>(std::clamp(clickCount, 0, 255))}};
}

void RemoteInput::mouseDown(int button) {
    const uint64_t s = session();
    if (s == 0) return;
    heldButtons_ |= buttonBit(button);
    sendAfterReleases(s, {buttonEvent(button, true, 1)});
}

void RemoteInput::mouseUp(int button) {
    const uint64_t s = session();
    if (s == 0) return;
    heldButtons_ &= static_cast<uint8_t>(~buttonBit(button));
    send(s, {buttonEvent(button, false, 1)});
}

void RemoteInput::click(int button, int clickCount) {
    const uint64_t s = session();
    sendAfterReleases(s, {buttonEvent(button, true, clickCount), buttonEvent(button, false, clickCount)});
}

void RemoteInput::scroll(int dx, int dy) {
    const uint64_t s = session();
    sendAfterReleases(s, {Entry{{}, wex::ScrollEvent{0, 0, 0, clamp16(dx), clamp16(dy), 0}}});
}

void RemoteInput::sendInput(std::vector<Entry> events) { send(session(), std::move(events)); }

void RemoteInput::keyPress(uint64_t forSession, uint16_t hid, uint16_t modifiers) {
    if (forSession == 0) return;
    // Each key event tells what is held when it leaves: the agent lets go of a modifier the byte lacks.
    send(forSession, {keyEvent(hid, true, modifiers | heldMods_)});
    later(keyReleaseDelay,
          [this, forSession, hid, modifiers] { send(forSession, {keyEvent(hid, false, modifiers | heldMods_)}); });
}

void RemoteInput::sendKey(int hid, int modifiers) {
    keyPress(session(), static_cast<uint16_t>(hid), static_cast<uint16_t>(modifiers));
}

void RemoteInput::typeText(const QString& text) {
    const uint64_t s = session();
    if (s == 0 || text.isEmpty()) return;
    const QByteArray utf8 = text.toUtf8();
    for (auto& batch :
         typedTextBatches(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), maxPayload))
        send(s, std::move(batch.events));
}

void RemoteInput::setModifiers(uint16_t mask) {
    const uint64_t s = session();
    if (s == 0) return;
    std::vector<Entry> events;
    for (const ModifierKey& m : modifierKeys) {
        const bool now = (mask & m.bit) != 0;
        const bool was = (heldMods_ & m.bit) != 0;
        if (now == was) continue;
        heldMods_ = static_cast<uint16_t>(now ? heldMods_ | m.bit : heldMods_ & ~m.bit);
        if (!now) releasedMods_ |= m.bit;
        events.push_back(keyEvent(m.usage, now, heldMods_));
    }
    if (!events.empty()) send(s, std::move(events));
}

void RemoteInput::sendAfterReleases(uint64_t forSession, std::initializer_list<Entry> events) {
    std::vector<Entry> all;
    for (const ModifierKey& m : modifierKeys)
        if ((releasedMods_ & m.bit) && !(heldMods_ & m.bit)) all.push_back(keyEvent(m.usage, false, heldMods_));
    releasedMods_ = 0;
    all.insert(all.end(), events);
    send(forSession, std::move(all));
}

void RemoteInput::releaseHeld() {
    const uint64_t s = session();
    std::vector<Entry> events;
    for (const ModifierKey& m : modifierKeys) {
        if (!(heldMods_ & m.bit)) continue;
        heldMods_ = static_cast<uint16_t>(heldMods_ & ~m.bit);
        events.push_back(keyEvent(m.usage, false, heldMods_));
    }
    const std::array<std::pair<uint8_t, int>, 3> buttons{{{0x01, 1}, {0x02, 2}, {0x04, 3}}};
    for (const auto& [bit, button] : buttons)
        if (heldButtons_ & bit) events.push_back(buttonEvent(button, false, 1));
    heldButtons_ = 0;
    releasedMods_ = 0;
    if (!events.empty()) send(s, std::move(events));
}

void RemoteInput::selectAllAndCopy() {
    const uint64_t s = session();
    const uint16_t modifier = kind_ == TargetKind::mac ? command : control;
    keyPress(s, 0x04, modifier);
    later(copyAfterSelectDelay, [this, s, modifier] { keyPress(s, 0x06, modifier); });
}

void RemoteInput::launchpad() {
    const uint64_t s = session();
    if (kind_ == TargetKind::windows)
        keyPress(s, 0xE3, 0);
    else if (s != 0)
        channel_.sendSessionCommand(s, wex::SessionCmd::showLaunchpad);
}

void RemoteInput::notificationCenter() {
    const uint64_t s = session();
    if (s == 0) return;
    switch (kind_) {
    case TargetKind::windows: keyPress(s, 0x04, command); return;      // Windows+A
    case TargetKind::linuxDesktop: keyPress(s, 0x19, command); return; // Super+V: the desktop's message list
    case TargetKind::mac: break;
    }
    const QSizeF size = channel_.remoteSize();
    const double x = size.width() == 0 && size.height() == 0 ? 1420 : size.width() - 50;
    moveNow(QPointF(x, 11));
    send(s, {buttonEvent(1, true, 1), buttonEvent(1, false, 1)});
}

void RemoteInput::rest(bool on) {
    const uint64_t s = session();
    if (s != 0) channel_.sendSessionCommand(s, on ? wex::SessionCmd::restOn : wex::SessionCmd::restOff);
}

void RemoteInput::lockScreen() {
    const uint64_t s = session();
    if (kind_ == TargetKind::mac)
        keyPress(s, 0x14, control | command);
    else if (s != 0)
        channel_.sendSessionCommand(s, wex::SessionCmd::lockWorkstation);
}

void RemoteInput::sendCtrlAltDel() {
    const uint64_t s = session();
    if (kind_ == TargetKind::windows) {
        if (s != 0) channel_.sendSessionCommand(s, wex::SessionCmd::ctrlAltDel);
        return;
    }
    // A Mac's force-quit chord; on a Linux desktop the very keys, which its session handles.
    keyPress(s, 0x4C, control | option);
}

void RemoteInput::switchDisplay(int index) {
    if (index < 0 || index > 255) return;
    channel_.switchDisplay(index);
}

} // namespace dovrel::controller
