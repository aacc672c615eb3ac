#include "device/devicefollower.h"
#include "device/portdiscovery.h"
#include "device/portlock.h"
#include "builtprogram.h"
#include "fakeport.h"
#include "simulator.h"
#include "wizardharness.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

using namespace wizardtest;

namespace {

const QString updateName = QStringLiteral("730400_03_00_01.hex");
constexpr int runBoundMs = 60000;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

cPortInfo portOf(const QString &name, const QString &serial = {}, const QString &location = {},
                 const QString &usbDevice = {})
{
    cPortInfo info;
    info.portName = name;
    info.vendorID = 0x3E71;
    info.serialNumber = serial;
    info.usbLocation = location;
    info.usbDevice = usbDevice;
    return info;
}

} // namespace

// Several devices on the bus at once: which device a run talks to, with and without a binding,
// with another device's boot loader coming up first, and with a port another program holds.
class tst_MultiDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void deviceSetups_data();
    void deviceSetups();
    void followerChoice_data();
    void followerChoice();

private:
    QTemporaryDir m_files;
    QByteArray m_update;
};

void tst_MultiDevice::initTestCase()
{
    QVERIFY(m_files.isValid());
    m_update = writeUpdateFile(m_files.filePath(updateName), 5000);
    QVERIFY(!m_update.isEmpty());
}

// Each row: the simulated devices (one serial number each, "" for none, and each device's extra
// simulator options), the runs started side by side, and what must come of them. In arguments
// and expected output, %port<i> stands for device i's first listed port.
void tst_MultiDevice::deviceSetups_data()
{
    QTest::addColumn<QStringList>("serials");
    QTest::addColumn<QStringList>("deviceOptions");
    QTest::addColumn<bool>("firstPortHeld");
    QTest::addColumn<QStringList>("runs");
    QTest::addColumn<QList<int>>("exits");
    QTest::addColumn<QList<int>>("updates"); // per device: how many images it received
    QTest::addColumn<QStringList>("firstRunSays");
    QTest::addColumn<QStringList>("firstRunNeverSays");

    const QString otherFirst = QStringLiteral("--fault other-bootloader-first --boot-delay 2500");
    QTest::newRow("one device without serial number")
        << QStringList { "" } << QStringList { "" } << false << QStringList { "--batch" } << QList<int> { 0 }
        << QList<int> { 1 } << QStringList { "Application port name: %port0\n" } << QStringList { "serial number" };
    QTest::newRow("one device, serial number beside its ports")
        << QStringList { "SN-A" } << QStringList { "" } << false << QStringList { "--batch" } << QList<int> { 0 }
        << QList<int> { 1 }
        << QStringList { "Application port name: %port0 (serial number SN-A)\n",
                         "Bootloader port name: ", " (serial number SN-A)\nRx: U" }
        << QStringList {};
    QTest::newRow("two devices, unbound: the first is switched and flashed")
        << QStringList { "SN-A", "SN-B" } << QStringList { "", "" } << false << QStringList { "--batch" }
        << QList<int> { 0 } << QList<int> { 1, 0 } << QStringList {} << QStringList { "%port1" };
    QTest::newRow("two devices, the other boot loader comes up first")
        << QStringList { "SN-A", "SN-B" } << QStringList { otherFirst, "" } << false << QStringList { "--batch" }
        << QList<int> { 0 } << QList<int> { 1, 0 } << QStringList { "(serial number SN-A)\nRx: U" }
        << QStringList { "OTHER-SN-A" };
    QTest::newRow("two devices, bound by serial number to the second")
        << QStringList { "SN-A", "SN-B" } << QStringList { otherFirst, "" } << false
        << QStringList { "--batch --serial SN-B" } << QList<int> { 0 } << QList<int> { 0, 1 }
        << QStringList { "Application port name: %port1 (serial number SN-B)\n" } << QStringList { "%port0" };
    QTest::newRow("two devices, bound by port to the second")
        << QStringList { "SN-A", "SN-B" } << QStringList { "", "" } << false << QStringList { "--batch --port %port1" }
        << QList<int> { 0 } << QList<int> { 0, 1 } << QStringList { "Application port name: %port1 (serial" }
        << QStringList { "%port0" };
    QTest::newRow("bound to a serial number nobody has")
        << QStringList { "SN-A" } << QStringList { "" } << false
        << QStringList { "--batch --timeout 2 --serial SN-Z" } << QList<int> { 4 } << QList<int> { 0 }
        << QStringList {} << QStringList { "%port0" };
    QTest::newRow("four devices side by side, each bound by serial number")
        << QStringList { "SN-A", "SN-B", "SN-C", "SN-D" } << QStringList { "", "", "", otherFirst } << false
        << QStringList { "--batch --serial SN-A", "--batch --serial SN-B", "--batch --serial SN-C",
                         "--batch --serial SN-D" }
        << QList<int> { 0, 0, 0, 0 } << QList<int> { 1, 1, 1, 1 } << QStringList {} << QStringList {};
    QTest::newRow("a port another program holds is skipped, and said so once")
        << QStringList { "SN-A", "SN-B" } << QStringList { "", "--start-delay 1000" } << true
        << QStringList { "--batch --timeout 30" }
        << QList<int> { 0 } << QList<int> { 0, 1 } << QStringList { "Port in use by another program: %port0 (serial number SN-A)\nApplication port name: %port1" }
        << QStringList { "Application port name: %port0" };
    QTest::newRow("list as JSON")
        << QStringList { "SN-A", "" } << QStringList { "", "--no-app" } << false << QStringList { "--list --json" }
        << QList<int> { 0 } << QList<int> { 0, 0 }
        << QStringList { "{\"device\":\"AIS Class B CS Transceiver\",\"kind\":\"application\",\"port\":\"%port0\","
                         "\"serial\":\"SN-A\",\"version\":\"730400.03.00.00\"}\n",
                         "{\"device\":\"AIS Class B Transceiver\",\"kind\":\"boot-loader\",\"port\":\"%port1\","
                         "\"serial\":\"\",\"version\":\"\"}\n" }
        << QStringList {};
    QTest::newRow("list as text, bound to a serial number")
        << QStringList { "SN-A", "SN-B" } << QStringList { "", "" } << false << QStringList { "--list --serial SN-B" }
        << QList<int> { 0 } << QList<int> { 0, 0 }
        << QStringList { "%port1  serial SN-B  application  AIS Class B CS Transceiver  730400.03.00.00\n" }
        << QStringList { "%port0" };
    QTest::newRow("list without a device")
        << QStringList { "SN-A" } << QStringList { "" } << false << QStringList { "--list --serial SN-Z" }
        << QList<int> { 4 } << QList<int> { 0 } << QStringList {} << QStringList { "%port0" };
}

