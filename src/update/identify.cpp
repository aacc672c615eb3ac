#include "update/identify.h"

#include "support/regularfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <iterator>

namespace {

const DeviceType deviceTypes[] = {
    { DeviceType::ReplyTest::Prefix, "7304", QT_TRANSLATE_NOOP("Quaymend", "AIS Class B CS Transceiver"),
      "7304??_??_??_??.img", "7304??_??_??_??.hex", false },
    { DeviceType::ReplyTest::Prefix, "7504", QT_TRANSLATE_NOOP("Quaymend", "AIS Class B SO Transceiver"),
      "7504??_??_??_??.img", "7504??_??_??_??.hex", false },
    // A device without an application cannot tell its kind, so files of both kinds qualify.
    { DeviceType::ReplyTest::Whole, "NOAPP", QT_TRANSLATE_NOOP("Quaymend", "AIS Class B Transceiver"),
      "7?04??_??_??_??.img", "7?04??_??_??_??.hex", true },
};

// "?" stands for exactly one character; everything else must match regardless of letter case.
bool matchesPattern(const QString &name, const char *pattern)
{
    const QString wanted = QString::fromLatin1(pattern);
    if (name.size() != wanted.size())
        return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (wanted[i] == u'?')
            continue;
        const char16_t c = name[i].unicode();
        const char16_t lower = c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
        if (lower != wanted[i].toLower().unicode())
            return false;
    }
    return true;
}

// Device version groups start at these positions, two digits each.
constexpr int versionGroups[] = { 7, 10, 13 };
constexpr int alwaysUpdateGroup = 99;

} // namespace

const DeviceType *identifyDevice(const QByteArray &reply)
{
    for (const DeviceType &type : deviceTypes) {
        const bool matches
            = type.test == DeviceType::ReplyTest::Prefix ? reply.startsWith(type.reply) : reply == type.reply;
        if (matches)
            return &type;
    }
    return nullptr;
}

namespace {

// The names in source, listed unfiltered and matched by the caller: QDir's own filters and sorting
// depend on platform and locale, while the choice of the greatest name must not.
QStringList listedNames(const UpdateSource &source)
{
    const QFileInfoList entries = QDir(source.directory).entryInfoList(QDir::Files, QDir::Unsorted);
    QStringList names;
    for (const QFileInfo &entry : entries) {
        if (source.onlyName.isEmpty() || entry.fileName() == source.onlyName)
            names.append(entry.fileName());
    }
    return names;
}

bool matchesType(const QString &name, const DeviceType &type)
{
    return matchesPattern(name, type.imgPattern) || matchesPattern(name, type.hexPattern);
}

// Only a regular file (after following links) that opens for reading can be sent: the sender opens
// it after the device has been switched to its boot loader, too late to find out. A FIFO or device
// named like an update file is never opened, and the open itself cannot block.
bool isReadableFile(const UpdateSource &source, const QString &name)
{
    QFile file;
    return openRegularFile(file, source.directory + u'/' + name);
}

} // namespace

QString findUpdateFile(const DeviceType &type, const UpdateSource &source)
{
    QStringList names;
    for (const QString &name : listedNames(source)) {
        if (matchesType(name, type) && isReadableFile(source, name))
            names.append(name);
    }
    if (names.isEmpty())
        return QString();
    return *std::max_element(names.cbegin(), names.cend(), [](const QString &a, const QString &b) {
        return QString::compare(a, b, Qt::CaseSensitive) < 0;
    });
}

QStringList updateFileCandidates(const UpdateSource &source)
{
    QStringList names;
    for (const QString &name : listedNames(source)) {
        if (updateFileDevice(name) && isReadableFile(source, name))
            names.append(name);
    }
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return QString::compare(a, b, Qt::CaseSensitive) < 0;
    });
    return names;
}

const char *updateFileDevice(const QString &fileName)
{
    for (const DeviceType &type : deviceTypes) {
        if (!type.bootLoaderOnly && matchesType(fileName, type))
            return type.description;
    }
    return nullptr;
}

QString updateVersionOf(const QString &fileName)
{
    return fileName.left(6) + u'.' + fileName.mid(7, 2) + u'.' + fileName.mid(10, 2) + u'.'
        + fileName.mid(13, 2);
}

bool needsUpdate(const QByteArray &reply, const QString &updateVersion)
{
    bool allAlwaysUpdate = true;
    for (const int start : versionGroups) {
        bool ok = false;
        const int group = reply.mid(start, 2).toInt(&ok, 10);
        // A version the device cannot state properly is always offered the update.
        if (!ok)
            return true;
        allAlwaysUpdate = allAlwaysUpdate && group == alwaysUpdateGroup;
    }
    if (allAlwaysUpdate)
        return true;
    return reply < updateVersion.toUtf8();
}

Identification identify(const QByteArray &reply, const UpdateSource &source)
{
    Identification result;
    result.reply = reply;
    const DeviceType *type = reply.isEmpty() ? nullptr : identifyDevice(reply);
    if (!type)
        return result;
    result.description = QCoreApplication::translate("Quaymend", type->description);
    result.bootLoaderOnly = type->bootLoaderOnly;
    result.updateFileName = findUpdateFile(*type, source);
    if (result.updateFileName.isEmpty()) {
        result.outcome = DetectionOutcome::NoUpdateFile;
        return result;
    }
    result.updateVersion = updateVersionOf(result.updateFileName);
    result.outcome = needsUpdate(reply, result.updateVersion) ? DetectionOutcome::UpdateRequired
                                                              : DetectionOutcome::UpToDate;
    return result;
}
