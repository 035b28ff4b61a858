#include "agent/shell/FixRow.h"

namespace dovrel::agent {

FixRow::FixRow(QString title, SettingsLauncher& launcher, TextClipboard& clipboard, QObject* parent)
    : QObject(parent), title_(std::move(title)), launcher_(launcher), clipboard_(clipboard) {}

void FixRow::set(bool ok, const Fix& fix) {
    if (ok == ok_ && fix.hint == fix_.hint && fix.command == fix_.command && fix.panelProgram == fix_.panelProgram)
        return;
    ok_ = ok;
    fix_ = fix;
    hasPanel_ = !fix_.panelProgram.isEmpty() && launcher_.available(fix_.panelProgram);
    emit changed();
}

void FixRow::enable() {
    if (hasPanel_ && launcher_.open(fix_.panelProgram, fix_.panelArgs)) return;
    if (commandShown_) return;
    commandShown_ = true;
    emit changed();
}

void FixRow::copyCommand() { clipboard_.setText(fix_.command); }

} // namespace dovrel::agent
