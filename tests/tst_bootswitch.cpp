#include "device/bootswitch.h"

#include "device/portdiscovery.h"
#include "device/serialport.h"
#include "fakeport.h"
#include "simulator.h"

#include <QElapsedTimer>
#include <QTest>

#include <cstring>

namespace {

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

struct SleepRecorder
{
    QList<int> sleeps;
    SleepFn fn()
    {
        return [this](int ms) {
            sleeps << ms;
        };
    }
};

QList<QByteArray> rxLines(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    for (const char byte : bytes)
        lines << "Rx: " + QByteArray(1, byte);
    return lines;
}

} // namespace

class tst_BootSwitch : public QObject
{
    Q_OBJECT

private slots:
    void bootCommandSentence();
    void usbBootRetriesOpen_data();
    void usbBootRetriesOpen();
    void handshake_data();
    void handshake();
    void handshakeBounds_data();
    void handshakeBounds();
    void handshakeOnSimulator_data();
    void handshakeOnSimulator();
    void usbBootOnSimulator();
};

void tst_BootSwitch::bootCommandSentence()
{
    const QByteArray sentence(bootCommand);
    QCOMPARE(sentence, QByteArray("$PKVR,0,3,0x6D1F48A3,0,bootcmd 0x5A3C9E01,0*42"));
    QCOMPARE(sentence.size(), 46);
    int sum = 0;
    for (const char c : sentence.mid(1, sentence.indexOf('*') - 1))
        sum ^= quint8(c);
    QCOMPARE(sentence.mid(sentence.indexOf('*') + 1),
             QByteArray::number(sum, 16).toUpper().rightJustified(2, '0'));
}

void tst_BootSwitch::usbBootRetriesOpen_data()
{
    QTest::addColumn<int>("failures");
    QTest::addColumn<int>("attempts");
    QTest::addColumn<bool>("sent");

    QTest::newRow("opens at once") << 0 << 1 << true;
    QTest::newRow("port missing") << -1 << 6 << false;
    QTest::newRow("opens at the sixth") << 5 << 6 << true;
    QTest::newRow("opens at the second") << 1 << 2 << true;
}

void tst_BootSwitch::usbBootRetriesOpen()
{
    QFETCH(int, failures);
    QFETCH(int, attempts);
    QFETCH(bool, sent);

    cFakePort port;
    port.failOpens = failures;
    LogCollector log;
    SleepRecorder sleep;
    usbBoot(port, "ttyACM0", log.fn(), sleep.fn());
    QCOMPARE(port.openAttempts, attempts);
    QCOMPARE(sleep.sleeps, QList<int>(attempts - 1, 1000));
    const QByteArray sentence = "$PKVR,0,3,0x6D1F48A3,0,bootcmd 0x5A3C9E01,0*42";
    QCOMPARE(port.written, sent ? sentence + "\r\n" : QByteArray());
    QCOMPARE(port.writes.size(), sent ? 48 : 0); // a byte at a time
    QCOMPARE(log.lines, sent ? QList<QByteArray> { "Boot command: " + sentence } : QList<QByteArray> {});
    QCOMPARE(port.openedNames, sent ? QStringList { "ttyACM0" } : QStringList {});
    QCOMPARE(port.openModes,
             sent ? QList<QIODevice::OpenMode> { QIODevice::ReadWrite | QIODevice::Unbuffered }
                  : QList<QIODevice::OpenMode> {});
    QVERIFY(port.writtenWhileClosed.isEmpty());
    QVERIFY(!port.isOpen());
}

// The boot loader's side: what it has sent before the echo, and what it sends once it has the "U".
void tst_BootSwitch::handshake_data()
{
    QTest::addColumn<QByteArray>("beforeEcho");
    QTest::addColumn<QByteArray>("afterEcho"); // "|" stands for a read time-out
    QTest::addColumn<bool>("result");
    QTest::addColumn<QList<QByteArray>>("log");
    QTest::addColumn<int>("timeouts");

    QTest::newRow("success") << QByteArray("UUU") << QByteArray("UUC") << true
                             << QList<QByteArray> { "Rx: U", "Tx: U" } + rxLines("UUUUC") << 0;
    QTest::newRow("first byte C") << QByteArray("CUUU") << QByteArray("C") << false
                                  << QList<QByteArray> { "Rx: C" } << 0;
    QTest::newRow("first byte unprintable")
        << QByteArray("\x06") << QByteArray("C") << false << QList<QByteArray> { "Rx: 0x6" } << 0;
    QTest::newRow("silent after echo")
        << QByteArray("U") << QByteArray("|C") << false << QList<QByteArray> { "Rx: U", "Tx: U" } << 1;
    QTest::newRow("X after echo stops at once") << QByteArray("U") << QByteArray("XUUC") << false
                                                << QList<QByteArray> { "Rx: U", "Tx: U", "Rx: X" } << 0;
    QTest::newRow("NAK after echo") << QByteArray("U") << QByteArray("U\x15") << false
                                    << QList<QByteArray> { "Rx: U", "Tx: U", "Rx: U", "Rx: 0x15" } << 0;
}

