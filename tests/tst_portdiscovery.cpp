#include "device/portdiscovery.h"

#include "device/serialport.h"
#include "fakeport.h"
#include "simulator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int vendor = 0x3E71;

QByteArray line(const QByteArray &body)
{
    int sum = 0;
    for (int i = 1; i < body.size(); ++i)
        sum ^= quint8(body[i]);
    return body + '*' + QByteArray::number(sum, 16).toUpper().rightJustified(2, '0') + "\r\n";
}

struct LogCollector
{
    QList<QByteArray> lines;
    LogFn fn()
    {
        return [this](const QByteArray &text) {
            lines << text;
        };
    }
};

// Answers "appver" on the named ports with the given replies; other ports stay silent.
void answer(cFakePort &port, const QMap<QString, QByteArray> &replies)
{
    port.onWrite = [replies](cFakePort &p, const QByteArray &) {
        if (p.written.endsWith("\r\n") && replies.contains(p.portName()))
            p.feed(line("$PKVR,255,0,0," + replies.value(p.portName())));
    };
}

PortEnumerator listing(const QList<cPortInfo> &ports)
{
    return [ports] {
        return ports;
    };
}

} // namespace

class tst_PortDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void configurePortOrder();
    void scanApplicationPort_data();
    void scanApplicationPort();
    void scanBootloaderPort_data();
    void scanBootloaderPort();
    void enumerationReadsPortsFile();
    void scanOnSimulator_data();
    void scanOnSimulator();
    void bootloaderScanOnSimulator();
    void usbPlace_data();
    void usbPlace();
    void usbIdsOfInstanceId_data();
    void usbIdsOfInstanceId();

private:
    QTemporaryDir m_updates;
};

void tst_PortDiscovery::initTestCase()
{
    QVERIFY(m_updates.isValid());
    QFile file(m_updates.filePath("730400_03_00_01.hex"));
    QVERIFY(file.open(QIODevice::WriteOnly));
}

void tst_PortDiscovery::configurePortOrder()
{
    cFakePort port;
    port.setTimeout(1234);
    port.settings.clear();
    configurePort(port);
    QCOMPARE(port.settings,
             (QStringList { "setQueryMode(Polling)", "setBaudRate(110)",
                            QString("setParity(%1)").arg(int(cSerialLine::NoParity)),
                            QString("setDataBits(%1)").arg(int(cSerialLine::Data8)),
                            QString("setStopBits(%1)").arg(int(cSerialLine::OneStop)),
                            QString("setFlowControl(%1)").arg(int(cSerialLine::NoFlowControl)) }));
    QCOMPARE(port.timeout(), 1234);
}

void tst_PortDiscovery::scanApplicationPort_data()
{
    QTest::addColumn<QList<cPortInfo>>("ports");
    QTest::addColumn<QStringList>("answering"); // port names that answer, with their reply after ":"
    QTest::addColumn<bool>("found");
    QTest::addColumn<QStringList>("queried");
    QTest::addColumn<QString>("applicationPort");

    const QList<cPortInfo> foreign = { { "ttyS0", 0 }, { "ttyUSB0", 0x0403 }, { "ttyUSB1", 0x3E70 } };
    QTest::newRow("no candidate") << foreign << QStringList { "ttyUSB0:730400.03.00.00" } << false
                                  << QStringList {} << "before";
    QTest::newRow("first identified, second untouched")
        << QList<cPortInfo> { { "ttyACM0", vendor }, { "ttyACM1", vendor } }
        << QStringList { "ttyACM0:730400.03.00.00", "ttyACM1:730400.03.00.00" } << true
        << QStringList { "ttyACM0" } << "ttyACM0";
    QTest::newRow("unrecognised reply passed over")
        << QList<cPortInfo> { { "ttyACM0", vendor }, { "ttyACM1", vendor } }
        << QStringList { "ttyACM0:12345", "ttyACM1:750400.01.00.00" } << true
        << QStringList { "ttyACM0", "ttyACM1" } << "ttyACM1";
    QTest::newRow("device without file still ends the scan")
        << QList<cPortInfo> { { "ttyACM0", vendor }, { "ttyACM1", vendor } }
        << QStringList { "ttyACM0:750400.01.00.00", "ttyACM1:730400.03.00.00" } << true
        << QStringList { "ttyACM0" } << "ttyACM0";
    QTest::newRow("plain COM name") << QList<cPortInfo> { { "COM12", vendor } }
                                    << QStringList { "COM12:730400.03.00.00" } << true
                                    << QStringList { "COM12" } << "COM12";
}

