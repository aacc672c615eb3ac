#pragma once

#include "app/quaymend.h"

// The tests' one door into the dialog's private members. Every accessor returns a reference, so
// a test can also set the member up.
struct QuaymendProbe
{
    static Ui::UpdateWizard &ui(Quaymend &d) { return d.ui; }
    static WizardState &wizardState(Quaymend &d) { return d.wizardState; }
    static WizardState &retryState(Quaymend &d) { return d.retryState; }
    static bool &notFoundShown(Quaymend &d) { return d.notFoundShown; }
    static bool &bootLoaderOnly(Quaymend &d) { return d.bootLoaderOnly; }
    static cSerialPort &serialPort(Quaymend &d) { return d.serialPort; }
    static QString &updateFileName(Quaymend &d) { return d.updateFileName; }
    static qint32 &timerCode(Quaymend &d) { return d.timerCode; }
    static QString &applicationPortName(Quaymend &d) { return d.applicationPortName; }
    static cXmodem1KSend *&transferThread(Quaymend &d) { return d.transferThread; }
    static qint32 &updateAttempts(Quaymend &d) { return d.updateAttempts; }
    static qint32 &detectScansLeft(Quaymend &d) { return d.detectScansLeft; }
    static qint32 &bootScansLeft(Quaymend &d) { return d.bootScansLeft; }
    static Identification &detection(Quaymend &d) { return d.detection; }
    static QString &updateDirectory(Quaymend &d) { return d.updateDirectory; }
    static QString &logText(Quaymend &d) { return d.logText; }
    static cBusyFilter &busyFilter(Quaymend &d) { return d.busyFilter; }
    static bool &busy(Quaymend &d) { return d.busy; }
    static bool &updateUnderWay(Quaymend &d) { return d.updateUnderWay; }
    static qint32 &confirmWaitMs(Quaymend &d) { return d.confirmWaitMs; }
    static cDeviceFollower &deviceFollower(Quaymend &d) { return d.deviceFollower; }
};
