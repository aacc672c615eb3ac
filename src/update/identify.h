#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

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

const DeviceType *identifyDevice(const QByteArray &reply);
QString findUpdateFile(const DeviceType &type, const QString &directory = QCoreApplication::applicationDirPath());
QString updateVersionOf(const QString &fileName);
bool needsUpdate(const QByteArray &reply, const QString &updateVersion);
Identification identify(const QByteArray &reply, const QString &directory = QCoreApplication::applicationDirPath());