void tst_PortDiscovery::scanApplicationPort()
{
    QFETCH(QList<cPortInfo>, ports);
    QFETCH(QStringList, answering);
    QFETCH(bool, found);
    QFETCH(QStringList, queried);
    QFETCH(QString, applicationPort);

    QMap<QString, QByteArray> replies;
    for (const QString &entry : answering)
        replies.insert(entry.section(u':', 0, 0), entry.section(u':', 1).toLatin1());

    cFakePort port;
    answer(port, replies);
    QString applicationPortName = "before";
    Identification identification;
    LogCollector log;
    QCOMPARE(::scanApplicationPort(port, applicationPortName, m_updates.path(), identification, log.fn(),
                                   listing(ports)),
             found);
    QCOMPARE(port.openedNames, queried);
    QCOMPARE(port.closes, queried.size());
    QCOMPARE(applicationPortName, applicationPort);

    QList<QByteArray> expectedLog;
    for (const QString &name : queried) {
        expectedLog << "Application port name: " + name.toLatin1() << "Command: $PKVR,0,0,0,2,appver,0*2D";
        expectedLog << "Response: " + replies.value(name);
    }
    QCOMPARE(log.lines, expectedLog);
    if (!found) {
        QVERIFY(port.written.isEmpty());
        QCOMPARE(identification.outcome, DetectionOutcome::NotRecognised);
        return;
    }
    QCOMPARE(port.portName(), applicationPort);
    QCOMPARE(identification.reply, replies.value(applicationPort));
    QVERIFY(identification.outcome != DetectionOutcome::NotRecognised);
    // Each candidate gets the settings before it is opened.
    QCOMPARE(port.settings.count("setBaudRate(110)"), queried.size());
}

void tst_PortDiscovery::scanBootloaderPort_data()
{
    QTest::addColumn<QList<cPortInfo>>("ports");
    QTest::addColumn<QStringList>("logged");

    QTest::newRow("none") << QList<cPortInfo> { { "ttyS0", 0 }, { "ttyUSB0", 0x0403 } } << QStringList {};
    QTest::newRow("empty list") << QList<cPortInfo> {} << QStringList {};
    QTest::newRow("one") << QList<cPortInfo> { { "ttyS0", 0 }, { "ttyACM4", vendor } }
                         << QStringList { "ttyACM4" };
    QTest::newRow("two, the later used")
        << QList<cPortInfo> { { "ttyACM4", vendor }, { "ttyS0", 0 }, { "ttyACM5", vendor } }
        << QStringList { "ttyACM4", "ttyACM5" };
}

void tst_PortDiscovery::scanBootloaderPort()
{
    QFETCH(QList<cPortInfo>, ports);
    QFETCH(QStringList, logged);

    cFakePort port;
    port.setPortName("application");
    LogCollector log;
    QCOMPARE(::scanBootloaderPort(port, log.fn(), listing(ports)), !logged.isEmpty());
    QList<QByteArray> expectedLog;
    for (const QString &name : logged)
        expectedLog << "Bootloader port name: " + name.toLatin1();
    QCOMPARE(log.lines, expectedLog);
    QCOMPARE(port.portName(), logged.isEmpty() ? QString("application") : logged.last());
    QCOMPARE(port.openAttempts, 0);
}

