#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <QObject>
#include <QPointF>
#include <QSizeF>
#include <QString>

#include "controller/client/input/InputChannel.h"
#include "protocol/InputMessages.h"
#include "runtime/Scheduler.h"

namespace dovrel::controller {

// The kind of machine on the other end, which decides shortcuts and commands. A Linux desktop takes
// Control for its shortcuts, like Windows; the agent presses Super for the command bit.
enum class TargetKind { mac, windows, linuxDesktop };

// The sending side of everything the user does to the remote machine: pointer, buttons, scroll, keys
// and text as input batches, a few shortcuts, session commands and the display switch. Main thread
// only; batches leave in the order of the calls.
//
// Pointer moves are coalesced: the first move after a quiet spell goes at once, later ones at most one
// per frame interval (the published picture rate, held between 30 and 120 a second; 60 before it is
// known), the newest position winning. Any other event sends a waiting move first, in the same batch,
// so a click always lands where the pointer was last seen.
//
// The modifier keys held on the remote machine are mirrored here: each goes down and up as a key event
// of its own, so a click, a drag or a scroll while it is held carries it. Unlike a controller whose
// modifiers are never sent inside key events, every key event here (modifier keys included) carries the
// modifier byte of what is held when it leaves, and a chord the modifiers it needs as well: an agent
// that holds modifier keys as sent lets go of one the byte lacks, so a lost key-up is mended by the next
// key event, and one that never holds them presses a chord's around its stroke. A modifier let go of is
// released again in front of the next button press or scroll, which carry no byte. `releaseHeld` lets
// go of every modifier and any held button. A new session starts with nothing held.
class RemoteInput : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString targetKind READ targetKindName WRITE setTargetKindName NOTIFY targetKindChanged)

public:
    using Entry = wex::InputBatch::Entry;

    // The largest payload of one batch: its sealed frame (36 bytes more) still fits one UDP datagram.
    static constexpr std::size_t maxPayload = 65507 - 36;
    static constexpr auto keyReleaseDelay = std::chrono::milliseconds(45);
    static constexpr auto copyAfterSelectDelay = std::chrono::milliseconds(60);
    // Modifier bits of key events and of `setModifiers`.
    static constexpr uint16_t shift = wex::KeyEvent::shift;
    static constexpr uint16_t control = wex::KeyEvent::control;
    static constexpr uint16_t option = wex::KeyEvent::option;
    static constexpr uint16_t command = wex::KeyEvent::command;

    RemoteInput(InputChannel& channel, Scheduler& clock, QObject* parent = nullptr);
    ~RemoteInput() override;

    TargetKind targetKind() const { return kind_; }
    void setTargetKind(TargetKind kind);
    // "mac", "windows" or "linux"; other text is ignored.
    QString targetKindName() const;
    void setTargetKindName(const QString& name);

    // The remote picture's size (0 x 0 before the first picture), and the bounds the pointer is held
    // in (1280 x 720 standing in for a zero side).
    QSizeF remoteSize() const { return channel_.remoteSize(); }
    QSizeF remoteBounds() const;
    // The pointer in remote pixels.
    QPointF cursor() const { return cursor_; }
    uint8_t heldButtons() const { return heldButtons_; }
    uint16_t heldModifiers() const { return heldMods_; }

    // Moves the pointer to `remote` (held inside the bounds); the move is coalesced.
    void pointerTo(QPointF remote);
    // Moves the pointer and sends the move at once, without flags.
    void moveNow(QPointF remote);
    // Button 1 (or 0) left, 2 right, 3 and above other; a press or release at the cursor.
    void mouseDown(int button);
    void mouseUp(int button);
    // A press and release at the cursor in one reliable batch.
    void click(int button, int clickCount);
    // Scroll deltas in eighths of a point (held to 16 bits), sent without flags.
    void scroll(int dx, int dy);
    // Sends these events as they are (one batch, or several when they do not fit one).
    void sendInput(std::vector<Entry> events);

    // Presses the key (usage 0x70000 + hid) with `modifiers` and those held now, and releases it 45 ms
    // later with `modifiers` and those held then.
    Q_INVOKABLE void sendKey(int hid, int modifiers = 0);
    // Types text: lines as text events, Return between them.
    Q_INVOKABLE void typeText(const QString& text);
    // Presses or releases modifier keys (left shift, control, alt, GUI, in that order) so that exactly
    // `mask` is held on the remote machine.
    void setModifiers(uint16_t mask);
    // Lets go of every modifier and button held on the remote machine (focus lost, session ending).
    Q_INVOKABLE void releaseHeld();

    Q_INVOKABLE void selectAllAndCopy();
    Q_INVOKABLE void launchpad();
    Q_INVOKABLE void notificationCenter();
    Q_INVOKABLE void rest(bool on);
    Q_INVOKABLE void lockScreen();
    Q_INVOKABLE void sendCtrlAltDel();
    Q_INVOKABLE void switchDisplay(int index);

signals:
    void targetKindChanged();
    // A batch of input left for the current session (the user is active in it).
    void inputSent();

private:
    // The current session; a change forgets what was held and waiting for the previous one.
    uint64_t session();
    // Sends `events` for `forSession`, after a waiting move; nothing when that session is over.
    void send(uint64_t forSession, std::vector<Entry> events);
    void sendBatch(uint64_t forSession, const wex::InputBatch& batch);
    void flushMove();
    Duration moveInterval() const;
    void later(Duration delay, std::function<void()> fn);
    void keyPress(uint64_t forSession, uint16_t hid, uint16_t modifiers);
    // Sends `events` after key-ups of the modifiers let go of since the last button press or scroll.
    void sendAfterReleases(uint64_t forSession, std::initializer_list<Entry> events);
    Entry buttonEvent(int button, bool down, int clickCount) const;
    QPointF clamped(QPointF p) const;

    InputChannel& channel_;
    Scheduler& clock_;
    TargetKind kind_ = TargetKind::mac;
    uint64_t session_ = 0;
    QPointF cursor_{640, 360};
    uint8_t heldButtons_ = 0;
    uint16_t heldMods_ = 0;
    uint16_t releasedMods_ = 0; // let go of since the last button press or scroll
    std::optional<Entry> pendingMove_;
    std::optional<Instant> lastMoveAt_; // when a move last went; none since the session began
    std::unique_ptr<Timer> moveTimer_;
    uint64_t nextTimer_ = 0;
    std::map<uint64_t, std::unique_ptr<Timer>> delayed_;
};

} // namespace dovrel::controller