void tst_MultiDevice::deviceSetups()
{
    QFETCH(QStringList, serials);
    QFETCH(QStringList, deviceOptions);
    QFETCH(bool, firstPortHeld);
    QFETCH(QStringList, runs);
    QFETCH(QList<int>, exits);
    QFETCH(QList<int>, updates);
    QFETCH(QStringList, firstRunSays);
    QFETCH(QStringList, firstRunNeverSays);

    std::vector<std::unique_ptr<cSimulator>> devices;
    QStringList portsFiles;
    for (qsizetype i = 0; i < serials.size(); ++i) {
        QStringList arguments { "--new-version", "730400.03.00.01" };
        if (!serials[i].isEmpty())
            arguments << "--serial" << serials[i];
        arguments << deviceOptions[i].split(u' ', Qt::SkipEmptyParts);
        devices.push_back(std::make_unique<cSimulator>(arguments));
        QVERIFY(devices.back()->start());
        portsFiles << devices.back()->portsFile();
    }
    QStringList firstPorts;
    for (const auto &device : devices)
        firstPorts << device->ports().value(0);
    const auto withPorts = [&](QString text) {
        for (qsizetype i = 0; i < firstPorts.size(); ++i)
            text.replace(QStringLiteral("%port%1").arg(i), firstPorts[i]);
        return text;
    };

    // Another program holds device 0's application port: a live process's ID in its UUCP lock file.
    QProcess holder;
    QString lockFile;
    if (firstPortHeld) {
        holder.start("sleep", { "60" });
        QVERIFY(holder.waitForStarted());
        lockFile = QStringLiteral("/var/lock/") + portLockNames(firstPorts[0]).constFirst();
        QFile lock(lockFile);
        if (!lock.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            QSKIP("the lock directory cannot be written here");
        lock.write(QByteArray::number(holder.processId()).rightJustified(10, ' ') + '\n');
    }
    const auto cleanUp = qScopeGuard([&] {
        if (!lockFile.isEmpty())
            QFile::remove(lockFile);
        holder.kill();
        holder.waitForFinished();
    });

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QUAYMEND_SIMULATED_PORTS", portsFiles.join(u':'));
    std::vector<std::unique_ptr<QProcess>> processes;
    for (const QString &run : runs) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment);
        QStringList arguments = withPorts(run).split(u' ', Qt::SkipEmptyParts);
        if (arguments.first() == "--batch")
            arguments << m_files.filePath(updateName);
        startBuilt(*process, QUAYMEND_EXE_PATH, arguments);
        QVERIFY(process->waitForStarted());
        processes.push_back(std::move(process));
    }
    // Waited for with the event loop running, so that the simulators' logs keep being read.
    const auto finished = [&] {
        for (const auto &process : processes) {
            if (process->state() != QProcess::NotRunning)
                return false;
        }
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(finished(), runBoundMs);

    QStringList outputs;
    for (const auto &process : processes)
        outputs << QString::fromUtf8(process->readAllStandardOutput());
    for (qsizetype i = 0; i < runs.size(); ++i) {
        QProcess &process = *processes[size_t(i)];
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == exits[i],
                 qPrintable(runs[i] + " exited with " + QString::number(process.exitCode()) + ":\n" + outputs[i]));
    }
    QString said;
    for (QString line : outputs.constFirst().split(u'\n'))
        said += line.remove(QRegularExpression(QStringLiteral("^\\d\\d \\S+ \\d{4} - \\S+ : "))) + u'\n';
    for (const QString &text : firstRunSays)
        QVERIFY2(said.contains(withPorts(text)), qPrintable("missing \"" + withPorts(text) + "\" in:\n" + said));
    for (const QString &text : firstRunNeverSays)
        QVERIFY2(!said.contains(withPorts(text)), qPrintable("unexpected \"" + withPorts(text) + "\" in:\n" + said));
    QCOMPARE(said.count(QStringLiteral("Port in use by another program")), firstPortHeld ? 1 : 0);

    for (qsizetype i = 0; i < qsizetype(devices.size()); ++i) {
        cSimulator &device = *devices[size_t(i)];
        QCOMPARE(device.log().count("devsim: image written"), updates[i]);
        if (updates[i] > 0)
            QCOMPARE(readAll(device.imagePath()), padToBlocks(m_update));
        // The other device's boot loader never gets an image, and a device nobody was to update is
        // never even asked.
        QVERIFY(!QFile::exists(device.imagePath() + ".other"));
        if (updates[i] == 0 && !runs.first().startsWith("--list") && !firstPortHeld)
            QVERIFY2(!device.log().contains("devsim: rx line"), qPrintable("device " + QString::number(i) + " was asked"));
    }
}