void tst_PortDiscovery::enumerationReadsPortsFile()
{
    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    const QString path = directory.filePath("ports");
    qputenv("QUAYMEND_SIMULATED_PORTS", QFile::encodeName(path));

    // No file yet: only the machine's own ports.
    const QList<cPortInfo> own = enumeratePorts();
    for (const cPortInfo &info : own)
        QVERIFY(!info.portName.startsWith(directory.path()));

    const auto simulated = [&] {
        QList<cPortInfo> result = enumeratePorts();
        return result.mid(own.size());
    };
    const auto write = [&](const QByteArray &content) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    };

    write("/dev/pts/7 3E71\n"
          "\n"
          "garbage\n"
          "/dev/pts/8 zz\n"
          "/dev/pts/9 3e71 extra\n"
          "/dev/pts/10 0x0403\n"
          "  /dev/pts/11   0  \n"
          "/dev/pts/12 -1\n"
          "/dev/pts/13 123456\n"
          "/dev/pts/14 3E71 two words\n");
    QList<cPortInfo> found = simulated();
    QCOMPARE(found.size(), 4);
    QCOMPARE(found[0].portName, QString("/dev/pts/7"));
    QCOMPARE(found[0].vendorID, 0x3E71);
    QCOMPARE(found[0].serialNumber, QString());
    QCOMPARE(found[1].portName, QString("/dev/pts/9"));
    QCOMPARE(found[1].serialNumber, QString("extra"));
    QCOMPARE(found[2].portName, QString("/dev/pts/10"));
    QCOMPARE(found[2].vendorID, 0x0403);
    QCOMPARE(found[3].portName, QString("/dev/pts/11"));
    QCOMPARE(found[3].vendorID, 0);

    // One file per simulated device, in the order named; a missing one costs only its own ports.
    const QString second = directory.filePath("ports2");
    {
        QFile file(second);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("/dev/pts/30 3E71 SN-2\n");
    }
    qputenv("QUAYMEND_SIMULATED_PORTS", QFile::encodeName(second + ":" + directory.filePath("none") + "::" + path));
    found = simulated();
    QCOMPARE(found.size(), 5);
    QCOMPARE(found[0].portName, QString("/dev/pts/30"));
    QCOMPARE(found[0].serialNumber, QString("SN-2"));
    QCOMPARE(found[1].portName, QString("/dev/pts/7"));
    qputenv("QUAYMEND_SIMULATED_PORTS", QFile::encodeName(path));

    // Read afresh on every call: a port that shows up between two scans is seen.
    write("/dev/pts/7 3E71\n/dev/pts/20 3E71");
    found = simulated();
    QCOMPARE(found.size(), 2);
    QCOMPARE(found[1].portName, QString("/dev/pts/20"));

    QVERIFY(QFile::remove(path));
    QCOMPARE(enumeratePorts().size(), own.size());

    // Something other than a regular file is no ports file. A FIFO without a writer would block
    // open(), one whose writer stays silent read(); a link to it is the same.
    const QByteArray fifo = QFile::encodeName(path);
    QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
    QVERIFY(QFile::link(path, directory.filePath("link")));
    const auto scanDoesNotBlock = [&](const QString &named) {
        qputenv("QUAYMEND_SIMULATED_PORTS", QFile::encodeName(named));
        auto scan = std::async(std::launch::async, [] { return enumeratePorts().size(); });
        if (scan.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
            // Give the stuck scan a writer and a line so that the test can end.
            const int unblock = ::open(fifo.constData(), O_RDWR | O_NONBLOCK);
            if (::write(unblock, "x\n", 2) != 2 || ::close(unblock) != 0)
                qWarning("could not unblock the scan");
            scan.wait();
            return false;
        }
        return scan.get() == own.size();
    };
    QVERIFY(scanDoesNotBlock(path));
    QVERIFY(scanDoesNotBlock(directory.path()));
    const int writer = ::open(fifo.constData(), O_RDWR | O_NONBLOCK);
    QVERIFY(writer >= 0);
    QVERIFY(scanDoesNotBlock(path));
    QVERIFY(scanDoesNotBlock(directory.filePath("link")));
    ::close(writer);
    qunsetenv("QUAYMEND_SIMULATED_PORTS");
}

void tst_PortDiscovery::scanOnSimulator_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("candidates");

    QTest::newRow("one device") << QStringList {} << 1;
    // The silent port is listed before the device.
    QTest::newRow("silent port first") << QStringList { "--silent-port" } << 2;
    QTest::newRow("foreign port ignored") << QStringList { "--foreign-port" } << 1;
    // The first scan comes before the device's port; the next one finds it.
    QTest::newRow("port appears between scans") << QStringList { "--start-delay", "800" } << 1;
}

