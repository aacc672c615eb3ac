// The sender against the device simulator's boot loader, one fault at a time. Every case runs in
// a process of its own: attempt limits and pacing depend on what earlier transfers left behind.
#include "device/serialport.h"
#include "freshprocess.h"
#include "simulator.h"
#include "update/xmodem1ksend.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

QMutex traceMutex;
QStringList traceLines;
QtMessageHandler testHandler = nullptr;

void captureTrace(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg) {
        testHandler(type, context, message);
        return;
    }
    QMutexLocker lock(&traceMutex);
    traceLines << message;
}

int highestAttempt()
{
    QMutexLocker lock(&traceMutex);
    static const QRegularExpression attempt(QStringLiteral("Packet \\d+ attempt (\\d+)"));
    int highest = 0;
    for (const QString &line : std::as_const(traceLines)) {
        const QRegularExpressionMatch m = attempt.match(line);
        if (m.hasMatch())
            highest = qMax(highest, m.captured(1).toInt());
    }
    return highest;
}

// The boot loader handshake as the program does it, so the sender starts where it would.
bool handshake(cSerialPort &port)
{
    if (!port.open(QIODevice::ReadWrite))
        return false;
    const QDeadlineTimer deadline(5000);
    char c = 0;
    while (c != 'U' && !deadline.hasExpired())
        port.read(&c, 1) == 1 || (c = 0);
    bool answered = false;
    if (c == 'U' && port.write("U", 1) == 1) {
        while (!answered && !deadline.hasExpired())
            answered = port.read(&c, 1) == 1 && c == 'C';
    }
    port.close();
    return answered;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// The simulator's boot loader found and greeted, with the port set up like the program's.
bool bootLoaderReady(cSimulator &sim, cSerialPort &port)
{
    if (!sim.start() || !sim.waitForPorts(1, 5000))
        return false;
    port.setPortName(sim.ports().first());
    port.setQueryMode(cPort::Polling);
    port.setBaudRate(110);
    port.setFlowControl(cSerialLine::NoFlowControl);
    port.setTimeout(2000);
    return handshake(port);
}

} // namespace

class TestXmodemSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testHandler = qInstallMessageHandler(captureTrace); }

    void faults_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<int>("chunk");
        QTest::addColumn<QStringList>("log");
        const int complete = XmodemComplete, timeout = XmodemTimeout;
        QTest::newRow("clean") << QStringList {} << complete << 1 << 16 << QStringList { "EOT ACK" };
        QTest::newRow("nak-block") << QStringList { "--nak-block", "2:2" } << complete << 3 << 4
                                   << QStringList { "tx NAK block 2 (fault)" };
        QTest::newRow("silent-block") << QStringList { "--silent-block", "2:1" } << complete << 2 << 8
                                      << QStringList { "no answer to block 2 (fault)", "block 2 ACK" };
        QTest::newRow("odd-response") << QStringList { "--odd-response", "2:1" } << complete << 2 << 16
                                      << QStringList { "tx 'C' for block 2 (fault)" };
        QTest::newRow("zero-response") << QStringList { "--zero-response", "2:1" } << complete << 2 << 8
                                       << QStringList { "tx 0x00 for block 2 (fault)" };
        QTest::newRow("late-ack") << QStringList { "--late-ack", "2:600", "--link-speed", "11520" }
                                  << complete << 2 << 8 << QStringList { "block 2 duplicate ACK" };
        // The first copy of block 2 is answered 450 ms after it arrived, after the 300 ms time-out and
        // after the repeat's ACK: read as a later block's answer, it would put every answer after it
        // one block behind, and the NAK of the last block would then be taken for the answer to EOT
        // (an "Update complete" one block short).
        QTest::newRow("late-ack, then a NAK") << QStringList { "--late-ack", "2:450", "--nak-block", "5:1",
                                                               "--link-speed", "11520" }
                                              << complete << 2 << 4 << QStringList { "block 2 duplicate ACK" };
        QTest::newRow("nak-eot") << QStringList { "--nak-eot" } << complete << 1 << 16
                                 << QStringList { "EOT NAK (fault nak-eot)", "EOT ACK" };
        QTest::newRow("silent-eot") << QStringList { "--silent-eot" } << complete << 1 << 16
                                    << QStringList { "no answer to EOT (fault silent-eot)" };
        QTest::newRow("nak-all, fresh process") << QStringList { "--nak-all" } << timeout << 5 << 1
                                                << QStringList { "transfer cancelled by sender (8 CAN)" };
        QTest::newRow("nak after first ACK") << QStringList { "--nak-block", "3:10" } << timeout << 10 << 1
                                             << QStringList { "transfer cancelled by sender (8 CAN)" };
        // An unplugged device must end the run, neither crash nor hang it.
        QTest::newRow("vanish mid-transfer") << QStringList { "--vanish-block", "3" } << timeout << 10 << 1
                                             << QStringList { "device vanished during block 3" };
    }

    void faults()
    {
        if (!inFreshProcess())
            return;
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(int, attempts);
        QFETCH(int, chunk);
        QFETCH(QStringList, log);
        // Short enough to keep the silent cases quick, shorter than the late ACK.
        xmodemResponseTimeoutMs = 300;

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QByteArray data(4 * 1024 + 100, Qt::Uninitialized);
        for (char &c : data)
            c = char(QRandomGenerator::global()->bounded(256));
        const QString path = dir.filePath(QStringLiteral("750400_03_00_01.img"));
        QVERIFY(writeFile(path, data));

        cSimulator sim(QStringList { "--no-app" } + args);
        cSerialPort port;
        QVERIFY(bootLoaderReady(sim, port));

        cXmodem1KSend sender(path.toUtf8().toStdString(), &port);
        sender.startTransfer();
        QVERIFY(sender.wait(30000));
        QCOMPARE(int(sender.status.load()), status);
        QVERIFY(!port.isOpen());
        QCOMPARE(highestAttempt(), attempts);
        QCOMPARE(xmodemChunkSize.load(), chunk);
        for (const QString &needle : std::as_const(log))
            QVERIFY2(sim.waitForLog(needle.toUtf8(), 3000), qPrintable(needle));
        if (status == XmodemComplete) {
            QVERIFY(sim.waitForLog("image written", 3000));
            QFile image(sim.imagePath());
            QVERIFY(image.open(QIODevice::ReadOnly));
            const QByteArray received = image.readAll();
            QCOMPARE(received.size(), 5 * 1024);
            QVERIFY(received.left(data.size()) == data);
            QCOMPARE(received.mid(data.size()), QByteArray(5 * 1024 - data.size(), '\x1a'));
        }
    }

    // After a time-out the wizard hands the boot loader a new handshake and restarts the same
    // thread object with the same file.
    void restartAfterTimeout()
    {
        if (!inFreshProcess())
            return;
        xmodemResponseTimeoutMs = 300;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("update.img"));
        QVERIFY(writeFile(path, QByteArray(3000, 'x')));

        cSimulator sim({ "--no-app", "--nak-block", "1:5" });
        cSerialPort port;
        QVERIFY(bootLoaderReady(sim, port));
        cXmodem1KSend sender(path.toUtf8().toStdString(), &port);
        sender.startTransfer();
        QVERIFY(sender.wait(30000));
        QCOMPARE(sender.status.load(), XmodemTimeout);

        QVERIFY(sim.waitForLog("transfer cancelled by sender", 3000));
        QVERIFY(handshake(port));
        sender.startTransfer();
        QVERIFY(sender.wait(30000));
        QCOMPARE(sender.status.load(), XmodemComplete);
        QVERIFY(sim.waitForLog("image written 3072 bytes", 3000));
    }
};

QTEST_GUILESS_MAIN(TestXmodemSim)
#include "tst_xmodemsim.moc"
