#include "app/quaymend.h"
#include "support/regularfile.h"
#include "support/trace.h"
#include "update/xmodem1ksend.h"
#include "wizard/pages.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
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
constexpr milliseconds confirmScanInterval { 50 };

// No close or minimise button while the device's flash is being written.
constexpr Qt::WindowFlags transferWindowFlags = Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint;
constexpr Qt::WindowFlags normalWindowFlags
    = Qt::Dialog | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;

int ms(milliseconds delay)
{
    return int(delay.count());
}

} // namespace

void Quaymend::setUpdateUnderWay(bool underWay, bool closeButton)
{
    updateUnderWay = underWay;
    // Setting window flags hides a widget, so every change is followed by show(). The toolkit adds
    // hints of its own to the flags, so only the two buttons tell the sets apart.
    const Qt::WindowFlags flags = underWay || !closeButton ? transferWindowFlags : normalWindowFlags;
    const Qt::WindowFlags buttons = Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    if ((windowFlags() & buttons) != (flags & buttons)) {
        const bool wasVisible = isVisible();
        setWindowFlags(flags);
        if (wasVisible)
            show();
    }
    if (!underWay) {
        keepAwake.release();
        return;
    }
    std::string why;
    if (!keepAwake.acquire(why) && !keepAwakeFailureLogged) {
        // Said once a run: the update goes on, the computer may sleep meanwhile.
        keepAwakeFailureLogged = true;
        log("Cannot keep the computer awake - " + QByteArray::fromStdString(why));
    }
}

void Quaymend::logUpdateFile()
{
    // A file that cannot be read here is the sender's to report, as "Updating - xmodem file error".
    const QString path = updateFilePath();
    QFile file;
    if (!openRegularFile(file, path))
        return;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return;
    record.filePath = path;
    record.fileSize = file.size();
    record.fileSha256 = hash.result().toHex();
    log("Update file: " + QFileInfo(path).fileName().toUtf8() + ", " + QByteArray::number(record.fileSize)
        + " bytes, SHA-256 " + record.fileSha256);
}

void Quaymend::stepWizard()
{
    ui.CopyLogButton->hide();

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
                if (const DeviceType *type = identifyDevice(detection.reply))
                    record.deviceKind = QLatin1String(type->description);
                record.portName = applicationPortName;
                record.versionBefore = QString::fromLatin1(detection.reply);
                record.versionAfter.clear();
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
        setUpdateUnderWay(true);
        showPage(pageSwitching());
        setProgressBusy();
        usbBoot();
        scheduleTimer(ms(bootloaderFirstScanDelay), StateBootloaderConnect);
        bootScansLeft = bootloaderScans;
        log("Connecting");
        break;

    case StateBootloaderConnect: {
        // A device without application gets no boot command: its update is under way from here.
        if (bootLoaderOnly && bootScansLeft == bootloaderScans)
            setUpdateUnderWay(true);
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
                setUpdateUnderWay(true);
                showPage(pageUpdateInProgress());
                logUpdateFile();
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
                setUpdateUnderWay(false);
                record.attemptsUsed = attemptsPerSeries;
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
            setUpdateUnderWay(false);
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
                // This page keeps the transfer's title bar; closing it by the window manager works.
                setUpdateUnderWay(false, false);
                record.attemptsUsed = attemptsPerSeries;
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
        if (status == XmodemComplete) {
            // The sender publishes 100 before it reports completion; the reading above may be
            // older than the status, so the bar is brought up to date here.
            setProgressPercent(transferThread->progress);
            log("Updating - complete");
            record.attemptsUsed = attemptsPerSeries - updateAttempts + 1;
            if (confirmUpdate) {
                // The boot loader has the file; only the device's own answer tells that it took it.
                // The version of the file this transfer sent, whatever was chosen since.
                expectedVersion = updateVersionOf(
                    QFileInfo(QString::fromStdString(transferThread->fileName)).fileName());
                wizardState = StateConfirm;
                stepWizard();
            } else {
                setUpdateUnderWay(false);
                wizardState = StateFinished;
                showPage(pageUpdateComplete());
            }
            break;
        }
        setUpdateUnderWay(false);
        if (status == XmodemFileError) {
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

    case StateConfirm:
        log("Confirming");
        setUpdateUnderWay(true);
        showPage(pageConfirming());
        setProgressBusy();
        confirmDeadline = QDeadlineTimer(confirmWaitMs);
        scheduleTimer(ms(confirmScanInterval), StateConfirmScan);
        break;

    case StateConfirmScan: {
        // The scan writes its own lines, as at detection; what it finds must not change the file
        // or the kind of run chosen then.
        const QString chosenFile = updateFileName;
        const bool wasBootLoaderOnly = bootLoaderOnly;
        const bool answered = scanApplicationPort() && detection.outcome != DetectionOutcome::NotRecognised;
        updateFileName = chosenFile;
        bootLoaderOnly = wasBootLoaderOnly;
        if (!answered && !confirmDeadline.hasExpired()) {
            scheduleTimer(ms(confirmScanInterval), StateConfirmScan);
            break;
        }
        ui.ProgressBar->hide();
        setUpdateUnderWay(false);
        const QString reported = QString::fromLatin1(detection.reply);
        if (!answered) {
            log("Confirming - no answer");
            ui.CopyLogButton->show();
            wizardState = StateFinished;
            retryState = StateConfirm;
            showPage(pageNoConfirmation());
        } else if (reported == expectedVersion) {
            log("Confirming - confirmed " + detection.reply);
            record.versionAfter = reported;
            setProgressPercent(100);
            wizardState = StateFinished;
            showPage(pageUpdateComplete(reported));
        } else {
            log("Confirming - device reports " + detection.reply + ", expected " + expectedVersion.toUtf8());
            ui.CopyLogButton->show();
            wizardState = StateFinished;
            // A new run from detection: the device tells again what it runs, and the file is
            // chosen afresh.
            retryState = StateDetect;
            detectScansLeft = detectScans;
            bootLoaderOnly = false;
            delete transferThread;
            transferThread = nullptr;
            showPage(pageNotConfirmed(reported, expectedVersion));
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
