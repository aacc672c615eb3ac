#pragma once

#include "app/busyfilter.h"
#include "app/pagetext.h"
#include "app/pageview.h"
#include "device/devicefollower.h"
#include "device/serialport.h"
#include "support/keepawake.h"
#include "update/identify.h"
#include "wizard/wizardstate.h"

#include "ui_updatewizard.h"

#include <QByteArray>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDialog>
#include <QString>

#include <functional>

class cXmodem1KSend;

// The program's one window: the update wizard. Its slots run one step of the wizard each; the
// device link, identification, update log and driver launch are member operations that stay thin
// and call the widget-free code of their folders.
class Quaymend : public QDialog
{
    Q_OBJECT

public:
    explicit Quaymend(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~Quaymend() override;

    // Page presentation, progress bar and timer.
    void showPage(const PageText &page);
    void setProgressPercent(int percent);
    void setProgressBusy();
    void scheduleTimer(int delayMs, int code);

    // Update log.
    void log(const QByteArray &text);
    void logTagged(const QByteArray &tag, const QByteArray &text);
    void logByte(const QByteArray &tag, quint8 byte);

    // Device link.
    void writeToPort(const QByteArray &bytes);
    void sendCommand(const QByteArray &text);
    bool readResponse(QByteArray &text);
    QByteArray queryDevice(const QByteArray &command);
    void configurePort();
    bool scanApplicationPort();
    bool scanBootloaderPort();
    void usbBoot();
    bool usbBootHandshake();

    // Driver installation.
    bool installDriver();

    // What stands in the way of an update on this system, one update-log line a finding.
    void logPreflight();

    // Where update files are looked for; the program's own folder unless the user named another
    // folder or one file.
    void setUpdateSource(const UpdateSource &source);
    // The update file the transfers send, once a detection has chosen one.
    QString updateFilePath() const;
    // Binds the run to the device with this USB serial number, or to this port; empty: any device.
    void bindToDevice(const QString &serialNumber, const QString &portName);

    // Called with every update-log line as it is written (an unattended run reports them), from
    // the first line of the first dialog on; an empty function stops it.
    using LogListener = std::function<void(const QDateTime &when, const QString &timestamp, const QByteArray &text)>;
    static void setLogListener(LogListener listener);
    // Called with the percentage every time the progress bar is set to one.
    void setProgressListener(std::function<void(int percent)> listener);

    // Whether the wizard waits, after a transfer, for the device to report the version it was sent
    // (the default). Off for devices that do not restart by themselves: the wizard then ends on
    // "Update complete" as soon as the boot loader has the file.
    void setConfirmUpdate(bool confirm);

    // What one update did, for an unattended run's result: filled in as the run goes.
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
    const RunRecord &runRecord() const { return record; }

protected:
    // From the boot command until the update is confirmed, the window cannot be closed: not by the
    // window manager, Alt+F4, Escape or the end of the desktop session.
    void closeEvent(QCloseEvent *event) override;

public:
    // Escape, and any other rejection: refused like a close while the update is under way.
    void reject() override;

public slots:
    void about();
    void stepWizard();
    void retry();
    void timer();
    void copylog();

private:
    // Tests reach the members through this one door.
    friend struct QuaymendProbe;

    Ui::UpdateWizard ui;
    cPageView *pageView;
    WizardState wizardState;
    WizardState retryState;
    bool notFoundShown;
    bool bootLoaderOnly;
    cSerialPort serialPort;
    QString updateFileName;
    qint32 timerCode;
    QString applicationPortName;
    // The application's port vanished under a handshake: the device has left the bus as the boot
    // command asks, and the next attempt sends it no boot command.
    bool applicationLeft = false;
    cXmodem1KSend *transferThread;
    qint32 updateAttempts;
    qint32 detectScansLeft;
    qint32 bootScansLeft;
    // What the last successful identification found, for the pages that follow it.
    Identification detection;
    // Where update files are looked for: the program's own directory.
    QString updateDirectory;
    // The one file the user named, or empty for every file of updateDirectory.
    QString updateFileOnly;
    QString logText;
    cBusyFilter busyFilter;
    bool busy;
    // The device this run updates, for every scan of the run.
    cDeviceFollower deviceFollower;
    std::function<void(int percent)> progressListener;
    // Set from the boot command until the device has reported back after the transfer: the device
    // may be writing its flash, so the window stays and the computer stays awake.
    bool updateUnderWay;
    cKeepAwake keepAwake;
    bool keepAwakeFailureLogged;
    bool confirmUpdate;
    // The version the update file carries, and how long the wizard waits for the device to say so.
    QString expectedVersion;
    qint32 confirmWaitMs;
    QDeadlineTimer confirmDeadline;
    RunRecord record;

    // Off again: closing works once more, and the close button comes back unless told otherwise.
    void setUpdateUnderWay(bool underWay, bool closeButton = true);
    // One update-log line naming the file about to be sent: name, size and SHA-256.
    void logUpdateFile();
};
