#pragma once

#include <chrono>
#include <memory>

#include <QObject>
#include <QtQml/qqmlregistration.h>

#include "runtime/Scheduler.h"

namespace dovrel::controller {

// The session window's heads-up state: the controls at full brightness until 3.2 s after the last
// interaction (not while the action wheel is open, nor while they are held: a refused session, whose
// way out they are), which of the wheel, display picker, controls guide and assistant panel are open,
// and whether the window's own dialog (the file chooser) is. Main thread.
class SessionHud : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The session window's model holds its controls' state.")
    Q_PROPERTY(bool bright READ bright NOTIFY brightChanged)
    Q_PROPERTY(bool banded READ banded WRITE setBanded NOTIFY topRowShownChanged)
    Q_PROPERTY(bool topRowShown READ topRowShown NOTIFY topRowShownChanged)
    Q_PROPERTY(bool wheelOpen READ wheelOpen WRITE setWheelOpen NOTIFY wheelOpenChanged)
    Q_PROPERTY(bool showMonitors READ showMonitors WRITE setShowMonitors NOTIFY showMonitorsChanged)
    Q_PROPERTY(bool showGuide READ showGuide WRITE setShowGuide NOTIFY showGuideChanged)
    Q_PROPERTY(bool assistantOpen READ assistantOpen WRITE setAssistantOpen NOTIFY assistantOpenChanged)
    Q_PROPERTY(bool dialogOpen READ dialogOpen WRITE setDialogOpen NOTIFY dialogOpenChanged)
    // The wheel, the display picker, the controls guide or a dialog stands over the picture and takes the
    // pointer and keys: nothing of them may reach the remote machine.
    Q_PROPERTY(bool pictureCovered READ pictureCovered NOTIFY pictureCoveredChanged)

public:
    static constexpr auto dimAfter = std::chrono::milliseconds(3200);

    explicit SessionHud(Scheduler& clock, QObject* parent = nullptr);
    ~SessionHud() override;

    bool bright() const { return bright_; }
    // The top row stands in a band of its own above the picture (a window with a title area): there it
    // covers nothing of the remote screen and stays, as a title bar does; over the picture (full
    // screen) it leaves with the other controls.
    bool banded() const { return banded_; }
    void setBanded(bool banded);
    bool topRowShown() const { return bright_ || banded_; }
    bool wheelOpen() const { return wheelOpen_; }
    void setWheelOpen(bool open);
    bool showMonitors() const { return showMonitors_; }
    void setShowMonitors(bool on);
    bool showGuide() const { return showGuide_; }
    void setShowGuide(bool on);
    bool assistantOpen() const { return assistantOpen_; }
    void setAssistantOpen(bool on);
    bool dialogOpen() const { return dialogOpen_; }
    void setDialogOpen(bool open);
    bool pictureCovered() const { return wheelOpen_ || showMonitors_ || showGuide_ || dialogOpen_; }

    // The user did something: the controls brighten and dim 3.2 s later unless the wheel is open then.
    Q_INVOKABLE void interact();
    // The pill: opens or closes the wheel, then counts as an interaction.
    Q_INVOKABLE void toggleWheel();
    // The window closed: everything is put away and no dimming is pending.
    void reset();
    // Held, the controls stay bright whatever happens; let go, they dim 3.2 s later as after an interaction.
    void setHeld(bool held);
    bool held() const { return held_; }

signals:
    void brightChanged();
    void topRowShownChanged();
    void wheelOpenChanged();
    void showMonitorsChanged();
    void showGuideChanged();
    void assistantOpenChanged();
    void dialogOpenChanged();
    void pictureCoveredChanged();

private:
    void setBright(bool on);

    Scheduler& clock_;
    bool bright_ = true;
    bool banded_ = false;
    bool wheelOpen_ = false;
    bool showMonitors_ = false;
    bool showGuide_ = false;
    bool assistantOpen_ = false;
    bool dialogOpen_ = false;
    bool held_ = false;
    std::unique_ptr<Timer> idle_;
};

} // namespace dovrel::controller
