#include "controller/ui/deck/DeckViewModel.h"

#include <QCoreApplication>
#include <QPointer>

namespace dovrel::controller {

QString tokensUsedText(const UsageMeter& meter, const QLocale& locale) {
    const qint64 count = meter.accountTokens() ? static_cast<qint64>(*meter.accountTokens()) : meter.localTokens();
    return locale.toString(count) + QCoreApplication::translate("UsageFooter", " tokens used");
}

DeckViewModel::DeckViewModel(DeckTarget& target, DeviceStore& store, UsageMeter& usage, MachineWaker& waker, bool demo,
                             QLocale locale, QObject* parent)
    : QObject(parent), target_(target), store_(store), usage_(usage), waker_(waker), demo_(demo),
      locale_(std::move(locale)), machines_(store, demo) {
    connect(&store_, &DeviceStore::countChanged, this, &DeckViewModel::countChanged);
    connect(&usage_, &UsageMeter::totalBytesChanged, this, &DeckViewModel::tokensTextChanged);
    connect(&usage_, &UsageMeter::accountTokensChanged, this, &DeckViewModel::tokensTextChanged);
    target_.onAccountNameChanged([self = QPointer<DeckViewModel>(this)] {
        if (self) emit self->accountNameChanged();
    });
}

const Device* DeckViewModel::deviceAt(int row) const {
    if (row < 0 || row >= store_.count()) return nullptr;
    return &store_.devices()[static_cast<std::size_t>(row)];
}

void DeckViewModel::open(int row) {
    const Device* device = deviceAt(row);
    if (!device) return;
    const MachineCardFace face = machineCardFace(*device, demo_);
    if (!face.opens) return;
    if (face.wakesFirst) waker_.wake(*device);
    target_.open(row);
}

void DeckViewModel::toggleFrost(int row) {
    const Device* device = deviceAt(row);
    if (!device) return;
    store_.setPrivacyFrost(device->id, !device->privacyFrost);
}

void DeckViewModel::rename(int row) {
    if (deviceAt(row)) target_.renameRequested(row);
}

void DeckViewModel::unpair(int row) {
    if (deviceAt(row)) target_.unpairRequested(row);
}

} // namespace dovrel::controller
