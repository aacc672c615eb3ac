// The device link as the wizard uses it, through the dialog's own operations, against the
// simulated device: detection, identification, boot command, boot loader port and handshake.
#include "app/quaymend.h"

#include "probe.h"
#include "simulator.h"
#include "wizardharness.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(DetectionOutcome)

namespace {

void createFiles(const QString &directory, const QStringList &names)
{
    for (const QString &name : names) {
        QFile file(directory + u'/' + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
}

} // namespace

class tst_DeviceLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void walkToXmodemStart();
    void detectionState_data();
    void detectionState();

private:
    QTemporaryDir m_temp;
};

void tst_DeviceLink::initTestCase()
{
    QVERIFY(m_temp.isValid());
    // The update log goes to the temporary directory; keep it out of the real one.
    qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
}

void tst_DeviceLink::walkToXmodemStart()
{
    QTemporaryDir updates;
    QVERIFY(updates.isValid());
    createFiles(updates.path(), { "730400_03_00_01.hex", "730400_03_00_00.hex" });

    cSimulator simulator;
    QVERIFY(simulator.start());
    QVERIFY(simulator.waitForPorts(1, 5000));
    const QString applicationPort = simulator.ports().first();

    Quaymend dialog;
    QuaymendProbe::updateDirectory(dialog) = updates.path();

    QVERIFY(dialog.scanApplicationPort());
    QCOMPARE(QuaymendProbe::applicationPortName(dialog), applicationPort);
    const Identification &detection = QuaymendProbe::detection(dialog);
    QCOMPARE(detection.outcome, DetectionOutcome::UpdateRequired);
    QCOMPARE(detection.description, QString("AIS Class B CS Transceiver"));
    QCOMPARE(detection.reply, QByteArray("730400.03.00.00"));
    QCOMPARE(detection.updateVersion, QString("730400.03.00.01"));
    QCOMPARE(QuaymendProbe::updateFileName(dialog), QString("730400_03_00_01.hex"));
    QVERIFY(!QuaymendProbe::bootLoaderOnly(dialog));

    const qsizetype mark = simulator.log().size();
    dialog.usbBoot();
    QVERIFY(simulator.waitForLog("boot loader port", 5000, mark));
    QVERIFY(simulator.waitForPorts(1, 1000));
    const QString bootLoaderPort = simulator.ports().first();
    QVERIFY(dialog.scanBootloaderPort());
    QCOMPARE(QuaymendProbe::serialPort(dialog).portName(), bootLoaderPort);
    QVERIFY(dialog.usbBootHandshake());
    QVERIFY(!QuaymendProbe::serialPort(dialog).isOpen());

    QStringList lines = wizardtest::logLines(dialog);
    const QStringList expected = {
        "Welcome screen",
        "Application port name: " + applicationPort,
        "Command: $PKVR,0,0,0,2,appver,0*2D",
        "Response: 730400.03.00.00",
        "Boot command: $PKVR,0,3,0x6D1F48A3,0,bootcmd 0x5A3C9E01,0*42",
        "Bootloader port name: " + bootLoaderPort,
        "Rx: U",
        "Tx: U",
    };
    QCOMPARE(lines.mid(0, expected.size()), expected);
    lines = lines.mid(expected.size());
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines.takeLast(), QString("Rx: C"));
    QCOMPARE(lines, QStringList(lines.size(), "Rx: U"));
}

// What the dialog keeps from one identification for the rest of the run.
void tst_DeviceLink::detectionState_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("fileBefore");
    QTest::addColumn<bool>("flagBefore");
    QTest::addColumn<DetectionOutcome>("outcome");
    QTest::addColumn<QString>("fileAfter");
    QTest::addColumn<bool>("flagAfter");

    QTest::newRow("no file keeps the earlier choice")
        << QStringList {} << QStringList {} << "730400_02_00_00.hex" << false
        << DetectionOutcome::NoUpdateFile << "730400_02_00_00.hex" << false;
    QTest::newRow("NOAPP sets the flag")
        << QStringList { "--no-app" } << QStringList { "750400_00_00_01.img" } << "" << false
        << DetectionOutcome::UpdateRequired << "750400_00_00_01.img" << true;
    QTest::newRow("NOAPP without file sets the flag")
        << QStringList { "--no-app" } << QStringList {} << "" << false << DetectionOutcome::NoUpdateFile << ""
        << true;
    QTest::newRow("the flag is never cleared")
        << QStringList {} << QStringList { "730400_03_00_00.hex" } << "" << true << DetectionOutcome::UpToDate
        << "730400_03_00_00.hex" << true;
}

void tst_DeviceLink::detectionState()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, files);
    QFETCH(QString, fileBefore);
    QFETCH(bool, flagBefore);
    QFETCH(DetectionOutcome, outcome);
    QFETCH(QString, fileAfter);
    QFETCH(bool, flagAfter);

    QTemporaryDir updates;
    QVERIFY(updates.isValid());
    createFiles(updates.path(), files);

    cSimulator simulator(arguments);
    QVERIFY(simulator.start());
    QVERIFY(simulator.waitForPorts(1, 5000));

    Quaymend dialog;
    QuaymendProbe::updateDirectory(dialog) = updates.path();
    QuaymendProbe::updateFileName(dialog) = fileBefore;
    QuaymendProbe::bootLoaderOnly(dialog) = flagBefore;

    QVERIFY(dialog.scanApplicationPort());
    QCOMPARE(QuaymendProbe::detection(dialog).outcome, outcome);
    QCOMPARE(QuaymendProbe::updateFileName(dialog), fileAfter);
    QCOMPARE(QuaymendProbe::bootLoaderOnly(dialog), flagAfter);
}

QTEST_MAIN(tst_DeviceLink)
#include "tst_devicelink.moc"