// Which ports the scans use once a device is followed: by serial number, by USB location where
// it has no serial number, by a bound port; and everything, as before, for a device known by
// neither.
void tst_MultiDevice::followerChoice_data()
{
    QTest::addColumn<QString>("boundSerial");
    QTest::addColumn<QString>("boundPort");
    QTest::addColumn<cPortInfo>("followed"); // detection's port; empty name: nothing followed
    QTest::addColumn<QList<cPortInfo>>("bootLoaders");
    QTest::addColumn<QString>("chosen"); // empty: none found
    QTest::addColumn<int>("named");      // boot loader ports the log names
    QTest::addColumn<bool>("application"); // detection's port answered from the application

    const QList<cPortInfo> two { portOf("ttyACM1", "A", "1-1.2"), portOf("ttyACM2", "B", "1-1.3") };
    const QList<cPortInfo> twoWithoutSerial { portOf("ttyACM1", "", "1-1.2"), portOf("ttyACM2", "", "1-1.3") };
    QTest::newRow("unknown device: the last boot loader, as before")
        << QString() << QString() << cPortInfo() << two << "ttyACM2" << 2 << true;
    QTest::newRow("device known by serial number")
        << QString() << QString() << portOf("ttyACM0", "A", "1-1.3") << two << "ttyACM1" << 1 << true;
    QTest::newRow("serial number wins over location")
        << QString() << QString() << portOf("ttyACM0", "A", "1-1.3") << QList<cPortInfo> { portOf("ttyACM2", "B", "1-1.3") }
        << "" << 0 << true;
    QTest::newRow("device known by location only")
        << QString() << QString() << portOf("ttyACM0", "", "1-1.2") << twoWithoutSerial << "ttyACM1" << 1 << true;
    QTest::newRow("device known by location, other location only")
        << QString() << QString() << portOf("ttyACM0", "", "1-1.4") << twoWithoutSerial << "" << 0 << true;
    QTest::newRow("bound serial number before detection")
        << "B" << QString() << cPortInfo() << two << "ttyACM2" << 1 << true;
    QTest::newRow("bound port: its device's boot loader")
        << QString() << "/dev/ttyACM0" << portOf("ttyACM0", "A") << two << "ttyACM1" << 1 << true;
    QTest::newRow("bound port, device known by nothing: the last boot loader, as before")
        << QString() << "ttyACM0" << portOf("ttyACM0") << two << "ttyACM2" << 2 << true;
    QTest::newRow("followed device's boot loader without a serial number")
        << QString() << QString() << portOf("ttyACM0", "A", "1-1.2") << twoWithoutSerial << "" << 0 << true;

    // The application leaves the bus a while after the boot command; until then its port is listed
    // and must not be taken for the boot loader's, even under the same name, which the boot loader
    // may come back with (a new USB device number).
    QTest::newRow("application still on the bus, its own port")
        << QString() << QString() << portOf("ttyACM0", "A", "1-1", "1/2")
        << QList<cPortInfo> { portOf("ttyACM0", "A", "1-1", "1/2") } << "" << 0 << true;
    QTest::newRow("boot loader back under the application's name")
        << QString() << QString() << portOf("ttyACM0", "A", "1-1", "1/2")
        << QList<cPortInfo> { portOf("ttyACM0", "A", "1-1", "1/3") } << "ttyACM0" << 1 << true;
    QTest::newRow("application still listed after its boot loader")
        << QString() << QString() << portOf("ttyACM1", "", "1-1", "1/2")
        << QList<cPortInfo> { portOf("ttyACM0", "", "1-1", "1/3"), portOf("ttyACM1", "", "1-1", "1/2") } << "ttyACM0" << 1
        << true;
    QTest::newRow("application listed, its USB device already gone from sysfs")
        << QString() << QString() << portOf("ttyACM0", "A", "1-1", "1/2")
        << QList<cPortInfo> { portOf("ttyACM0", "A", "", "") } << "" << 0 << true;
    QTest::newRow("device without application: its boot loader is the port it answered on")
        << QString() << QString() << portOf("ttyACM0", "A", "1-1", "1/2")
        << QList<cPortInfo> { portOf("ttyACM0", "A", "1-1", "1/2") } << "ttyACM0" << 1 << false;
}

