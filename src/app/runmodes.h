#pragma once

#include "app/commandline.h"

// The modes that run without the wizard's window. Each returns the program's exit code.

// Prints the pre-flight check to standard output.
int runCheck(const UpdateSource &source);

// Prints the AIS devices present (within the command line's binding), one a line or one JSON
// object a line; ExitCode::NoDevice when there is none.
int runList(const CommandLine &commandLine);

// Runs the update's flow unattended, with no window and no display: a QCoreApplication is enough.
int runBatch(const CommandLine &commandLine, const UpdateSource &source);

// Keeps standard error of an unattended run for its progress bar and real errors: the developer
// trace and Qt's warnings are dropped unless QT_LOGGING_RULES asks for them. Call before the
// application object is created.
void quietDiagnostics();
