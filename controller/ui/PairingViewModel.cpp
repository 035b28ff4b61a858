#include "controller/ui/PairingViewModel.h"

#include <QPointer>

#include "controller/ui/PairingFilters.h"
#include "protocol/ShareCode.h"

namespace dovrel::controller {

namespace {
const QString firstManualName = QStringLiteral("My computer");
const QString unnamedMachine = QStringLiteral("That computer");
} // namespace

PairingViewModel::PairingViewModel(AccountApi& api, const RelayAccount& account, PairingTarget& target, QObject* parent)
    : QObject(parent), api_(api), account_(account), target_(target) {
    begin();
}

void PairingViewModel::begin() {
    ++visit_;
    codeA_.clear();
    codeB_.clear();
    codeFocus_ = CodeField::None;
    claiming_ = false;
    shareError_.clear();
    link_.clear();
    linkError_.clear();
    manualName_ = firstManualName;
    manualId_.clear();
    manualCode_.clear();
    manualKind_ = Device::Kind::windows;
    manualNote_ = account_.current()
                      ? tr("Uses your signed-in account. For a machine on a different account, use its share code "
                           "or link above.")
                      : tr("Reaches the shared namespace only. For a machine on its own account, use its share "
                           "code or link above.");
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

void PairingViewModel::setShareError(const QString& text) {
    if (text == shareError_) return;
    shareError_ = text;
    emit shareErrorChanged();
}

void PairingViewModel::setLinkError(const QString& text) {
    if (text == linkError_) return;
    linkError_ = text;
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
        setShareError(result.failure.message);
        return;
    }
    const auto link = PairLink::parse(*result.value);
    if (!link) {
        setShareError(tr("That code returned something we couldn't read."));
        return;
    }
    handOver(*link);
}

void PairingViewModel::setLink(const QString& text) {
    if (text == link_) return;
    link_ = text;
    emit linkChanged();
}

void PairingViewModel::connectFromLink() {
    const auto link = PairLink::parse(link_);
    if (!link) {
        setLinkError(tr("That doesn't look like a Dovrel pairing link (dovrel://pair?…)."));
        return;
    }
    setLinkError({});
    handOver(*link);
}

void PairingViewModel::handOver(const PairLink& link) {
    // One result per visit: a claim still under way is forgotten.
    ++visit_;
    setClaiming(false);
    target_.connectLink(link);
}

void PairingViewModel::setManualName(const QString& name) {
    if (name == manualName_) return;
    manualName_ = name;
    emit manualChanged();
}

void PairingViewModel::setManualId(const QString& id) {
    if (id == manualId_) return;
    manualId_ = id;
    emit manualChanged();
}

void PairingViewModel::editManualCode(const QString& typed) {
    manualCode_ = pairingCodeDigits(typed);
    emit manualCodeChanged();
}

void PairingViewModel::setManualKind(const QString& kind) {
    const auto k = kindFromText(kind);
    if (!k || *k == manualKind_) return;
    manualKind_ = *k;
    emit manualChanged();
}

void PairingViewModel::connectManual() {
    const QString id = manualId_.trimmed();
    if (id.isEmpty()) return;
    const QString name = manualName_.trimmed();
    ++visit_;
    setClaiming(false);
    target_.connectRelay(id, name.isEmpty() ? unnamedMachine : name, manualCode_, manualKind_, std::nullopt,
                         std::nullopt, std::nullopt);
}

void PairingViewModel::cancel() {
    ++visit_;
    setClaiming(false);
    target_.cancelPairing();
}

} // namespace dovrel::controller
