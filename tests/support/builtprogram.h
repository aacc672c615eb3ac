#pragma once

#include <QString>
#include <QStringList>

class QProcess;

// The command line that starts a program built in this tree (the simulator, quaymend, a test
// program once more): the program itself, or, in a build for another architecture, the user-mode
// emulator the build names followed by the program.
QStringList builtCommand(const QString &program, const QStringList &arguments = {});

// Starts such a program through builtCommand().
void startBuilt(QProcess &process, const QString &program, const QStringList &arguments = {});
