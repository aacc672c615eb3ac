#include "app/runmodes.h"

int runBatch(const CommandLine &, const UpdateSource &)
{
    return ExitCode::BadCommandLine;
}
