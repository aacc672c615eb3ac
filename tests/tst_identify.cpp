#include "update/identify.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <QHash>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(DetectionOutcome)

namespace {

// Paths that the next look at them (stat) replaces with another file, as someone could between
// the program's look at an update file and its open.
QHash<QByteArray, QByteArray> swapAfterLook;

} // namespace

// Takes the place of the C library's stat in this program, the code under test included.
int stat(const char *path, struct stat *info) noexcept
{
    const int result = ::fstatat(AT_FDCWD, path, info, 0);
    if (!swapAfterLook.isEmpty()) {
        const QByteArray replacement = swapAfterLook.take(path);
        if (!replacement.isEmpty())
            ::rename(replacement.constData(), path);
    }
    return result;
}

namespace {

// Names ending in "/" become directories, "name|fifo" a FIFO, "name->target" a symbolic link
// (target "fifo": a FIFO beside it, "file": a regular file beside it, else the path as given),
// "name!" a file nobody but root may read, "name~target" an empty file that is replaced by a FIFO
// ("fifo") or a link to target right after the program's first look at it; the rest empty files.
void populate(const QString &directory, const QStringList &entries)
{
    for (const QString &entry : entries) {
        if (entry.endsWith(u'/')) {
            QVERIFY(QDir(directory).mkdir(entry.chopped(1)));
            continue;
        }
        if (entry.endsWith(QLatin1String("|fifo"))) {
            const QByteArray path = QFile::encodeName(directory + u'/' + entry.chopped(5));
            QVERIFY(::mkfifo(path.constData(), 0600) == 0);
            continue;
        }
        if (entry.contains(QLatin1String("->"))) {
            const QString name = entry.section(QLatin1String("->"), 0, 0);
            QString target = entry.section(QLatin1String("->"), 1);
            if (target == QLatin1String("fifo") || target == QLatin1String("file")) {
                const QString kind = target;
                target = directory + QStringLiteral("/target-of-") + name;
                populate(directory, { QStringLiteral("target-of-") + name + (kind == QLatin1String("fifo") ? "|fifo" : "") });
            }
            QVERIFY(QFile::link(target, directory + u'/' + name));
            continue;
        }
        if (entry.contains(u'~')) {
            const QString name = entry.section(u'~', 0, 0);
            const QString target = entry.section(u'~', 1);
            const QString hidden = QStringLiteral(".swap-") + name;
            populate(directory,
                     { name, hidden + (target == QLatin1String("fifo") ? "|fifo" : "->" + target) });
            swapAfterLook.insert(QFile::encodeName(directory + u'/' + name),
                                 QFile::encodeName(directory + u'/' + hidden));
            continue;
        }
        if (entry.endsWith(u'!')) {
            QFile file(directory + u'/' + entry.chopped(1));
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.setPermissions(QFile::WriteOwner));
            continue;
        }
        QFile file(directory + u'/' + entry);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
}

} // namespace

class tst_Identify : public QObject
{
    Q_OBJECT

private slots:
    void identify_data();
    void identify();
    void needsUpdate_data();
    void needsUpdate();
    void updateVersionOf();
};

