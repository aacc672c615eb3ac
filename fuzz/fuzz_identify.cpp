// Identification and update-file choice from a reply text and a folder of file names.
//
// Input: the reply text up to the first NUL, then file names separated by NULs (each made a
// valid single name: '/' becomes '_', at most 200 bytes, at most 24 names). The names are
// created as empty files in a temporary folder, which identify() then lists.
#include "update/identify.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_identify: %s\n", what);
        std::abort();
    }
}

QTemporaryDir &folder()
{
    static QTemporaryDir dir;
    check(dir.isValid(), "no temporary folder");
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\0');
    const QByteArray reply = parts.value(0);

    QDir dir(folder().path());
    for (const QString &old : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
        dir.remove(old);
    QSet<QString> created;
    for (qsizetype i = 1; i < parts.size() && i <= 24; ++i) {
        QByteArray raw = parts.at(i).left(200);
        raw.replace('/', '_');
        if (raw.isEmpty() || raw == "." || raw == "..")
            continue;
        QFile file(dir.filePath(QFile::decodeName(raw)));
        if (file.open(QIODevice::WriteOnly))
            created.insert(QFileInfo(file).fileName());
    }

    const Identification id = identify(reply, UpdateSource(dir.path()));
    check(id.reply == reply, "reply not kept");
    const DeviceType *type = reply.isEmpty() ? nullptr : identifyDevice(reply);
    switch (id.outcome) {
    case DetectionOutcome::NotRecognised:
        check(!type, "recognised reply reported as not recognised");
        check(id.updateFileName.isEmpty(), "file chosen for an unknown device");
        break;
    case DetectionOutcome::NoUpdateFile:
        check(type && id.updateFileName.isEmpty() && id.updateVersion.isEmpty(), "no file, yet a file");
        break;
    case DetectionOutcome::UpToDate:
    case DetectionOutcome::UpdateRequired:
        check(type != nullptr, "file chosen for an unknown device");
        check(created.contains(id.updateFileName), "chosen file is not in the folder");
        check(id.updateVersion == updateVersionOf(id.updateFileName), "version not from the file name");
        check(id.updateVersion.size() == 15, "version of the wrong shape");
        check((id.outcome == DetectionOutcome::UpdateRequired) == needsUpdate(reply, id.updateVersion),
              "outcome disagrees with needsUpdate");
        check(id.bootLoaderOnly == type->bootLoaderOnly, "boot-loader flag not the device's");
        break;
    }

    // Every candidate is a created name that some device takes, in ascending order; the chosen
    // file is the greatest candidate among the names for its device.
    const QStringList candidates = updateFileCandidates(UpdateSource(dir.path()));
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        check(created.contains(candidates.at(i)), "candidate is not in the folder");
        check(updateFileDevice(candidates.at(i)) != nullptr, "candidate for no device");
        check(i == 0 || QString::compare(candidates.at(i - 1), candidates.at(i), Qt::CaseSensitive) < 0,
              "candidates out of order");
    }
    if (type && !type->bootLoaderOnly && !id.updateFileName.isEmpty()) {
        check(candidates.contains(id.updateFileName), "chosen file is no candidate");
        check(updateFileDevice(id.updateFileName) == type->description, "chosen file is for another device");
    }
    return 0;
}
