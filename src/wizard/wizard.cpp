#include "wizard/updateflow.h"

#include "support/regularfile.h"
#include "support/trace.h"
#include "update/xmodem1ksend.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>

#include <chrono>

namespace {

using std::chrono::milliseconds;

constexpr milliseconds detectInterval { 50 };
// The device needs time to restart into its boot loader before its new port can show up.
constexpr milliseconds bootloaderFirstScanDelay { 2000 };
constexpr milliseconds bootloaderScanInterval { 200 };
// Also gives the transfer thread time to let go of the port before the GUI thread opens it again.
constexpr milliseconds retryDelay { 1000 };
// Often enough for a smooth bar; each poll wakes the GUI thread, and a bench runs many wizards at once.
constexpr milliseconds transferPollInterval { 50 };
constexpr milliseconds driverBranchDelay { 0 };
// The sender sets its final status just before it closes the port; this bounds the wait for that.
constexpr milliseconds transferEndWait { 2000 };
constexpr milliseconds confirmScanInterval { 50 };

int ms(milliseconds delay)
{
    return int(delay.count());
}

} // namespace

void cUpdateFlow::setUpdateUnderWay(bool underWay, bool closeButton)
{
    m_updateUnderWay = underWay;
    emit closableChanged(!underWay, !underWay && closeButton);
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

// The series is spent: the page for a failed connection, whose Retry starts a fresh one.
void cUpdateFlow::connectFailed(WizardState attemptState)
{
    log("Connecting - failed");
    setUpdateUnderWay(false);
    m_record.attemptsUsed = m_limits.attemptsPerSeries - updateAttempts;
    wizardState = StateFinished;
    updateAttempts = m_limits.attemptsPerSeries;
    bootCommandsUnanswered = 0;
    retryState = attemptState;
    showPage(Page::ConnectFailed);
    setProgress(Progress::Hidden);
    emit ended(Ending::ConnectFailed, m_record);
}

void cUpdateFlow::logUpdateFile()
{
    // A file that cannot be read here is the sender's to report, as "Updating - xmodem file error".
    const QString path = updateFilePath();
    QFile file;
    if (!openRegularFile(file, path))
        return;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return;
    m_record.filePath = path;
    m_record.fileSize = file.size();
    m_record.fileSha256 = hash.result().toHex();
    log("Update file: " + QFileInfo(path).fileName().toUtf8() + ", " + QByteArray::number(m_record.fileSize)
        + " bytes, SHA-256 " + m_record.fileSha256);
}

void cUpdateFlow::stepWizard()
{
    // Where a new attempt of the update starts: a device without application gets no boot command.
    const WizardState attemptState = bootLoaderOnly ? StateBootloaderConnect : StateBoot;

    switch (wizardState) {
    case StateDisconnect:
        log("Start");
        showPage(Page::Disconnect);
        wizardState = StateInstallPrompt;
        break;

    case StateInstallPrompt:
        log("Disconnect");
        showPage(Page::InstallPrompt);
        wizardState = StateInstallDriver;
        break;

    case StateInstallDriver:
        log("AIS driver install");
        showPage(Page::Installing);
        if (installDriver()) {
            log("AIS driver install - successful");
            wizardState = StateConnect;
            showPage(Page::DriverInstalled);
        } else {
            log("AIS driver install - failed");
            wizardState = StateDriverFailed;
            endOn(Page::DriverFailed, Ending::DriverFailed);
        }
        break;

    case StateConnect:
        log("Connect");
        setProgress(Progress::Hidden);
        showPage(Page::Connect);
        wizardState = StateDetect;
        detectScansLeft = m_limits.detectScans;
        break;

    case StateDetect: {
        if (detectScansLeft == m_limits.detectScans) {
            log("Detecting AIS");
            showPage(Page::Detecting);
            setProgress(Progress::Busy);
        }
        bool identified = false;
        if (detectScansLeft > 0) {
            --detectScansLeft;
            // An outcome without a page of its own is no device this cycle: it must not leave the
            // run without a page and without a timer.
            identified = scanApplicationPort() && detection.outcome != DetectionOutcome::NotRecognised;
        }
        if (identified) {
            log("Detecting AIS - found");
            log(detection.reply);
            log(detection.updateVersion.toUtf8());
            setProgress(Progress::Hidden);
            PageFacts facts;
            facts.device = detection;
            switch (detection.outcome) {
            case DetectionOutcome::UpToDate:
                log("Detecting AIS - up-to-date");
                wizardState = StateFinished;
                endOn(Page::UpToDate, Ending::UpToDate, facts);
                break;
            case DetectionOutcome::UpdateRequired:
                log("Detecting AIS - update required");
                updateAttempts = m_limits.attemptsPerSeries;
                if (const DeviceType *type = identifyDevice(detection.reply))
                    m_record.deviceKind = QLatin1String(type->description);
                m_record.portName = applicationPortName;
                m_record.versionBefore = QString::fromLatin1(detection.reply);
                m_record.versionAfter.clear();
                if (bootLoaderOnly) {
                    wizardState = StateBootloaderConnect;
                    bootScansLeft = m_limits.bootloaderScans;
                } else {
                    wizardState = StateBoot;
                }
                showPage(Page::UpdateRequired, facts);
                break;
            case DetectionOutcome::NoUpdateFile:
                log("Detecting AIS - No update file");
                wizardState = StateFinished;
                endOn(Page::NoUpdateFile, Ending::NoUpdateFile, facts);
                break;
            case DetectionOutcome::NotRecognised:
                break;
            }
        } else if (detectScansLeft > 0) {
            scheduleTimer(ms(detectInterval), StateDetect);
        } else if (!notFoundShown) {
            setProgress(Progress::Hidden);
            notFoundShown = true;
            log("Detecting AIS - not found");
            logPreflight();
            wizardState = StateConnectFailed;
            retryState = StateConnect;
            endOn(Page::NotFound, Ending::NotFound);
        } else {
            // The user has seen "not found" once and retried: offer the driver installation. The
            // busy detection page has no button, so the run moves on by itself.
            setProgress(Progress::Hidden);
            wizardState = StateDisconnect;
            scheduleTimer(ms(driverBranchDelay), StateDisconnect);
        }
        break;
    }

    case StateBoot:
        log("Booting");
        setUpdateUnderWay(true);
        showPage(Page::Switching);
        setProgress(Progress::Busy);
        usbBoot();
        scheduleTimer(ms(bootloaderFirstScanDelay), StateBootloaderConnect);
        bootScansLeft = m_limits.bootloaderScans;
        log("Connecting");
        break;

    case StateBootloaderConnect: {
        // A device without application gets no boot command: its update is under way from here.
        if (bootLoaderOnly && bootScansLeft == m_limits.bootloaderScans)
            setUpdateUnderWay(true);
        showPage(Page::Connecting);
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
                showPage(Page::UpdateInProgress);
                logUpdateFile();
                // One thread object for the whole run: every attempt sends the file chosen first.
                if (!transferThread)
                    transferThread = new cXmodem1KSend(
                        (m_source.directory + QLatin1Char('/') + updateFileName).toUtf8().toStdString(),
                        &serialPort);
                transferThread->startTransfer();
                log("Updating");
                scheduleTimer(ms(transferPollInterval), StateTransfer);
            } else if (--updateAttempts <= 0) {
                connectFailed(attemptState);
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
            QM_TRACE("cUpdateFlow::stepWizard") << "Rescanning:" << bootScansLeft;
            scheduleTimer(ms(bootloaderScanInterval), StateBootloaderConnect);
        } else if (++bootCommandsUnanswered < m_limits.attemptsPerSeries) {
            log("Connecting - retry");
            scheduleTimer(ms(retryDelay), StateBoot);
        } else {
            connectFailed(attemptState);
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
                m_record.attemptsUsed = m_limits.attemptsPerSeries;
                setProgress(Progress::Hidden);
                updateAttempts = m_limits.attemptsPerSeries;
                wizardState = StateFinished;
                retryState = attemptState;
                endOn(Page::UpdateFailed, Ending::UpdateFailed);
            } else {
                log("Updating - retry");
                increaseXmodemTimeout();
                showPage(Page::Restarting);
                scheduleTimer(ms(retryDelay), attemptState);
            }
            break;
        }
        if (status == XmodemComplete) {
            // The sender publishes 100 before it reports completion; the reading above may be
            // older than the status, so the bar is brought up to date here.
            setProgressPercent(transferThread->progress);
            log("Updating - complete");
            m_record.attemptsUsed = m_limits.attemptsPerSeries - updateAttempts + 1;
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
                endOn(Page::UpdateComplete, Ending::Sent);
            }
            break;
        }
        setUpdateUnderWay(false);
        wizardState = StateFinished;
        setProgress(Progress::Hidden);
        if (status == XmodemFileError) {
            log("Updating - xmodem file error");
            endOn(Page::FileError, Ending::FileError);
        } else {
            // XmodemPortError, and any status the sender does not define: never wait on a busy page.
            log("Updating - xmodem port error");
            endOn(Page::PortError, Ending::PortError);
        }
        break;
    }

    case StateConfirm:
        log("Confirming");
        setUpdateUnderWay(true);
        showPage(Page::Confirming);
        setProgress(Progress::Busy);
        confirmDeadline = QDeadlineTimer(m_limits.confirmWaitMs);
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
        setProgress(Progress::Hidden);
        setUpdateUnderWay(false);
        PageFacts facts;
        facts.reportedVersion = QString::fromLatin1(detection.reply);
        if (!answered) {
            log("Confirming - no answer");
            wizardState = StateFinished;
            retryState = StateConfirm;
            endOn(Page::NoConfirmation, Ending::NoAnswer);
        } else if (facts.reportedVersion == expectedVersion) {
            log("Confirming - confirmed " + detection.reply);
            m_record.versionAfter = facts.reportedVersion;
            setProgressPercent(100);
            wizardState = StateFinished;
            endOn(Page::UpdateComplete, Ending::Updated, facts);
        } else {
            log("Confirming - device reports " + detection.reply + ", expected " + expectedVersion.toUtf8());
            wizardState = StateFinished;
            // A new run from detection: the device tells again what it runs, and the file is
            // chosen afresh.
            retryState = StateDetect;
            detectScansLeft = m_limits.detectScans;
            bootLoaderOnly = false;
            delete transferThread;
            transferThread = nullptr;
            facts.expectedVersion = expectedVersion;
            endOn(Page::NotConfirmed, Ending::NotConfirmed, facts);
        }
        break;
    }

    case StateFinished:
        log("Complete");
        emit finished(0);
        break;

    case StateConnectFailed:
        log("Connect failed");
        emit finished(StateConnectFailed);
        break;

    case StateDriverFailed:
        log("Driver install failed");
        emit finished(StateDriverFailed);
        break;
    }
}
