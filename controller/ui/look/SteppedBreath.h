#pragma once

#include <chrono>

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QtQml/QQmlParserStatus>
#include <QtQml/qqmlregistration.h>

namespace dovrel::controller {

class MotionGate;

// A slow pulse for the marks that breathe while the user rests: the status dot of an awake machine and
// the assistant's spiral. Declared inside the item that breathes, `level` goes from 0 to 1 in `duration`
// and back in as long again, eased in and out, for as long as `running` holds and that item can be seen
// (Motion.shown); otherwise it rests at 0.
//
// It moves in `steps` equal steps each way rather than at the display's rate: every change makes Qt
// Quick draw the whole window again, and without a graphics card a frame of the deck costs one to two
// hundredths of a second of a core (more on GNOME's Wayland session than on X11), so a dot breathing at
// 60 frames a second kept a resting deck busy for most of a core. Three steps each way come to under two
// frames a second (six, at four, still cost a resting deck 8 % of a core on X11), never more than
// `ticksPerSecond`; steps of equal size in the level, not in time,
// give each frame a change of the same size. Stepping is chosen over breathing only while the window
// is active because the active window is the one a user leaves in front of them: the cost would stay
// where it is felt. Every breath reads one clock (the monotonic clock, on one grid of ticks), so all
// that breathe in a window move together, in one frame.
class SteppedBreath : public QObject, public QQmlParserStatus {
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    QML_NAMED_ELEMENT(Breath)
    Q_PROPERTY(bool running READ running WRITE setRunning NOTIFY runningChanged)
    Q_PROPERTY(int duration READ duration WRITE setDuration NOTIFY durationChanged)
    Q_PROPERTY(double level READ level NOTIFY levelChanged)
    Q_PROPERTY(bool breathing READ breathing NOTIFY breathingChanged)

public:
    static constexpr int steps = 3;
    static constexpr int ticksPerSecond = 10;
    static constexpr std::chrono::milliseconds tick{1000 / ticksPerSecond};

    explicit SteppedBreath(QObject* parent = nullptr);
    ~SteppedBreath() override;

    bool running() const { return running_; }
    void setRunning(bool on);
    int duration() const { return duration_; }
    void setDuration(int ms);
    double level() const { return level_; }
    // Running, and seen: the steps are being taken.
    bool breathing() const { return breathing_; }

    // The level at `time` on the breaths' clock, for a way in of `duration`: 0, up to 1 at `duration`,
    // down to 0 again at twice that, eased in and out each way, in `steps` equal steps.
    static double levelAt(std::chrono::milliseconds time, std::chrono::milliseconds duration);

    void classBegin() override {}
    void componentComplete() override;

signals:
    void runningChanged();
    void durationChanged();
    void levelChanged();
    void breathingChanged();

private:
    void reconsider();
    void takeTick();
    void setLevel(double level);

    QPointer<MotionGate> gate_;
    QTimer ticks_;
    bool running_ = true;
    int duration_ = 1600;
    double level_ = 0;
    bool breathing_ = false;
};

} // namespace dovrel::controller
