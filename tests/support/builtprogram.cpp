#include "builtprogram.h"

#include <QProcess>

QStringList builtCommand(const QString &program, const QStringList &arguments)
{
    // Empty unless the build is for another architecture (CMAKE_CROSSCOMPILING_EMULATOR).
    const QString emulator = QStringLiteral(QUAYMEND_TEST_EMULATOR);
    QStringList command;
    if (!emulator.isEmpty())
        command << emulator;
    return command << program << arguments;
}

void startBuilt(QProcess &process, const QString &program, const QStringList &arguments)
{
    const QStringList command = builtCommand(program, arguments);
    process.start(command.first(), command.mid(1));
}
