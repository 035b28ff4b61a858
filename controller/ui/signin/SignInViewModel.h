#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include "controller/services/AccountApi.h"
#include "controller/services/RelayAccount.h"
#include "controller/ui/signin/SignInTarget.h"

namespace dovrel::controller {

// The sign-in sheet: create an account or sign in to one, store the session that comes back as the
// account's four secret items, and tell the target. A request carries the mode and fields as they were
// at the press; it is never cancelled (a success still stores and reports after the sheet closed).
// Each opening of the sheet starts empty, in create-account mode, and a success empties the password.
// Main thread.
class SignInViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The program makes the sign-in sheet's model.")
    Q_PROPERTY(bool creating READ creating WRITE setCreating NOTIFY creatingChanged)
    Q_PROPERTY(QString account READ account WRITE setAccount NOTIFY fieldsChanged)
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY fieldsChanged)
    Q_PROPERTY(QString inviteCode READ inviteCode WRITE setInviteCode NOTIFY fieldsChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)
    // The error is the service refusing what was typed (not a request that got no answer): the fields
    // show it too.
    Q_PROPERTY(bool fieldsRefused READ fieldsRefused NOTIFY errorChanged)
    Q_PROPERTY(bool canSubmit READ canSubmit NOTIFY canSubmitChanged)
    Q_PROPERTY(QString actionTitle READ actionTitle NOTIFY actionTitleChanged)

public:
    SignInViewModel(AccountApi& api, RelayAccount& account, SignInTarget& target, QObject* parent = nullptr);

    bool creating() const { return creating_; }
    QString account() const { return account_; }
    QString password() const { return password_; }
    QString inviteCode() const { return inviteCode_; }
    bool busy() const { return busy_; }
    QString error() const { return error_; }
    bool fieldsRefused() const { return fieldsRefused_; }
    // Not busy, an account name of at least 3 and a password of at least 8 characters as a person
    // counts them (grapheme clusters), untrimmed.
    bool canSubmit() const;
    QString actionTitle() const;

    // The sheet opens: empty fields, create-account mode, no error. A request under way goes on.
    Q_INVOKABLE void begin();
    void setCreating(bool on);
    void setAccount(const QString& text);
    void setPassword(const QString& text);
    void setInviteCode(const QString& text);
    // The primary button.
    Q_INVOKABLE void submit();
    Q_INVOKABLE void skip();

signals:
    void creatingChanged();
    void fieldsChanged();
    void busyChanged();
    void errorChanged();
    void canSubmitChanged();
    void actionTitleChanged();

private:
    void setBusy(bool on);
    void setError(const QString& text, bool refused = false);
    void answered(const ApiResult<RelayAccount::Session>& result);

    AccountApi& api_;
    RelayAccount& relayAccount_;
    SignInTarget& target_;
    bool creating_ = true;
    QString account_;
    QString password_;
    QString inviteCode_;
    bool busy_ = false;
    QString error_;
    bool fieldsRefused_ = false;
};

} // namespace dovrel::controller