void tst_PortDiscovery::scanOnSimulator()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, candidates);

    cSimulator simulator(arguments);
    QVERIFY(simulator.start());
    cSerialPort port;
    QString applicationPortName;
    Identification identification;
    LogCollector log;
    if (arguments.contains("--start-delay")) {
        QVERIFY(
            !::scanApplicationPort(port, applicationPortName, m_updates.path(), identification, log.fn()));
        QVERIFY(log.lines.isEmpty());
    }
    QVERIFY(simulator.waitForPorts(candidates, 5000));
    const QStringList ports = simulator.ports();
    QVERIFY(::scanApplicationPort(port, applicationPortName, m_updates.path(), identification, log.fn()));
    QCOMPARE(applicationPortName, ports.last());
    QCOMPARE(port.portName(), ports.last());
    QCOMPARE(port.queryMode(), cPort::Polling);
    QVERIFY(!port.isOpen());
    QCOMPARE(identification.outcome, DetectionOutcome::UpdateRequired);
    QCOMPARE(identification.reply, QByteArray("730400.03.00.00"));
    QCOMPARE(identification.updateFileName, QString("730400_03_00_01.hex"));

    QList<QByteArray> expected;
    for (const QString &name : ports) {
        expected << "Application port name: " + name.toLocal8Bit() << "Command: $PKVR,0,0,0,2,appver,0*2D"
                 << "Response: " + QByteArray(name == ports.last() ? "730400.03.00.00" : "");
    }
    QCOMPARE(log.lines, expected);
    if (arguments.contains("--foreign-port"))
        QVERIFY(!simulator.log().contains("foreign port got"));
}

void tst_PortDiscovery::bootloaderScanOnSimulator()
{
    // Two boot loader ports: only the one listed last answers.
    cSimulator simulator({ "--no-app", "--fault", "two-bootloaders" });
    QVERIFY(simulator.start());
    QVERIFY(simulator.waitForPorts(2, 5000));
    const QStringList ports = simulator.ports();

    cSerialPort port;
    LogCollector log;
    QVERIFY(::scanBootloaderPort(port, log.fn()));
    QCOMPARE(log.lines,
             (QList<QByteArray> { "Bootloader port name: " + ports[0].toLocal8Bit(),
                                  "Bootloader port name: " + ports[1].toLocal8Bit() }));
    QCOMPARE(port.portName(), ports[1]);
    QVERIFY(!port.isOpen());
}

// Device trees as the kernel lays them out (read off a real kernel: a CDC-ACM gadget on dummy_hcd,
// the same behind a usb-hub, a USB serial converter, a UART): "path -> target" is a symbolic link,
// "path = text" a file. The port's class entry leads to its USB interface; the USB device above
// the interface gives the location and its bus and device numbers.
void tst_PortDiscovery::usbPlace_data()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("device");

    const QString acm = "devices/platform/dummy_hcd.0/usb1/1-1";
    const QStringList gadget { "class/tty/ttyACM0 -> ../../" + acm + "/1-1:1.0/tty/ttyACM0",
                               acm + "/1-1:1.0/tty/ttyACM0/device -> ../../../1-1:1.0",
                               acm + "/busnum = 1\n", acm + "/devnum = 3\n", "devices/platform/dummy_hcd.0/usb1/busnum = 1\n",
                               "devices/platform/dummy_hcd.0/usb1/devnum = 1\n" };
    QTest::newRow("CDC-ACM device on the root hub") << gadget << "ttyACM0" << "1-1" << "1/3";
    QTest::newRow("the same by its device path") << gadget << "/dev/ttyACM0" << "1-1" << "1/3";
    QTest::newRow("another port name") << gadget << "ttyACM1" << "" << "";

    const QString hub = "devices/pci0000:00/0000:00:05.0/usb2/2-1";
    QTest::newRow("behind a hub: the device, not the hub")
        << QStringList { "class/tty/ttyACM2 -> ../../" + hub + "/2-1.3/2-1.3:1.0/tty/ttyACM2",
                         hub + "/2-1.3/2-1.3:1.0/tty/ttyACM2/device -> ../../../2-1.3:1.0", hub + "/busnum = 2",
                         hub + "/devnum = 2", hub + "/2-1.3/busnum = 2", hub + "/2-1.3/devnum = 11" }
        << "ttyACM2" << "2-1.3" << "2/11";
    const QString ftdi = "devices/pci0000:00/0000:00:04.0/usb1/1-2";
    QTest::newRow("USB serial converter: a node below the interface")
        << QStringList { "class/tty/ttyUSB0 -> ../../" + ftdi + "/1-2:1.0/ttyUSB0/tty/ttyUSB0",
                         ftdi + "/1-2:1.0/ttyUSB0/tty/ttyUSB0/device -> ../../../ttyUSB0", ftdi + "/busnum = 1",
                         ftdi + "/devnum = 4" }
        << "ttyUSB0" << "1-2" << "1/4";
    QTest::newRow("UART: not on USB")
        << QStringList { "class/tty/ttyS0 -> ../../devices/platform/serial8250/tty/ttyS0",
                         "devices/platform/serial8250/tty/ttyS0/device -> ../../../serial8250" }
        << "ttyS0" << "" << "";
    QTest::newRow("device numbers unreadable: the location alone")
        << QStringList { "class/tty/ttyACM0 -> ../../" + acm + "/1-1:1.0/tty/ttyACM0",
                         acm + "/1-1:1.0/tty/ttyACM0/device -> ../../../1-1:1.0", acm + "/busnum = 1", acm + "/devnum = x" }
        << "ttyACM0" << "1-1" << "";
    QTest::newRow("a link that leaves the device tree")
        << QStringList { "class/tty/ttyACM0 -> ../../elsewhere/tty/ttyACM0",
                         "elsewhere/tty/ttyACM0/device -> ../../1-1/1-1:1.0", "elsewhere/1-1/busnum = 1",
                         "elsewhere/1-1/devnum = 3", "devices/placeholder = 0" }
        << "ttyACM0" << "" << "";
}

