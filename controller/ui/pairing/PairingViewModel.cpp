#include "controller/ui/pairing/PairingViewModel.h"

#include <QPointer>

#include "controller/ui/pairing/PairingFilters.h"
#include "protocol/ShareCode.h"

namespace dovrel::controller {

namespace {
const QString firstManualName = QStringLiteral("My computer");
const QString unnamedMachine = QStringLiteral("That computer");

QString codeMissing() {
    return QObject::tr("That computer needs its six-digit pairing code: type the code its DOVRELÆ window shows.");
}
} // namespace

PairingViewModel::PairingViewModel(AccountApi& api, const RelayAccount& account, PairingTarget& target, QObject* parent)
    : QObject(parent), api_(api), account_(account), target_(target) {
    begin();
    // The screen may still be on show when the window turns back to it: the visit starts here then.
    target_.onTurnedBack([self = QPointer<PairingViewModel>(this)] {
        if (self) self->begin();
    });
}

void PairingViewModel::begin() {
    ++visit_;
    codeFocus_ = CodeField::None;
    claiming_ = false;
    if (const auto back = target_.returned()) {
        cameBack(*back);
    } else {
        codeA_.clear();
        codeB_.clear();
        shareError_.clear();
        codeRefused_ = false;
        link_.clear();
        linkError_.clear();
        linkInvalid_ = false;
        manualName_ = firstManualName;
        manualAddress_.clear();
        manualError_.clear();
        manualAddressInvalid_ = false;
        manualCode_.clear();
        // The agent runs on Linux only: that is what a machine typed in here is.
        manualKind_ = Device::Kind::linux;
        manualCodeError_.clear();
        lastWay_ = Way::none;
        codeWanted_ = target_.codeWanted();
        if (codeWanted_) {
            codeWanted_->address = codeWanted_->address.toLower();
            if (!codeWanted_->name.trimmed().isEmpty()) manualName_ = codeWanted_->name;
            manualAddress_ = codeWanted_->address;
            manualKind_ = codeWanted_->kind;
            manualCodeError_ = codeMissing();
            if (lastLink_ && lastLink_->host != codeWanted_->address && lastLink_->deviceId != codeWanted_->address)
                lastLink_.reset();
        } else {
            lastLink_.reset();
        }
    }
    manualNote_ = account_.current()
                      ? tr("An address is reached on this network. A relay room goes through the relay with your "
                           "signed-in account; for a machine on a different account, use its share code or link.")
                      : tr("An address is reached on this network. A relay room reaches the relay's shared "
                           "namespace only; for a machine on its own account, use its share code or link.");
    emit codeAChanged();
    emit codeBChanged();
    emit codeFocusChanged();
    emit claimingChanged();
    emit shareErrorChanged();
    emit linkChanged();
    emit linkErrorChanged();
    emit manualChanged();
    emit manualCodeChanged();
    emit manualNoteChanged();
    emit manualErrorChanged();
    emit manualCodeErrorChanged();
}

void PairingViewModel::cameBack(const PairingTarget::Returned& how) {
    // What was typed stays as it was handed over, the machine that wanted its code with it; only what
    // the last visit said is said again, of this attempt.
    shareError_.clear();
    codeRefused_ = false;
    linkError_.clear();
    linkInvalid_ = false;
    manualError_.clear();
    manualAddressInvalid_ = false;
    manualCodeError_.clear();
    if (how.refusal.isEmpty()) return;
    switch (lastWay_) {
    case Way::share:
        // The computer refused the link the code gave, not the code typed in the boxes.
        shareError_ = how.refusal;
        break;
    case Way::link:
        linkError_ = how.refusal;
        linkInvalid_ = how.part != RefusedPart::none; // the link holds both the address and the code
        break;
    case Way::manual:
        if (how.part == RefusedPart::code) {
            manualCodeError_ = how.refusal;
        } else {
            manualError_ = how.refusal;
            manualAddressInvalid_ = how.part == RefusedPart::address;
        }
        break;
    case Way::none: break;
    }
}

void PairingViewModel::editCodeA(const QString& typed) {
    // Announced even when the kept text is unchanged, so that the box drops what it refused.
    codeA_ = shareCodeBoxText(typed);
    emit codeAChanged();
    if (codeA_.size() == 4) setCodeFocus(CodeField::B);
}

void PairingViewModel::editCodeB(const QString& typed) {
    codeB_ = shareCodeBoxText(typed);
    emit codeBChanged();
    emit codeAChanged(); // codeComplete
}

void PairingViewModel::setCodeFocus(CodeField field) {
    if (field == codeFocus_) return;
    codeFocus_ = field;
    emit codeFocusChanged();
}

void PairingViewModel::setClaiming(bool on) {
    if (on == claiming_) return;
    claiming_ = on;
    emit claimingChanged();
}

void PairingViewModel::setShareError(const QString& text, bool refused) {
    if (text == shareError_ && refused == codeRefused_) return;
    shareError_ = text;
    codeRefused_ = refused;
    emit shareErrorChanged();
}

void PairingViewModel::setLinkError(const QString& text, bool ofTheLink) {
    const bool invalid = ofTheLink && !text.isEmpty();
    if (text == linkError_ && invalid == linkInvalid_) return;
    linkError_ = text;
    linkInvalid_ = invalid;
    emit linkErrorChanged();
}

void PairingViewModel::claimShareCode() {
    // The code as the boxes hold it at the press: later edits do not reach a claim under way.
    const QString code = codeA_ + codeB_;
    if (claiming_ || wex::shareCodeLength(code.toStdString()) != 8) return;
    setClaiming(true);
    setShareError({});
    QPointer<PairingViewModel> self(this);
    const uint64_t visit = visit_;
    api_.claim(code, [self, visit](const ApiResult<QString>& result) {
        if (self) self->claimAnswered(visit, result);
    });
}

void PairingViewModel::claimAnswered(uint64_t visit, const ApiResult<QString>& result) {
    if (visit != visit_) return; // that visit ended: its claim counts for nothing
    setClaiming(false);
    if (!target_.pairingShown()) return;
    if (!result.isOk()) {
        setShareError(result.failure.message, result.failure.kind == ApiFailure::Kind::refused);
        return;
    }
    const auto link = PairLink::parse(*result.value);
    if (!link) {
        setShareError(tr("That code returned something we couldn't read."));
        return;
    }
    lastWay_ = Way::share;
    handOver(*link);
}

void PairingViewModel::setLink(const QString& text) {
    if (text == link_) return;
    link_ = text;
    emit linkChanged();
}

void PairingViewModel::connectFromLink() {
    // Pasted without its code, a link still names the machine: one that knows this computer needs none,
    // and one that does not is asked for it.
    const auto link = PairLink::parse(link_, nullptr, PairLink::Code::mayBeMissing);
    if (!link) {
        setLinkError(tr("That doesn't look like a DOVRELÆ pairing link (dovrel://pair?…)."));
        return;
    }
    setLinkError({});
    if (link->code.isEmpty() &&
        namesMachineWantingCode(link->host.isEmpty() ? link->deviceId.value_or(QString()) : link->host)) {
        setManualCodeError(codeMissing());
        return;
    }
    lastWay_ = Way::link;
    handOver(*link);
}

void PairingViewModel::handOver(const PairLink& link) {
    // One result per visit: a claim still under way is forgotten.
    ++visit_;
    setClaiming(false);
    lastLink_ = link;
    target_.connectLink(link);
}

bool PairingViewModel::namesMachineWantingCode(const QString& address) const {
    return codeWanted_ && address.toLower() == codeWanted_->address;
}

void PairingViewModel::setManualName(const QString& name) {
    if (name == manualName_) return;
    manualName_ = name;
    emit manualChanged();
}

void PairingViewModel::setManualAddress(const QString& address) {
    if (address == manualAddress_) return;
    manualAddress_ = address;
    emit manualChanged();
}

void PairingViewModel::setManualError(const QString& text, bool ofTheAddress) {
    const bool invalid = ofTheAddress && !text.isEmpty();
    if (text == manualError_ && invalid == manualAddressInvalid_) return;
    manualError_ = text;
    manualAddressInvalid_ = invalid;
    emit manualErrorChanged();
}

void PairingViewModel::setManualCodeError(const QString& text) {
    if (text == manualCodeError_) return;
    manualCodeError_ = text;
    emit manualCodeErrorChanged();
}

void PairingViewModel::editManualCode(const QString& typed) {
    manualCode_ = pairingCodeDigits(typed);
    emit manualCodeChanged();
    // Being typed: what was missing is on its way.
    if (!manualCode_.isEmpty()) setManualCodeError({});
}

void PairingViewModel::setManualKind(const QString& kind) {
    const auto k = kindFromText(kind);
    if (!k || *k == manualKind_) return;
    manualKind_ = *k;
    emit manualChanged();
}

void PairingViewModel::connectManual() {
    if (manualAddress_.trimmed().isEmpty()) return;
    const auto typed = typedMachine(manualAddress_);
    if (!typed) {
        setManualError(tr("That is neither an address (such as 192.168.1.20 or studio.local, optionally with "
                          ":port) nor a relay room (32 hex digits)."));
        return;
    }
    setManualError({});
    const bool wantsCode = namesMachineWantingCode(typed->value);
    if (wantsCode && manualCode_.isEmpty()) {
        // Dialled without it, it would only ask again.
        setManualCodeError(codeMissing());
        return;
    }
    setManualCodeError({});
    const QString trimmedName = manualName_.trimmed();
    const QString name = trimmedName.isEmpty() ? unnamedMachine : trimmedName;
    if (wantsCode && lastLink_) {
        PairLink again = *lastLink_;
        again.code = manualCode_;
        again.name = name;
        again.kind = manualKind_;
        lastWay_ = Way::manual;
        handOver(again);
        return;
    }
    ++visit_;
    setClaiming(false);
    lastWay_ = Way::manual;
    // Manual entry never carries relay credentials: the signed-in account or none serves.
    if (typed->way == TypedMachine::Way::lan)
        target_.connectLAN(typed->value, name, manualCode_, manualKind_);
    else
        target_.connectRelay(typed->value, name, manualCode_, manualKind_, std::nullopt, std::nullopt, std::nullopt);
}

void PairingViewModel::cancel() {
    ++visit_;
    setClaiming(false);
    target_.cancelPairing();
}

} // namespace dovrel::controller