void tst_MultiDevice::followerChoice()
{
    QFETCH(QString, boundSerial);
    QFETCH(QString, boundPort);
    QFETCH(cPortInfo, followed);
    QFETCH(QList<cPortInfo>, bootLoaders);
    QFETCH(QString, chosen);
    QFETCH(int, named);
    QFETCH(bool, application);

    cDeviceFollower follower;
    follower.setHeldCheck([](const QString &) { return false; });
    follower.bind(boundSerial, boundPort);
    if (!followed.portName.isEmpty()) {
        QVERIFY(follower.mayAsk(followed));
        follower.follow(followed, application);
    }
    cFakePort port;
    QList<QByteArray> log;
    const bool found = scanBootloaderPort(
        port, [&log](const QByteArray &line) { log << line; }, [bootLoaders] { return bootLoaders; }, &follower);
    QCOMPARE(found, !chosen.isEmpty());
    if (found)
        QCOMPARE(port.portName(), chosen);
    // A port of another device is never even named in the log.
    QCOMPARE(log.size(), named);

    // A later application scan (the device back from its update) asks the followed device on
    // whatever port it comes back, or only the bound port while the device is known by nothing.
    if (!boundPort.isEmpty()) {
        QCOMPARE(follower.mayAsk(portOf("ttyACM5", followed.serialNumber)), !followed.serialNumber.isEmpty());
        QVERIFY(!follower.mayAsk(portOf("ttyACM6", "other")));
        QVERIFY(follower.mayAsk(portOf("ttyACM0", followed.serialNumber)));
    }
}

QTEST_MAIN(tst_MultiDevice)
#include "tst_multidevice.moc"
