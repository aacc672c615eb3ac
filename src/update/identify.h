#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringList>

enum class DetectionOutcome { NotRecognised, UpToDate, UpdateRequired, NoUpdateFile };

// One recognised kind of device, tried in table order.
struct DeviceType
{
    enum class ReplyTest { Prefix, Whole };
    ReplyTest test;
    const char *reply;       // the prefix, or the whole reply
    const char *description; // untranslated; shown through the dialog's translation context
    const char *imgPattern;  // tried with hexPattern, case-insensitively
    const char *hexPattern;
    bool bootLoaderOnly;
};

// What the identification of one reply leaves for the wizard.
struct Identification
{
    DetectionOutcome outcome = DetectionOutcome::NotRecognised;
    QString description;    // translated device description
    QByteArray reply;       // the reply text as received
    QString updateVersion;  // empty when there is no update file
    QString updateFileName; // bare name; empty when there is no update file
    bool bootLoaderOnly = false;
};

// Where update files are looked for: every file of a folder, or one named file of it alone (the
// user named that file; it must still be named like an update file for the device).
struct UpdateSource
{
    UpdateSource(const QString &folder = QCoreApplication::applicationDirPath(), const QString &onlyFile = QString())
        : directory(folder)
        , onlyName(onlyFile)
    {
    }
    QString directory;
    QString onlyName; // bare name; empty for the whole folder
};

const DeviceType *identifyDevice(const QByteArray &reply);
QString findUpdateFile(const DeviceType &type, const UpdateSource &source = UpdateSource());
// Every name in source that is an update file for some device, in ascending order.
QStringList updateFileCandidates(const UpdateSource &source);
// The device description (untranslated) an update file of this name is for, or nullptr.
const char *updateFileDevice(const QString &fileName);
QString updateVersionOf(const QString &fileName);
bool needsUpdate(const QByteArray &reply, const QString &updateVersion);
Identification identify(const QByteArray &reply, const UpdateSource &source = UpdateSource());
