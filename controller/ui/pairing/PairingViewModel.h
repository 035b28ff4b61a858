#pragma once

#include <cstdint>
#include <optional>

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include "controller/services/AccountApi.h"
#include "controller/services/Device.h"
#include "controller/services/PairLink.h"
#include "controller/services/RelayAccount.h"
#include "controller/ui/pairing/PairingTarget.h"

namespace dovrel::controller {

// The pairing screen: three ways to name a machine (a share code claimed at the account service, a
// pasted pairing link, or what the agent's window shows typed by hand: its address, or a relay room,
// with its code), each ending in exactly one result handed to the target, and Back. Every visit of the screen starts
// afresh (begin()); a claim that answers once the visit is over, or while the window shows another screen, is dropped:
// it saves nothing and dials nothing. Main thread.
class PairingViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The program makes the pairing screen's model.")
    Q_PROPERTY(QString codeA READ codeA NOTIFY codeAChanged)
    Q_PROPERTY(QString codeB READ codeB NOTIFY codeBChanged)
    Q_PROPERTY(CodeField codeFocus READ codeFocus WRITE setCodeFocus NOTIFY codeFocusChanged)
    Q_PROPERTY(bool codeComplete READ codeComplete NOTIFY codeAChanged)
    Q_PROPERTY(bool claiming READ claiming NOTIFY claimingChanged)
    Q_PROPERTY(QString shareError READ shareError NOTIFY shareErrorChanged)
    // The share error says the service refused the code typed in the boxes (which the boxes then show),
    // not that it could not be asked or gave something unreadable. The link's and the manual card's
    // errors each concern one field: the link, and the address.
    Q_PROPERTY(bool codeRefused READ codeRefused NOTIFY shareErrorChanged)
    Q_PROPERTY(QString link READ link WRITE setLink NOTIFY linkChanged)
    Q_PROPERTY(QString linkError READ linkError NOTIFY linkErrorChanged)
    // The error says what is wrong with the link (a refusal of the computer's own, such as being busy,
    // says nothing of it): the field is marked.
    Q_PROPERTY(bool linkInvalid READ linkInvalid NOTIFY linkErrorChanged)
    Q_PROPERTY(QString manualName READ manualName WRITE setManualName NOTIFY manualChanged)
    Q_PROPERTY(QString manualAddress READ manualAddress WRITE setManualAddress NOTIFY manualChanged)
    Q_PROPERTY(QString manualError READ manualError NOTIFY manualErrorChanged)
    Q_PROPERTY(bool manualAddressInvalid READ manualAddressInvalid NOTIFY manualErrorChanged)
    Q_PROPERTY(QString manualCode READ manualCode NOTIFY manualCodeChanged)
    // Said on the code field when the machine typed (or a link's) wants the code that was not given.
    Q_PROPERTY(QString manualCodeError READ manualCodeError NOTIFY manualCodeErrorChanged)
    Q_PROPERTY(QString manualKind READ manualKind WRITE setManualKind NOTIFY manualChanged)
    Q_PROPERTY(QString manualNote READ manualNote NOTIFY manualNoteChanged)

public:
    enum class CodeField { None, A, B };
    Q_ENUM(CodeField)

    PairingViewModel(AccountApi& api, const RelayAccount& account, PairingTarget& target, QObject* parent = nullptr);

    QString codeA() const { return codeA_; }
    QString codeB() const { return codeB_; }
    CodeField codeFocus() const { return codeFocus_; }
    bool codeComplete() const { return codeA_.size() == 4 && codeB_.size() == 4; }
    bool claiming() const { return claiming_; }
    QString shareError() const { return shareError_; }
    bool codeRefused() const { return codeRefused_; }
    QString link() const { return link_; }
    QString linkError() const { return linkError_; }
    bool linkInvalid() const { return linkInvalid_; }
    QString manualName() const { return manualName_; }
    QString manualAddress() const { return manualAddress_; }
    QString manualError() const { return manualError_; }
    bool manualAddressInvalid() const { return manualAddressInvalid_; }
    QString manualCode() const { return manualCode_; }
    QString manualCodeError() const { return manualCodeError_; }
    QString manualKind() const { return kindText(manualKind_); }
    QString manualNote() const { return manualNote_; }

