#pragma once

#include <QtGlobal>

// The values are fixed: 12 and 13 are also the dialog results of their end states.
enum WizardState : qint32 {
    StateDisconnect = 0,
    StateInstallPrompt = 1,
    StateInstallDriver = 2,
    StateConnect = 4,
    StateDetect = 5,
    StateBoot = 7,
    StateBootloaderConnect = 9,
    StateTransfer = 10,
    StateFinished = 11,
    StateConnectFailed = 12,
    StateDriverFailed = 13,
    // After a transfer: the new version is asked for until the device answers or the bound ends.
    StateConfirm = 14,
    StateConfirmScan = 15,
};

// How long the device has, after the end of a transfer, to restart and report its new version.
constexpr qint32 confirmTimeoutMs = 60000;