void tst_PortDiscovery::usbPlace()
{
    QFETCH(QStringList, tree);
    QFETCH(QString, port);
    QFETCH(QString, location);
    QFETCH(QString, device);

    QTemporaryDir sys;
    QVERIFY(sys.isValid());
    for (const QString &entry : tree) {
        const bool link = entry.contains(" -> ");
        const QStringList parts = entry.split(link ? " -> " : " = ");
        const QString path = sys.filePath(parts[0]);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        if (link) {
            QVERIFY(QDir().mkpath(QFileInfo(QFileInfo(path).path() + '/' + parts[1]).absoluteFilePath()));
            QCOMPARE(::symlink(parts[1].toLocal8Bit().constData(), path.toLocal8Bit().constData()), 0);
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(parts[1].toUtf8().replace("\\n", "\n"));
        }
    }
    const cUsbPlace place = usbPlaceOf(port, sys.path());
    QCOMPARE(place.location, location);
    QCOMPARE(place.device, device);
}

// Windows names a port's USB device by its instance ID; only a real serial number may bind a run.
void tst_PortDiscovery::usbIdsOfInstanceId_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("product");
    QTest::addColumn<QString>("serial");
    QTest::newRow("with a serial number") << QString("USB\\VID_3E71&PID_0101\\AIS0042") << 0x3E71 << 0x0101 << QString("AIS0042");
    QTest::newRow("lower case") << QString("usb\\vid_3e71&pid_01a0\\x1") << 0x3E71 << 0x01A0 << QString("x1");
    QTest::newRow("serial number made up by Windows") << QString("USB\\VID_3E71&PID_0101\\5&1C3B2F0&0&2") << 0x3E71 << 0x0101 << QString("");
    QTest::newRow("interface of a composite device") << QString("USB\\VID_3E71&PID_0101&MI_00\\6&2A3B&0&0000") << 0x3E71 << 0x0101 << QString("");
    QTest::newRow("FTDI's driver") << QString("FTDIBUS\\VID_0403+PID_6001+A12345B\\0000") << 0x0403 << 0x6001 << QString("A12345B");
    QTest::newRow("not USB") << QString("ACPI\\PNP0501\\1") << 0 << -1 << QString("");
    QTest::newRow("vendor ID too long") << QString("USB\\VID_3E710&PID_0101\\AIS1") << 0 << -1 << QString("");
    QTest::newRow("no device part") << QString("USB") << 0 << -1 << QString("");
}

void tst_PortDiscovery::usbIdsOfInstanceId()
{
    QFETCH(QString, id);
    QFETCH(int, vendor);
    QFETCH(int, product);
    QFETCH(QString, serial);
    const cUsbIds ids = ::usbIdsOfInstanceId(id);
    QCOMPARE(ids.vendorID, vendor);
    QCOMPARE(ids.productID, product);
    QCOMPARE(ids.serialNumber, serial);
}

QTEST_GUILESS_MAIN(tst_PortDiscovery)
#include "tst_portdiscovery.moc"
