#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include "controller/platform/Clipboard.h"
#include "controller/services/WritingAssistant.h"
#include "controller/ui/assistant/AssistantRemote.h"

namespace dovrel::controller {

// The writing-assistant panel of the session window: an instruction, a local draft, and actions that
// pull the remote field into the draft, have Quib write or rewrite, rewrite the remote field in
// place, type the draft there, copy it here, or clear it. One request at a time (`busy`).
//
// Text is typed into the remote machine only while the panel is open and only into the session that
// was live when the user pressed the button: an answer that comes after the panel closed or the
// session changed is dropped. Each opening starts afresh; answers to an earlier opening change
// nothing. Main thread.
class QuibPanelModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the composition root")
    Q_PROPERTY(bool open READ isOpen NOTIFY openChanged)
    Q_PROPERTY(QString prompt READ prompt WRITE setPrompt NOTIFY promptChanged)
    Q_PROPERTY(QString draft READ draft WRITE setDraft NOTIFY draftChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(QString note READ note NOTIFY sourceChanged)
    // The header's words: the note, or only "Quib" while the notice below says why it cannot write.
    Q_PROPERTY(QString title READ title NOTIFY sourceChanged)
    // What the notice says before its fixed words: the note, unless those words already say it.
    Q_PROPERTY(QString noticeLead READ noticeLead NOTIFY sourceChanged)
    Q_PROPERTY(Source source READ source NOTIFY sourceChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(bool generateEnabled READ generateEnabled NOTIFY generateEnabledChanged)
    Q_PROPERTY(bool showSignInNotice READ showSignInNotice NOTIFY sourceChanged)
    // The notice's way back: signing in, while no account is.
    Q_PROPERTY(bool signInOffered READ signInOffered NOTIFY sourceChanged)
    Q_PROPERTY(bool cloudConsent READ cloudConsent WRITE setCloudConsent NOTIFY sourceChanged)
    Q_PROPERTY(QString consentText READ consentText CONSTANT)
    Q_PROPERTY(QString signInNotice READ signInNotice CONSTANT)

public:
    enum class Source { Proxy, OnDevice, Unavailable };
    Q_ENUM(Source)

    static constexpr auto captureTimeout = std::chrono::milliseconds(2500);

    QuibPanelModel(std::shared_ptr<WritingAssistant> assistant, std::shared_ptr<AssistantRemote> remote,
                   std::shared_ptr<Clipboard> clipboard, QObject* parent = nullptr);

    bool isOpen() const { return open_; }
    QString prompt() const { return prompt_; }
    void setPrompt(const QString& text);
    QString draft() const { return draft_; }
    void setDraft(const QString& text);
    bool busy() const { return busy_; }
    QString note() const { return note_; }
    QString title() const;
    QString noticeLead() const;
    Source source() const { return source_; }
    QString status() const { return status_; }
    bool generateEnabled() const { return !prompt_.isEmpty() && !busy_; }
    bool showSignInNotice() const;
    bool signInOffered() const { return showSignInNotice() && !assistant_->signedIn(); }
    bool cloudConsent() const { return assistant_->cloudConsent(); }
    void setCloudConsent(bool on);
    QString consentText() const;
    QString signInNotice() const;

    // The session window shows the panel (starting afresh) or hides it.
    Q_INVOKABLE void show();
    Q_INVOKABLE void hide();
    Q_INVOKABLE void refresh();
    Q_INVOKABLE void pull();
    Q_INVOKABLE void generate();
    Q_INVOKABLE void rewriteSelection();
    Q_INVOKABLE void insert();
    Q_INVOKABLE void copy();
    Q_INVOKABLE void clear();
    // The notice's button: the window opens the sign-in sheet.
    Q_INVOKABLE void signIn();

signals:
    void openChanged();
    void promptChanged();
    void draftChanged();
    void busyChanged();
    void sourceChanged();
    void statusChanged();
    void generateEnabledChanged();
    // The close button: the session window hides the panel.
    void closeRequested();
    void signInRequested();

private:
    void setBusy(bool on);
    void setStatus(const QString& text);
    // Whether an answer for opening `generation` may still change anything.
    bool current(uint64_t generation) const { return open_ && generation == generation_; }
    void reset();
    // The end of a Pull or Generate of this opening: a text becomes the draft (`filled`), none
    // leaves it (`nothing`).
    std::function<void(std::optional<QString>)> intoDraft(QString filled, QString nothing);

    std::shared_ptr<WritingAssistant> assistant_;
    std::shared_ptr<AssistantRemote> remote_;
    std::shared_ptr<Clipboard> clipboard_;
    bool open_ = false;
    uint64_t generation_ = 0;
    QString prompt_;
    QString draft_;
    bool busy_ = false;
    QString note_ = QStringLiteral("Quib");
    Source source_ = Source::Unavailable;
    QString status_;
};

} // namespace dovrel::controller
