#include "controller/ui/signin/SignInViewModel.h"

#include <QPointer>

#include "controller/services/Graphemes.h"

namespace dovrel::controller {

namespace {
constexpr qsizetype shortestAccount = 3;
constexpr qsizetype shortestPassword = 8;
} // namespace

SignInViewModel::SignInViewModel(AccountApi& api, RelayAccount& account, SignInTarget& target, QObject* parent)
    : QObject(parent), api_(api), relayAccount_(account), target_(target) {
    connect(this, &SignInViewModel::fieldsChanged, this, &SignInViewModel::canSubmitChanged);
    connect(this, &SignInViewModel::busyChanged, this, &SignInViewModel::canSubmitChanged);
    connect(this, &SignInViewModel::busyChanged, this, &SignInViewModel::actionTitleChanged);
    connect(this, &SignInViewModel::creatingChanged, this, &SignInViewModel::actionTitleChanged);
}

bool SignInViewModel::canSubmit() const {
    return !busy_ && graphemes(account_).size() >= shortestAccount && graphemes(password_).size() >= shortestPassword;
}

QString SignInViewModel::actionTitle() const {
    if (busy_) return tr("Working…");
    return creating_ ? tr("Create account") : tr("Sign in");
}

void SignInViewModel::begin() {
    account_.clear();
    password_.clear();
    inviteCode_.clear();
    emit fieldsChanged();
    setError({});
    if (!creating_) {
        creating_ = true;
        emit creatingChanged();
    }
}

void SignInViewModel::setCreating(bool on) {
    if (on != creating_) {
        creating_ = on;
        emit creatingChanged();
    }
    setError({});
}

void SignInViewModel::setAccount(const QString& text) {
    if (text == account_) return;
    account_ = text;
    emit fieldsChanged();
}

void SignInViewModel::setPassword(const QString& text) {
    if (text == password_) return;
    password_ = text;
    emit fieldsChanged();
}

void SignInViewModel::setInviteCode(const QString& text) {
    if (text == inviteCode_) return;
    inviteCode_ = text;
    emit fieldsChanged();
}

void SignInViewModel::setBusy(bool on) {
    if (on == busy_) return;
    busy_ = on;
    emit busyChanged();
}

void SignInViewModel::setError(const QString& text, bool refused) {
    if (text == error_ && refused == fieldsRefused_) return;
    error_ = text;
    fieldsRefused_ = refused;
    emit errorChanged();
}

void SignInViewModel::submit() {
    if (!canSubmit()) return;
    setError({});
    setBusy(true);
    // Mode and texts as they are at the press; the service lower-cases the account name.
    const QString path = creating_ ? QStringLiteral("/v1/signup") : QStringLiteral("/v1/signin");
    const QString code = creating_ ? inviteCode_ : QString();
    QPointer<SignInViewModel> self(this);
    api_.call(path, account_, password_, code, [self](const ApiResult<RelayAccount::Session>& result) {
        if (self) self->answered(result);
    });
}

void SignInViewModel::answered(const ApiResult<RelayAccount::Session>& result) {
    setBusy(false);
    if (!result.isOk()) {
        setError(result.failure.message, result.failure.kind == ApiFailure::Kind::refused);
        return;
    }
    relayAccount_.save(*result.value);
    // The password has done its work: it does not stay in the sheet.
    if (!password_.isEmpty()) {
        password_.clear();
        emit fieldsChanged();
    }
    target_.signedIn(*result.value);
}

void SignInViewModel::skip() { target_.signInSkipped(); }

} // namespace dovrel::controller