void tst_Identify::identify_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<DetectionOutcome>("outcome");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("bootLoaderOnly");

    const QString cs = "AIS Class B CS Transceiver";
    const QString so = "AIS Class B SO Transceiver";
    const QString any = "AIS Class B Transceiver";
    using O = DetectionOutcome;

    QTest::newRow("newer file chosen")
        << QByteArray("730412.05.06.07") << QStringList { "730412_05_06_07.hex", "730412_05_06_08.hex" }
        << O::UpdateRequired << cs << "730412_05_06_08.hex"
        << "730412.05.06.08" << false;
    QTest::newRow("same version") << QByteArray("730412.05.06.08") << QStringList { "730412_05_06_08.hex" }
                                  << O::UpToDate << cs << "730412_05_06_08.hex"
                                  << "730412.05.06.08" << false;
    QTest::newRow("device newer") << QByteArray("730412.05.06.09") << QStringList { "730412_05_06_08.hex" }
                                  << O::UpToDate << cs << "730412_05_06_08.hex"
                                  << "730412.05.06.08" << false;
    QTest::newRow("whole text compared")
        << QByteArray("730413.00.00.00") << QStringList { "730412_09_09_09.hex" } << O::UpToDate << cs
        << "730412_09_09_09.hex"
        << "730412.09.09.09" << false;
    QTest::newRow("all groups 99") << QByteArray("730412.99.99.99") << QStringList { "730400_00_00_01.hex" }
                                   << O::UpdateRequired << cs << "730400_00_00_01.hex"
                                   << "730400.00.00.01" << false;
    QTest::newRow("two groups 99") << QByteArray("730412.99.99.98") << QStringList { "730400_00_00_01.hex" }
                                   << O::UpToDate << cs << "730400_00_00_01.hex"
                                   << "730400.00.00.01" << false;
    QTest::newRow("SO device, CS file ignored")
        << QByteArray("750401.01.00.00") << QStringList { "730499_99_99_99.hex", "750401_01_00_01.img" }
        << O::UpdateRequired << so << "750401_01_00_01.img"
        << "750401.01.00.01" << false;
    QTest::newRow("NOAPP, greatest over both codes")
        << QByteArray("NOAPP") << QStringList { "730499_99_99_99.hex", "750400_00_00_01.hex" }
        << O::UpdateRequired << any << "750400_00_00_01.hex"
        << "750400.00.00.01" << true;
    QTest::newRow("NOAPP, no file") << QByteArray("NOAPP") << QStringList {} << O::NoUpdateFile << any
                                    << QString() << QString() << true;
    QTest::newRow(".img over .hex") << QByteArray("730412.05.06.06")
                                    << QStringList { "730412_05_06_07.hex", "730412_05_06_07.img" }
                                    << O::UpdateRequired << cs << "730412_05_06_07.img"
                                    << "730412.05.06.07" << false;
    QTest::newRow("upper-case extension")
        << QByteArray("730412.05.06.06") << QStringList { "730412_05_06_07.HEX" } << O::UpdateRequired << cs
        << "730412_05_06_07.HEX"
        << "730412.05.06.07" << false;
    // Sorted by character codes: lower-case letters come after digits and upper case.
    QTest::newRow("case-sensitive order")
        << QByteArray("7304ab.00.00.00") << QStringList { "7304AB_00_00_01.hex", "7304ab_00_00_01.hex" }
        << O::UpdateRequired << cs << "7304ab_00_00_01.hex"
        << "7304ab.00.00.01" << false;
    QTest::newRow("too short, wrong extension, directory, hidden")
        << QByteArray("730412.05.06.07")
        << QStringList { "7304_05_06_07.hex", "730412_05_06_07.bin", "730412_05_06_09.hex/",
                         "730412_05_06_08.hex.bak", "x730412_05_06_09.hex" }
        << O::NoUpdateFile << cs << QString() << QString() << false;
    QTest::newRow("short reply") << QByteArray("730412.05.06.") << QStringList { "730400_00_00_01.hex" }
                                 << O::UpdateRequired << cs << "730400_00_00_01.hex"
                                 << "730400.00.00.01" << false;
    QTest::newRow("group not a number")
        << QByteArray("730499.0x.99.99") << QStringList { "730400_00_00_01.hex" } << O::UpdateRequired << cs
        << "730400_00_00_01.hex"
        << "730400.00.00.01" << false;
    QTest::newRow("unrecognised reply") << QByteArray("12345") << QStringList { "730400_00_00_01.hex" }
                                        << O::NotRecognised << QString() << QString() << QString() << false;
    QTest::newRow("prefix is case-sensitive")
        << QByteArray("noapp") << QStringList { "730400_00_00_01.hex" } << O::NotRecognised << QString()
        << QString() << QString() << false;
    QTest::newRow("NOAPP must be whole") << QByteArray("NOAPP ") << QStringList { "730400_00_00_01.hex" }
                                         << O::NotRecognised << QString() << QString() << QString() << false;
    QTest::newRow("empty reply") << QByteArray() << QStringList { "730400_00_00_01.hex" } << O::NotRecognised
                                 << QString() << QString() << QString() << false;
    QTest::newRow("no file") << QByteArray("730412.05.06.07") << QStringList {} << O::NoUpdateFile << cs
                             << QString() << QString() << false;
    // Sending one of these would block the sender for good or fail only once the device sits in its
    // boot loader: they are no candidates, however great their names.
    QTest::newRow("FIFO, links to a FIFO, a device and nothing")
        << QByteArray("730412.05.06.07")
        << QStringList { "730412_05_06_08.hex", "730412_05_06_09.hex|fifo", "730412_05_06_10.hex->fifo",
                         "730412_05_06_11.img->/dev/zero", "730412_05_06_12.hex->/nonexistent/file" }
        << O::UpdateRequired << cs << "730412_05_06_08.hex"
        << "730412.05.06.08" << false;
    QTest::newRow("swapped for a FIFO or a device between look and open")
        << QByteArray("730412.05.06.07")
        << QStringList { "730412_05_06_08.hex", "730412_05_06_09.hex~fifo", "730412_05_06_10.img~/dev/zero" }
        << O::UpdateRequired << cs << "730412_05_06_08.hex" << "730412.05.06.08" << false;
    QTest::newRow("link to a regular file") << QByteArray("730412.05.06.07")
                                            << QStringList { "730412_05_06_08.hex", "730412_05_06_09.hex->file" }
                                            << O::UpdateRequired << cs << "730412_05_06_09.hex"
                                            << "730412.05.06.09" << false;
    QTest::newRow("unreadable file") << QByteArray("730412.05.06.07")
                                     << QStringList { "730412_05_06_08.hex", "730412_05_06_09.hex!" }
                                     << O::UpdateRequired << cs << "730412_05_06_08.hex"
                                     << "730412.05.06.08" << false;
}

