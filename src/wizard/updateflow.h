#pragma once

#include "device/devicefollower.h"
#include "device/serialport.h"
#include "support/keepawake.h"
#include "update/identify.h"
#include "wizard/wizardstate.h"

#include <QByteArray>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>

class cXmodem1KSend;

// One update from its first page to its last, without a widget: the states and their timers, the
// device it follows and that device's port, the sender thread, the retries, the confirmation, the
// keep-awake inhibitor, the update log and the run's record. The window and the unattended run are
// views of it: it tells them which page to show, how far the transfer is, whether the run may be
// left now and how it ended; they answer a page with next() or retry(), as its buttons say.
class cUpdateFlow : public QObject
{
    Q_OBJECT

public:
    // Every page a run can show. A page's texts are the view's; the flow names the page only.
    enum class Page {
        Welcome,
        Disconnect,
        InstallPrompt,
        Installing,
        DriverInstalled,
        DriverFailed,
        Connect,
        Detecting,
        UpToDate,
        UpdateRequired,
        NoUpdateFile,
        NotFound,
        Switching,
        Connecting,
        UpdateInProgress,
        ConnectFailed,
        UpdateFailed,
        Restarting,
        PortError,
        FileError,
        UpdateComplete,
        Confirming,
        NotConfirmed,
        NoConfirmation,
    };
    Q_ENUM(Page)

    // What a page shows beyond its fixed texts.
    struct PageFacts
    {
        // The identification the device-found pages name (kind, current and update version).
        Identification device;
        // Update complete: the version the device confirmed, empty when it was not asked. Update not
        // confirmed: the version it reported instead of the expected one.
        QString reportedVersion;
        QString expectedVersion;
    };

    // The progress bar: not shown, turning without an end, or a share (negative: the installer's
    // animation, drawn shrinking toward the bar's other end).
    enum class Progress { Hidden, Busy, Percent };
    Q_ENUM(Progress)

    // How a run ended: the page that waits for the user's last decision. NotFound can be retried,
    // as can ConnectFailed, UpdateFailed, NotConfirmed and NoAnswer.
    enum class Ending {
        Updated,      // sent and confirmed by the device
        Sent,         // sent; the device was not asked (confirmation off)
        UpToDate,
        NoUpdateFile,
        NotFound,
        DriverFailed,
        ConnectFailed,
        UpdateFailed,
        PortError,
        FileError,
        NotConfirmed, // the device reports another version
        NoAnswer,     // the device did not report back in time
    };
    Q_ENUM(Ending)

    // What one update did, filled in as the run goes.
    struct RunRecord
    {
        QString deviceKind;    // the device's description, untranslated
        QString portName;      // the application port it was found on
        QString versionBefore; // the reply at detection
        QString filePath;      // the update file sent
        qint64 fileSize = -1;
        QByteArray fileSha256; // lower-case hex
        QString versionAfter;  // the version the device reported after the update, once confirmed
        int attemptsUsed = 0;
    };

    // The bounds of a run; the defaults are the product's, a test may shorten them.
    struct Limits
    {
        int detectScans = 600;
        int bootloaderScans = 100;
        // Handshakes and transfers draw on the same series; as many boot commands in a row that
        // bring up no boot loader end it too.
        int attemptsPerSeries = 6;
        // How long the device has, after the end of a transfer, to restart and report its version.
        int confirmWaitMs = confirmTimeoutMs;
    };

    // Whether a page has a first button (Start, Next..., Close, Cancel), and a Retry button. Busy
    // pages have neither: the flow moves on by itself.
    static bool offersNext(Page page);
    static bool offersRetry(Page page);

    explicit cUpdateFlow(QObject *parent = nullptr);
    ~cUpdateFlow() override;

    // Where update files are looked for; the program's own folder unless the user named another
    // folder or one file.
    void setUpdateSource(const UpdateSource &source);
    // Binds the run to the device with this USB serial number, or to this port; empty: any device.
    void bindToDevice(const QString &serialNumber, const QString &portName);
    // Whether the run waits, after a transfer, for the device to report the version it was sent
    // (the default). Off for devices that do not restart by themselves: the run then ends on
    // "Update complete" as soon as the boot loader has the file.
    void setConfirmUpdate(bool confirm);
    void setLimits(const Limits &limits);

