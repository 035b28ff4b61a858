#include "controller/ui/deck/DeckMachines.h"

namespace dovrel::controller {

DeckMachines::DeckMachines(DeviceStore& store, bool demo, QObject* parent)
    : QIdentityProxyModel(parent), store_(store), demo_(demo) {
    setSourceModel(&store_);
}

std::optional<MachineCardFace> DeckMachines::face(int row) const {
    if (row < 0 || row >= store_.count()) return std::nullopt;
    return machineCardFace(store_.devices()[static_cast<std::size_t>(row)], demo_);
}

QVariant DeckMachines::data(const QModelIndex& index, int role) const {
    if (role < KindSymbolRole) return QIdentityProxyModel::data(index, role);
    const std::optional<MachineCardFace> f = index.isValid() ? face(index.row()) : std::nullopt;
    if (!f) return {};
    switch (role) {
    case KindSymbolRole: return f->kindSymbol;
    case StateWordRole: return f->stateWord;
    case ToneRole: return f->tone;
    case LastSeenTextRole: return f->lastSeen;
    case ThumbnailRole: return static_cast<int>(f->thumbnail);
    case PromptGlyphRole: return f->promptGlyph;
    case PromptTextRole: return f->promptText;
    case BreathesRole: return f->breathes;
    case ShowsStatsRole: return f->showsStats;
    case ShowsSparklineRole: return f->showsSparkline;
    case OpensRole: return f->opens;
    case CpuTextRole: return f->cpuText;
    case RamTextRole: return f->ramText;
    case BatteryTextRole: return f->batteryText;
    case FrostTitleRole: return f->frostTitle;
    case FrostSymbolRole: return f->frostSymbol;
    case FrostMenuTitleRole: return f->frostMenuTitle;
    case FrostMenuSymbolRole: return f->frostMenuSymbol;
    default: return {};
    }
}

QHash<int, QByteArray> DeckMachines::roleNames() const {
    QHash<int, QByteArray> names = store_.roleNames();
    names.insert({{KindSymbolRole, "kindSymbol"},
                  {StateWordRole, "stateWord"},
                  {ToneRole, "tone"},
                  {LastSeenTextRole, "lastSeenText"},
                  {ThumbnailRole, "thumbnail"},
                  {PromptGlyphRole, "promptGlyph"},
                  {PromptTextRole, "promptText"},
                  {BreathesRole, "breathes"},
                  {ShowsStatsRole, "showsStats"},
                  {ShowsSparklineRole, "showsSparkline"},
                  {OpensRole, "opens"},
                  {CpuTextRole, "cpuText"},
                  {RamTextRole, "ramText"},
                  {BatteryTextRole, "batteryText"},
                  {FrostTitleRole, "frostTitle"},
                  {FrostSymbolRole, "frostSymbol"},
                  {FrostMenuTitleRole, "frostMenuTitle"},
                  {FrostMenuSymbolRole, "frostMenuSymbol"}});
    return names;
}

} // namespace dovrel::controller