void tst_BootSwitch::handshake()
{
    QFETCH(QByteArray, beforeEcho);
    QFETCH(QByteArray, afterEcho);
    QFETCH(bool, result);
    QFETCH(QList<QByteArray>, log);
    QFETCH(int, timeouts);

    cFakePort port;
    // The boot loader's first bytes are there before the open (on USB they arrive during it).
    port.feed(beforeEcho);
    port.onWrite = [afterEcho](cFakePort &p, const QByteArray &) {
        const QList<QByteArray> parts = afterEcho.split('|');
        for (int i = 0; i < parts.size(); ++i) {
            if (i > 0)
                p.feedPause();
            p.feed(parts[i]);
        }
    };
    LogCollector collected;
    SleepRecorder sleep;
    QCOMPARE(usbBootHandshake(port, collected.fn(), sleep.fn()), result);
    QCOMPARE(collected.lines, log);
    const bool echoed = log.contains("Tx: U");
    QCOMPARE(port.written, echoed ? QByteArray("U") : QByteArray());
    QCOMPARE(port.readTimeouts, timeouts);
    QCOMPARE(port.flushes, 1);
    QCOMPARE(port.closes, 1);
    QVERIFY(!port.isOpen());
    QVERIFY(sleep.sleeps.isEmpty());
}

void tst_BootSwitch::handshakeBounds_data()
{
    QTest::addColumn<QByteArray>("beforeEcho");
    QTest::addColumn<QByteArray>("afterEcho");
    QTest::addColumn<bool>("openFails");
    QTest::addColumn<int>("maxLogLines");
    QTest::addColumn<int>("sleptMs");

    QTest::newRow("port does not open") << QByteArray("U") << QByteArray("C") << true << 0 << 0;
    QTest::newRow("no byte at all") << QByteArray() << QByteArray() << false << 0 << 5000;
    QTest::newRow("U for ever") << QByteArray("U") << QByteArray(100000, 'U') << false << 5000 << 0;
}

void tst_BootSwitch::handshakeBounds()
{
    QFETCH(QByteArray, beforeEcho);
    QFETCH(QByteArray, afterEcho);
    QFETCH(bool, openFails);
    QFETCH(int, maxLogLines);
    QFETCH(int, sleptMs);

    cFakePort port;
    port.failOpens = openFails ? -1 : 0;
    port.feed(beforeEcho);
    port.onWrite = [afterEcho](cFakePort &p, const QByteArray &) {
        p.feed(afterEcho);
    };
    LogCollector log;
    SleepRecorder sleep;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!usbBootHandshake(port, log.fn(), sleep.fn()));
    QVERIFY(clock.elapsed() < 4000);
    QVERIFY(log.lines.size() <= maxLogLines);
    int slept = 0;
    for (const int ms : sleep.sleeps)
        slept += ms;
    QVERIFY2(slept >= sleptMs && slept <= sleptMs + 1000, qPrintable(QString::number(slept)));
    QVERIFY(!port.isOpen());
}

void tst_BootSwitch::handshakeOnSimulator_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QByteArray>("ending"); // the last entry unless it is another "Rx: U"
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");

    QTest::newRow("success") << QStringList {} << true << QByteArray("Rx: C") << 0 << 1500;
    QTest::newRow("first byte not U")
        << QStringList { "--fault", "handshake-first-byte" } << false << QByteArray("Rx: C") << 0 << 1500;
    // One read time-out of the port (500 ms) after the echo.
    QTest::newRow("silent after echo")
        << QStringList { "--fault", "silent-after-echo" } << false << QByteArray() << 450 << 1500;
    QTest::newRow("not C") << QStringList { "--fault", "not-c" } << false << QByteArray("Rx: X") << 0 << 1000;
    QTest::newRow("U for ever") << QStringList { "--fault", "u-forever" } << false << QByteArray() << 2500
                                << 4500;
    // The first of the two boot loader ports never sends anything.
    QTest::newRow("no byte at all") << QStringList { "--fault", "two-bootloaders" } << false << QByteArray()
                                    << 4900 << 6500;
}

void tst_BootSwitch::handshakeOnSimulator()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, result);
    QFETCH(QByteArray, ending);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);

    cSimulator simulator(QStringList { "--no-app" } + arguments);
    QVERIFY(simulator.start());
    const bool silentFirst = arguments.contains("two-bootloaders");
    QVERIFY(simulator.waitForPorts(silentFirst ? 2 : 1, 5000));

    cSerialPort port;
    configurePort(port);
    port.setPortName(simulator.ports().first());
    LogCollector log;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(usbBootHandshake(port, log.fn()), result);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= minMs && elapsed <= maxMs, qPrintable(QString::number(elapsed)));
    QVERIFY(!port.isOpen());

    if (silentFirst) {
        QVERIFY(log.lines.isEmpty());
        return;
    }
    if (arguments.contains("handshake-first-byte")) {
        QCOMPARE(log.lines, QList<QByteArray> { "Rx: C" });
        return;
    }
    QList<QByteArray> body = log.lines.mid(2);
    QCOMPARE(log.lines.mid(0, 2), (QList<QByteArray> { "Rx: U", "Tx: U" }));
    if (!ending.isEmpty()) {
        QVERIFY(!body.isEmpty());
        QCOMPARE(body.takeLast(), ending);
    }
    QCOMPARE(body, QList<QByteArray>(body.size(), "Rx: U"));
}

void tst_BootSwitch::usbBootOnSimulator()
{
    cSimulator simulator;
    QVERIFY(simulator.start());
    QVERIFY(simulator.waitForPorts(1, 5000));
    const QString application = simulator.ports().first();

    cSerialPort port;
    configurePort(port);
    LogCollector log;
    usbBoot(port, application, log.fn());
    QVERIFY(!port.isOpen());
    QCOMPARE(log.lines, QList<QByteArray> { "Boot command: $PKVR,0,3,0x6D1F48A3,0,bootcmd 0x5A3C9E01,0*42" });
    QVERIFY(simulator.waitForLog("boot command received", 3000));
}

QTEST_GUILESS_MAIN(tst_BootSwitch)
#include "tst_bootswitch.moc"
