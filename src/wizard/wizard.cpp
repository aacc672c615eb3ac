#include "app/quaymend.h"
#include "support/trace.h"
#include "update/xmodem1ksend.h"
#include "wizard/pages.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>

#include <chrono>

namespace {

using std::chrono::milliseconds;

constexpr int detectScans = 600;
constexpr milliseconds detectInterval { 50 };
// The device needs time to restart into its boot loader before its new port can show up.
constexpr milliseconds bootloaderFirstScanDelay { 2000 };
constexpr int bootloaderScans = 100;
constexpr milliseconds bootloaderScanInterval { 200 };
// Also gives the transfer thread time to let go of the port before the GUI thread opens it again.
constexpr milliseconds retryDelay { 1000 };
// Often enough for a smooth bar; each poll wakes the GUI thread, and a bench runs many wizards at once.
constexpr milliseconds transferPollInterval { 50 };
constexpr milliseconds driverBranchDelay { 0 };
// Handshakes and transfers draw on the same series.
constexpr int attemptsPerSeries = 6;
// The sender sets its final status just before it closes the port; this bounds the wait for that.
constexpr milliseconds transferEndWait { 2000 };

// No close or minimise button while the device's flash is being written.
constexpr Qt::WindowFlags transferWindowFlags = Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint;
constexpr Qt::WindowFlags normalWindowFlags
    = Qt::Dialog | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;

int ms(milliseconds delay)
{
    return int(delay.count());
}

} // namespace