    // The screen is shown: every field back to its first value, the manual card's note read afresh,
    // and any claim still under way forgotten. When it shows to ask for a machine's pairing code, the
    // manual card holds that machine instead, and its code field says what is missing. When it shows
    // again after the attempt it handed over ended before it stood, every field keeps what was typed,
    // and the card that started it says why it was refused, on the field the refusal concerns.
    Q_INVOKABLE void begin();

    // A share-code box changed to `typed`: it keeps what the filter lets through; four characters in the
    // first box move the focus to the second.
    Q_INVOKABLE void editCodeA(const QString& typed);
    Q_INVOKABLE void editCodeB(const QString& typed);
    void setCodeFocus(CodeField field);
    // The claim button, and Return in either box: claims the two boxes as they are now.
    Q_INVOKABLE void claimShareCode();

    void setLink(const QString& text);
    // The link card's button, and Return in its field (also when empty).
    Q_INVOKABLE void connectFromLink();

    void setManualName(const QString& name);
    void setManualAddress(const QString& address);
    Q_INVOKABLE void editManualCode(const QString& typed);
    // "windows", "mac" or "linux"; anything else changes nothing.
    void setManualKind(const QString& kind);
    // An address is dialled on the local network as a link naming that host is; a relay room through
    // the relay. Anything else is said under the field. The machine that asked for its code is not
    // dialled again without one; with one, a link it was reached by goes again, with the code typed.
    Q_INVOKABLE void connectManual();

    // Back.
    Q_INVOKABLE void cancel();

signals:
    void codeAChanged();
    void codeBChanged();
    void codeFocusChanged();
    void claimingChanged();
    void shareErrorChanged();
    void linkChanged();
    void linkErrorChanged();
    void manualChanged();
    void manualCodeChanged();
    void manualCodeErrorChanged();
    void manualNoteChanged();
    void manualErrorChanged();

private:
    void setClaiming(bool on);
    void setShareError(const QString& text, bool refused = false);
    void setLinkError(const QString& text, bool ofTheLink = true);
    void setManualError(const QString& text, bool ofTheAddress = true);
    // Back after the attempt handed over ended so: the refusal where it belongs, nothing typed lost.
    void cameBack(const PairingTarget::Returned& how);
    void setManualCodeError(const QString& text);
    // The machine the window asks the code for, if the card still names it (as `typed` reads it).
    bool namesMachineWantingCode(const QString& address) const;
    void claimAnswered(uint64_t visit, const ApiResult<QString>& result);
    // Hands a parsed link over, whichever ways it names.
    void handOver(const PairLink& link);
    bool current(uint64_t visit) const { return visit == visit_ && target_.pairingShown(); }

    AccountApi& api_;
    const RelayAccount& account_;
    PairingTarget& target_;
    uint64_t visit_ = 0;

    QString codeA_, codeB_;
    CodeField codeFocus_ = CodeField::None;
    bool claiming_ = false;
    QString shareError_;
    bool codeRefused_ = false;
    QString link_;
    QString linkError_;
    bool linkInvalid_ = false;
    QString manualName_;
    QString manualAddress_;
    QString manualError_;
    bool manualAddressInvalid_ = false;
    QString manualCode_;
    QString manualCodeError_;
    // The machine that asked for its code, lower-cased address; and the link last handed over, kept
    // for it when it named that machine: its other ways (relay, hardware address) go again with the code.
    std::optional<PairingTarget::CodeWanted> codeWanted_;
    std::optional<PairLink> lastLink_;
    // The card of the result handed over last in this visit.
    enum class Way { none, share, link, manual };
    Way lastWay_ = Way::none;
    Device::Kind manualKind_ = Device::Kind::linux;
    QString manualNote_;
};

} // namespace dovrel::controller
