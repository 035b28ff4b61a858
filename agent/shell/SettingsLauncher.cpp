#include "agent/shell/SettingsLauncher.h"

#include <QProcess>
#include <QStandardPaths>

namespace dovrel::agent {

bool DetachedSettingsLauncher::available(const QString& program) {
    return !QStandardPaths::findExecutable(program).isEmpty();
}

bool DetachedSettingsLauncher::open(const QString& program, const QStringList& args) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(args);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

} // namespace dovrel::agent