void tst_Identify::identify()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, files);
    QFETCH(DetectionOutcome, outcome);
    QFETCH(QString, description);
    QFETCH(QString, fileName);
    QFETCH(QString, version);
    QFETCH(bool, bootLoaderOnly);

    if (files.join(QString()).contains(u'!') && ::geteuid() == 0)
        QSKIP("root reads every file");
    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    swapAfterLook.clear();
    populate(directory.path(), files);
    // Hidden files never count, whatever their name.
    populate(directory.path(), { ".799999_99_99_99.hex" });

    const Identification found = ::identify(reply, directory.path());
    QCOMPARE(found.outcome, outcome);
    QCOMPARE(found.description, description);
    QCOMPARE(found.reply, reply);
    QCOMPARE(found.updateFileName, fileName);
    QCOMPARE(found.updateVersion, version);
    QCOMPARE(found.bootLoaderOnly, bootLoaderOnly);
}

void tst_Identify::needsUpdate_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("update");

    QTest::newRow("older") << QByteArray("730400.03.00.00") << "730400.03.00.01" << true;
    QTest::newRow("equal") << QByteArray("730400.03.00.01") << "730400.03.00.01" << false;
    QTest::newRow("newer") << QByteArray("730400.03.01.00") << "730400.03.00.01" << false;
    QTest::newRow("longer reply is greater") << QByteArray("730400.03.00.01x") << "730400.03.00.01" << false;
    QTest::newRow("NOAPP") << QByteArray("NOAPP") << "730400.03.00.01" << true;
    QTest::newRow("all 99") << QByteArray("799999.99.99.99") << "730400.03.00.01" << true;
    QTest::newRow("13 characters") << QByteArray("799999.10.10.") << "730400.03.00.01" << true;
    QTest::newRow("group of letters") << QByteArray("799999.10.ab.10") << "730400.03.00.01" << true;
}

void tst_Identify::needsUpdate()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, version);
    QFETCH(bool, update);
    QCOMPARE(::needsUpdate(reply, version), update);
}

void tst_Identify::updateVersionOf()
{
    QCOMPARE(::updateVersionOf("730412_05_06_07.hex"), QString("730412.05.06.07"));
    QCOMPARE(::updateVersionOf("7504ab_c1_d2_e3.IMG"), QString("7504ab.c1.d2.e3"));
}

QTEST_GUILESS_MAIN(tst_Identify)
#include "tst_identify.moc"
