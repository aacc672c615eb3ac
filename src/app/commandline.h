#pragma once

#include "update/identify.h"

#include <QString>
#include <QStringList>

// What the program was asked to do on its command line. Parsing needs no application object, so
// the run mode is known before one is created (batch runs choose their platform before that).

enum class RunMode { Window, Check, Batch, List, Help, Version, Error };

// The program's exit codes, shared by every mode.
namespace ExitCode {
constexpr int Ok = 0;
constexpr int CheckFoundProblems = 1;
constexpr int BadCommandLine = 2;
constexpr int NoUpdateFile = 3;
constexpr int NoDevice = 4;
constexpr int NoBootLoader = 5;
constexpr int UpdateFailed = 6;
constexpr int PortOrFileError = 7;
constexpr int NotConfirmed = 8;
constexpr int Interrupted = 130;
} // namespace ExitCode

struct CommandLine
{
    RunMode mode = RunMode::Window;
    QString sourceArgument; // the update file or folder as given; empty for the program's folder
    bool json = false;
    bool noDriver = false;
    bool noConfirm = false;
    int timeoutSeconds = 0; // 0: no bound
    // The one device the run is bound to, by USB serial number or by port; empty: any device.
    QString serialNumber;
    QString portName;
    QString text;           // --help and --version output, or what is wrong (RunMode::Error)
};

// arguments as main() received them, the program's name first.
CommandLine parseCommandLine(const QStringList &arguments);

// Turns the positional argument into where update files are looked for: a folder as a whole, a
// file as the only candidate, nothing as programDirectory. On a path that does not exist or
// cannot be read, returns false and says why in error.
bool resolveUpdateSource(const QString &argument, const QString &programDirectory, UpdateSource &source,
                         QString &error);
