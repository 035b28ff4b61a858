#pragma once

#include <QIdentityProxyModel>

#include "controller/services/DeviceStore.h"
#include "controller/ui/deck/MachineCardFace.h"

namespace dovrel::controller {

// The saved machines as the deck's cards show them: the store's roles, and beside them what each card
// displays (MachineCardFace), so QML only lays out. Follows the store's changes. Main thread.
class DeckMachines : public QIdentityProxyModel {
    Q_OBJECT

public:
    enum Role {
        KindSymbolRole = DeviceStore::LastSeenRole + 100,
        StateWordRole,
        ToneRole,
        LastSeenTextRole,
        ThumbnailRole,
        PromptGlyphRole,
        PromptTextRole,
        BreathesRole,
        ShowsStatsRole,
        ShowsSparklineRole,
        OpensRole,
        CpuTextRole,
        RamTextRole,
        BatteryTextRole,
        FrostTitleRole,
        FrostSymbolRole,
        FrostMenuTitleRole,
        FrostMenuSymbolRole,
    };

    DeckMachines(DeviceStore& store, bool demo, QObject* parent = nullptr);

    // The face of the machine in `row`; nothing outside the list.
    std::optional<MachineCardFace> face(int row) const;

    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    DeviceStore& store_;
    bool demo_;
};

} // namespace dovrel::controller
