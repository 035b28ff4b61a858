#include "controller/ui/assistant/QuibPanelModel.h"

#include <QPointer>

namespace dovrel::controller {

QuibPanelModel::QuibPanelModel(std::shared_ptr<WritingAssistant> assistant, std::shared_ptr<AssistantRemote> remote,
                               std::shared_ptr<Clipboard> clipboard, QObject* parent)
    : QObject(parent), assistant_(std::move(assistant)), remote_(std::move(remote)), clipboard_(std::move(clipboard)) {}

void QuibPanelModel::setPrompt(const QString& text) {
    if (text == prompt_) return;
    const bool enabled = generateEnabled();
    prompt_ = text;
    emit promptChanged();
    if (enabled != generateEnabled()) emit generateEnabledChanged();
}

void QuibPanelModel::setDraft(const QString& text) {
    if (text == draft_) return;
    draft_ = text;
    emit draftChanged();
}

void QuibPanelModel::setBusy(bool on) {
    if (on == busy_) return;
    const bool enabled = generateEnabled();
    busy_ = on;
    emit busyChanged();
    if (enabled != generateEnabled()) emit generateEnabledChanged();
}

void QuibPanelModel::setStatus(const QString& text) {
    if (text == status_) return;
    status_ = text;
    emit statusChanged();
}

bool QuibPanelModel::showSignInNotice() const {
    const auto remaining = assistant_->remainingToday();
    return source_ == Source::Unavailable && remaining && *remaining <= 0;
}

QString QuibPanelModel::title() const { return showSignInNotice() ? QStringLiteral("Quib") : note_; }

QString QuibPanelModel::noticeLead() const {
    if (!showSignInNotice()) return {};
    // The reason's first sentence, when the notice opens with it, would be read twice.
    const QString notice = signInNotice();
    const qsizetype stop = note_.indexOf(QLatin1Char('.'));
    const QString first = stop < 0 ? note_ : note_.left(stop + 1);
    return first.trimmed().isEmpty() || notice.startsWith(first.trimmed()) ? QString() : note_;
}

void QuibPanelModel::setCloudConsent(bool on) {
    if (on == assistant_->cloudConsent()) return;
    assistant_->setCloudConsent(on);
    refresh();
}

QString QuibPanelModel::consentText() const {
    return tr("Quib sends your instruction and the text you give it to the Quib cloud service, which writes the "
              "answer. Nothing is sent until you allow it here.");
}

QString QuibPanelModel::signInNotice() const {
    return tr("Sign in to use Quib. Five generations a day, and it resets at midnight UTC. There is no on-device "
              "model on Linux, so Quib always runs on our side.");
}

void QuibPanelModel::reset() {
    ++generation_;
    setPrompt({});
    setDraft({});
    setBusy(false);
    setStatus({});
    note_ = QStringLiteral("Quib");
    source_ = Source::Unavailable;
    emit sourceChanged();
}

void QuibPanelModel::show() {
    reset();
    open_ = true;
    emit openChanged();
    refresh();
}

void QuibPanelModel::hide() {
    if (!open_) return;
    reset(); // what is still on its way belongs to this opening and is dropped with it
    open_ = false;
    emit openChanged();
}

void QuibPanelModel::refresh() {
    switch (assistant_->currentSource()) {
    case AssistantSource::proxy:
        source_ = Source::Proxy;
        note_ = QStringLiteral("Quib \u00b7 cloud");
        break;
    case AssistantSource::onDevice:
        source_ = Source::OnDevice;
        note_ = QStringLiteral("Quib \u00b7 on-device");
        break;
    case AssistantSource::unavailable:
        source_ = Source::Unavailable;
        note_ = assistant_->unavailableReason();
        break;
    }
    // The notice stands in for the working area, and what was said about the draft goes with it.
    if (showSignInNotice()) setStatus({});
    emit sourceChanged();
}

std::function<void(std::optional<QString>)> QuibPanelModel::intoDraft(QString filled, QString nothing) {
    const QPointer<QuibPanelModel> self(this);
    return [self, generation = generation_, filled, nothing](std::optional<QString> text) {
        if (!self || !self->current(generation)) return;
        self->setBusy(false);
        if (text && !text->isEmpty()) {
            self->setDraft(*text);
            self->setStatus(filled);
        } else {
            self->setStatus(nothing);
        }
    };
}

void QuibPanelModel::pull() {
    if (busy_ || !open_) return;
    setBusy(true);
    setStatus(tr("Pulling the remote field\u2026"));
    remote_->selectAllAndCopy();
    remote_->captureNextRemoteText(captureTimeout,
                                   intoDraft(tr("Pulled the remote field into the draft."),
                                             tr("Nothing came back - click into a text field on the remote first.")));
}

void QuibPanelModel::generate() {
    const QString instruction = prompt_.trimmed();
    if (instruction.isEmpty() || busy_ || !open_) return;
    setBusy(true);
    setStatus(tr("Quib is thinking\u2026"));
    assistant_->rewrite(draft_, instruction,
                        intoDraft(tr("Draft updated - Insert to type it into the remote."),
                                  tr("Quib couldn't produce text - try again.")));
}

void QuibPanelModel::rewriteSelection() {
    const QString instruction = prompt_.trimmed();
    if (busy_ || !open_) return;
    if (instruction.isEmpty()) {
        setStatus(tr("Type an instruction first (e.g. \"fix grammar\")."));
        return;
    }
    setBusy(true);
    setStatus(tr("Grabbing the remote field\u2026"));
    // The field is rewritten in the session it was read from, or not at all.
    const uint64_t session = remote_->currentSession();
    remote_->selectAllAndCopy();
    const QPointer<QuibPanelModel> self(this);
    const uint64_t generation = generation_;
    remote_->captureNextRemoteText(
        captureTimeout, [self, generation, session, instruction](std::optional<QString> text) {
            if (!self || !self->current(generation)) return;
            self->assistant_->rewrite(
                text.value_or(QString()), instruction, [self, generation, session](std::optional<QString> result) {
                    if (!self || !self->current(generation)) return;
                    self->setBusy(false);
                    if (!result || result->isEmpty()) {
                        self->setStatus(tr("Quib couldn't rewrite it - try again."));
                        return;
                    }
                    if (session == 0 || self->remote_->currentSession() != session) {
                        self->setStatus(tr("The session changed before Quib answered - nothing was typed."));
                        return;
                    }
                    self->remote_->typeText(*result);
                    self->setStatus(tr("Rewrote the remote field."));
                });
        });
}

void QuibPanelModel::insert() {
    if (busy_ || !open_) return;
    remote_->typeText(draft_);
    setStatus(tr("Typed the draft into the remote field."));
}

void QuibPanelModel::copy() {
    if (busy_ || !open_) return;
    clipboard_->setText(draft_.toStdString());
    setStatus(tr("Copied to this computer."));
}

void QuibPanelModel::signIn() {
    if (signInOffered()) emit signInRequested();
}

void QuibPanelModel::clear() {
    if (busy_ || !open_) return;
    setDraft({});
    setStatus({});
}

} // namespace dovrel::controller