    // The update file the transfers send, once a detection has chosen one.
    QString updateFilePath() const;
    const RunRecord &runRecord() const { return m_record; }
    Page page() const { return m_page; }
    // From the boot command until the device has reported back after the transfer the device may be
    // writing its flash: the run must not be left, and the computer is kept awake.
    bool closable() const { return !m_updateUnderWay; }

    // Update log: one line a call, to the log file, to the run's copy and to lineLogged.
    void log(const QByteArray &text);

public slots:
    // The Welcome page and the log's first line.
    void start();
    // The page's first button: Start, Next..., Close or Cancel; and Retry. Nothing happens on a
    // page without that button.
    void next();
    void retry();
    // The user leaves the run (the window's close): refused, with false, while the update is under
    // way; otherwise nothing more happens on the run's own accord.
    bool cancel();
    // Every update-log line of this run, with its timestamp, for "Copy Log to Clipboard".
    QString copyLog() const { return m_logText; }

signals:
    void lineLogged(const QDateTime &when, const QString &timestamp, const QByteArray &text);
    void pageChanged(cUpdateFlow::Page page, const cUpdateFlow::PageFacts &facts);
    void progressChanged(cUpdateFlow::Progress progress, int percent);
    // closeButton: whether the window's title bar offers closing; the update-failed page keeps the
    // transfer's title bar, yet may be closed.
    void closableChanged(bool closable, bool closeButton);
    void ended(cUpdateFlow::Ending ending, const cUpdateFlow::RunRecord &record);
    // The last page was answered: 0, or the end states' own codes (StateConnectFailed,
    // StateDriverFailed).
    void finished(int result);

private:
    void stepWizard();
    void timer();
    void scheduleTimer(int delayMs, WizardState state);
    void showPage(Page page, const PageFacts &facts = {});
    void setProgressPercent(int percent);
    void setProgress(Progress progress);
    void endOn(Page page, Ending ending, const PageFacts &facts = {});
    void setUpdateUnderWay(bool underWay, bool closeButton = true);
    void connectFailed(WizardState attemptState);
    void logUpdateFile();
    void logPreflight();

    // Device link.
    bool scanApplicationPort();
    bool scanBootloaderPort();
    void usbBoot();
    bool usbBootHandshake();

    // Driver installation; holds the thread until the installer ends.
    bool installDriver();

    Limits m_limits;
    Page m_page = Page::Welcome;
    WizardState wizardState = StateConnect;
    WizardState retryState = StateConnect;
    WizardState timerState = StateConnect;
    // A child, so that a test can tell whether the flow waits on its own.
    QTimer m_timer { this };
    bool notFoundShown = false;
    bool bootLoaderOnly = false;
    cSerialPort serialPort;
    QString updateFileName;
    QString applicationPortName;
    // The application's port vanished under a handshake: the device has left the bus as the boot
    // command asks, and the next attempt sends it no boot command.
    bool applicationLeft = false;
    cXmodem1KSend *transferThread = nullptr;
    qint32 updateAttempts = 0;
    qint32 detectScansLeft = 0;
    qint32 bootScansLeft = 0;
    // Since the last boot-loader port showed up: a device that never switches is not waited for
    // without end.
    qint32 bootCommandsUnanswered = 0;
    // What the last successful identification found, for the pages that follow it.
    Identification detection;
    UpdateSource m_source;
    QString m_logText;
    // The device this run updates, for every scan of the run.
    cDeviceFollower deviceFollower;
    bool m_updateUnderWay = false;
    cKeepAwake keepAwake;
    bool keepAwakeFailureLogged = false;
    bool confirmUpdate = true;
    // The version the update file carries.
    QString expectedVersion;
    QDeadlineTimer confirmDeadline;
    RunRecord m_record;
};

Q_DECLARE_METATYPE(cUpdateFlow::PageFacts)
Q_DECLARE_METATYPE(cUpdateFlow::RunRecord)
