#include "wizard/updateflow.h"

#include "support/driverlaunch.h"

#include <QDir>
#include <QElapsedTimer>

#include <chrono>

namespace {

// Delivered beside the program; resolved against the current directory, not the program's own.
constexpr char installerPath[] = "./driver/setup.exe";
constexpr char installerArgument[] = "/S";
// One animation step per wait.
constexpr std::chrono::milliseconds installerWaitStep { 50 };
constexpr int animationStep = 10;
// A silent installer takes seconds to minutes; one that is still running after this is left to
// finish on its own rather than holding the run for good.
constexpr std::chrono::minutes installerWaitLimit { 15 };

} // namespace

bool cUpdateFlow::installDriver()
{
    cLaunchedProgram installer;
    const ProgramStart started
        = startProgram(QDir::toNativeSeparators(QString::fromLatin1(installerPath)).toStdString(),
                       installerArgument, installer);
    if (started == ProgramStart::Failed)
        return false;
    if (started == ProgramStart::StartedWithoutHandle)
        return true;

    // The thread stays here until the installer ends: a view draws each step as it is told, as its
    // event loop does not run meanwhile.
    int value = 0;
    QElapsedTimer clock;
    clock.start();
    ProgramWait wait = ProgramWait::TimedOut;
    while ((wait = waitForProgram(installer, int(installerWaitStep.count()))) == ProgramWait::TimedOut
           && clock.elapsed() < std::chrono::milliseconds(installerWaitLimit).count()) {
        // Negative values draw the bar shrinking toward its other end: rising, falling, rising...
        setProgressPercent(value);
        value += animationStep;
        if (value > 100)
            value = -100;
    }
    setProgressPercent(100);
    closeProgram(installer);
    // An installer that reports a failure (a silent installer's exit code, 0 for success) has not
    // installed the driver, and the user must not be told it has. One still running at the limit,
    // or whose end could not be waited for, is given the benefit of the doubt.
    return !(wait == ProgramWait::Finished && installer.exitCode != 0);
}
