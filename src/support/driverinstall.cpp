#include "app/quaymend.h"
#include "support/driverlaunch.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>

#include <chrono>

namespace {

// Delivered beside the program; resolved against the current directory, not the program's own.
constexpr char installerPath[] = "./driver/setup.exe";
constexpr char installerArgument[] = "/S";
// One animation step per wait.
constexpr std::chrono::milliseconds installerWaitStep { 50 };
constexpr int animationStep = 10;
// A silent installer takes seconds to minutes; one that is still running after this is left to
// finish on its own rather than holding the wizard for good.
constexpr std::chrono::minutes installerWaitLimit { 15 };

} // namespace

bool Quaymend::installDriver()
{
    cLaunchedProgram installer;
    const ProgramStart started
        = startProgram(QDir::toNativeSeparators(QString::fromLatin1(installerPath)).toStdString(),
                       installerArgument, installer);
    if (started == ProgramStart::Failed)
        return false;
    if (started == ProgramStart::StartedWithoutHandle)
        return true;

    // The GUI thread stays here until the installer ends: lay the bar out and draw the page now,
    // then let the bar repaint itself on every step.
    ui.ProgressBar->show();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    repaint();
    int value = 0;
    QElapsedTimer clock;
    clock.start();
    while (waitForProgram(installer, int(installerWaitStep.count())) == ProgramWait::TimedOut
           && clock.elapsed() < std::chrono::milliseconds(installerWaitLimit).count()) {
        // Negative values draw the bar shrinking toward its other end: rising, falling, rising...
        setProgressPercent(value);
        ui.ProgressBar->repaint();
        value += animationStep;
        if (value > 100)
            value = -100;
    }
    setProgressPercent(100);
    ui.ProgressBar->repaint();
    closeProgram(installer);
    return true;
}