void Quaymend::stepWizard()
{
    ui.CopyLogButton->hide();

    // Setting window flags hides a widget, so every change is followed by show(). The toolkit adds
    // hints of its own to the flags, so only the two buttons tell the sets apart.
    const auto useWindowFlags = [this](Qt::WindowFlags flags) {
        const Qt::WindowFlags buttons = Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
        if ((windowFlags() & buttons) != (flags & buttons)) {
            setWindowFlags(flags);
            show();
        }
    };
    // Where a new attempt of the update starts: a device without application gets no boot command.
    const WizardState attemptState = bootLoaderOnly ? StateBootloaderConnect : StateBoot;

    switch (wizardState) {
    case StateDisconnect:
        log("Start");
        showPage(pageDisconnect());
        wizardState = StateInstallPrompt;
        break;

    case StateInstallPrompt:
        log("Disconnect");
        showPage(pageInstallPrompt());
        wizardState = StateInstallDriver;
        break;

    case StateInstallDriver:
        log("AIS driver install");
        showPage(pageInstalling());
        if (installDriver()) {
            log("AIS driver install - successful");
            wizardState = StateConnect;
            showPage(pageDriverInstalled());
        } else {
            log("AIS driver install - failed");
            ui.CopyLogButton->show();
            wizardState = StateDriverFailed;
            showPage(pageDriverFailed());
        }
        break;

    case StateConnect:
        log("Connect");
        ui.ProgressBar->hide();
        showPage(pageConnect());
        wizardState = StateDetect;
        detectScansLeft = detectScans;
        break;

    case StateDetect: {
        if (detectScansLeft == detectScans) {
            log("Detecting AIS");
            showPage(pageDetecting());
            setProgressBusy();
        }
        bool identified = false;
        if (detectScansLeft > 0) {
            --detectScansLeft;
            // An outcome without a page of its own is no device this cycle: it must not leave the
            // wizard without a page and without a timer.
            identified = scanApplicationPort() && detection.outcome != DetectionOutcome::NotRecognised;
        }
        if (identified) {
            log("Detecting AIS - found");
            log(detection.reply);
            log(detection.updateVersion.toUtf8());
            ui.ProgressBar->hide();
            switch (detection.outcome) {
            case DetectionOutcome::UpToDate:
                log("Detecting AIS - up-to-date");
                wizardState = StateFinished;
                showPage(pageUpToDate(detection));
                break;
            case DetectionOutcome::UpdateRequired:
                log("Detecting AIS - update required");
                updateAttempts = attemptsPerSeries;
                if (bootLoaderOnly) {
                    wizardState = StateBootloaderConnect;
                    bootScansLeft = bootloaderScans;
                } else {
                    wizardState = StateBoot;
                }
                showPage(pageUpdateRequired(detection));
                break;
            case DetectionOutcome::NoUpdateFile:
                log("Detecting AIS - No update file");
                wizardState = StateFinished;
                showPage(pageNoUpdateFile(detection));
                break;
            case DetectionOutcome::NotRecognised:
                break;
            }
        } else if (detectScansLeft > 0) {
            scheduleTimer(ms(detectInterval), StateDetect);
        } else if (!notFoundShown) {
            ui.ProgressBar->hide();
            notFoundShown = true;
            log("Detecting AIS - not found");
            logPreflight();
            showPage(pageNotFound());
            ui.CopyLogButton->show();
            wizardState = StateConnectFailed;
            retryState = StateConnect;
        } else {
            // The user has seen "not found" once and retried: offer the driver installation. The
            // busy detection page has no button, so the wizard moves on by itself.
            ui.ProgressBar->hide();
            wizardState = StateDisconnect;
            scheduleTimer(ms(driverBranchDelay), StateDisconnect);
        }
        break;
    }

    case StateBoot:
        log("Booting");
        showPage(pageSwitching());
        setProgressBusy();
        usbBoot();
        scheduleTimer(ms(bootloaderFirstScanDelay), StateBootloaderConnect);
        bootScansLeft = bootloaderScans;
        log("Connecting");
        break;

    case StateBootloaderConnect: {
        showPage(pageConnecting());
        bool portFound = false;
        if (bootScansLeft > 0) {
            --bootScansLeft;
            portFound = scanBootloaderPort();
        } else if (bootLoaderOnly) {
            portFound = scanBootloaderPort();
        }
        if (portFound) {
            if (usbBootHandshake()) {
                log("Connecting - connected");
                useWindowFlags(transferWindowFlags);
                showPage(pageUpdateInProgress());
                // One thread object for the whole run: every attempt sends the file chosen first.
                if (!transferThread)
                    transferThread = new cXmodem1KSend(
                        (updateDirectory + QLatin1Char('/') + updateFileName).toUtf8().toStdString(),
                        &serialPort);
                transferThread->startTransfer();
                log("Updating");
                scheduleTimer(ms(transferPollInterval), StateTransfer);
            } else if (--updateAttempts <= 0) {
                log("Connecting - failed");
                showPage(pageConnectFailed());
                ui.ProgressBar->hide();
                wizardState = StateFinished;
                updateAttempts = attemptsPerSeries;
                retryState = attemptState;
            } else {
                log("Connecting - retry");
                scheduleTimer(ms(retryDelay), attemptState);
            }
            break;
        }
        // A boot loader that stays away after a timed-out transfer would otherwise keep the user
        // in a busy window without a close button for good.
        if (bootScansLeft == 0)
            useWindowFlags(normalWindowFlags);
        if (bootScansLeft > 0 || bootLoaderOnly) {
            QM_TRACE("Quaymend::stepWizard") << "Rescanning:" << bootScansLeft;
            scheduleTimer(ms(bootloaderScanInterval), StateBootloaderConnect);
        } else {
            log("Connecting - retry");
            scheduleTimer(ms(retryDelay), StateBoot);
        }
        break;
    }

    case StateTransfer: {
        setProgressPercent(transferThread->progress);
        const qint32 status = transferThread->status;
        if (status == XmodemRunning) {
            scheduleTimer(ms(transferPollInterval), StateTransfer);
            break;
        }
        // The port is the thread's until it has closed it; the next user of the port is this thread.
        // A close that takes longer (a driver draining its output) is waited out poll by poll.
        if (!transferThread->wait(QDeadlineTimer(ms(transferEndWait)))) {
            scheduleTimer(ms(transferPollInterval), StateTransfer);
            break;
        }
        if (status == XmodemTimeout) {
            if (--updateAttempts <= 0) {
                log("Updating - failed");
                ui.ProgressBar->hide();
                showPage(pageUpdateFailed());
                ui.CopyLogButton->show();
                updateAttempts = attemptsPerSeries;
                wizardState = StateFinished;
                retryState = attemptState;
            } else {
                log("Updating - retry");
                increaseXmodemTimeout();
                showPage(pageRestarting());
                scheduleTimer(ms(retryDelay), attemptState);
            }
            break;
        }
        useWindowFlags(normalWindowFlags);
        if (status == XmodemComplete) {
            // The sender publishes 100 before it reports completion; the reading above may be
            // older than the status, so the bar is brought up to date here.
            setProgressPercent(transferThread->progress);
            log("Updating - complete");
            wizardState = StateFinished;
            showPage(pageUpdateComplete());
        } else if (status == XmodemFileError) {
            log("Updating - xmodem file error");
            ui.CopyLogButton->show();
            wizardState = StateFinished;
            ui.ProgressBar->hide();
            showPage(pageFileError());
        } else {
            // XmodemPortError, and any status the sender does not define: never wait on a busy page.
            log("Updating - xmodem port error");
            ui.CopyLogButton->show();
            wizardState = StateFinished;
            ui.ProgressBar->hide();
            showPage(pagePortError());
        }
        break;
    }

    case StateFinished:
        log("Complete");
        done(0);
        break;

    case StateConnectFailed:
        log("Connect failed");
        done(StateConnectFailed);
        break;

    case StateDriverFailed:
        log("Driver install failed");
        done(StateDriverFailed);
        break;
    }
}

void Quaymend::retry()
{
    log("User retry");
    wizardState = retryState;
    ui.RetryButton->hide();
    stepWizard();
}

void Quaymend::timer()
{
    wizardState = static_cast<WizardState>(timerCode);
    stepWizard();
}
