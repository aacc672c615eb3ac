#include "device/sentencechannel.h"

#include "device/portdiscovery.h"
#include "device/serialport.h"
#include "fakeport.h"
#include "simulator.h"

#include <QElapsedTimer>
#include <QTest>

namespace {

QByteArray withChecksum(const QByteArray &body)
{
    int sum = 0;
    for (int i = 1; i < body.size(); ++i)
        sum ^= quint8(body[i]);
    return body + '*' + QByteArray::number(sum, 16).toUpper().rightJustified(2, '0');
}

QByteArray line(const QByteArray &body)
{
    return withChecksum(body) + "\r\n";
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

} // namespace

class tst_SentenceChannel : public QObject
{
    Q_OBJECT

private slots:
    void writeToPortOneBytePerWrite();
    void sendCommandIsByteExact();
    void readResponse_data();
    void readResponse();
    void readResponseTimesOut_data();
    void readResponseTimesOut();
    void queryDevice_data();
    void queryDevice();
    void queryDeviceOnSimulator_data();
    void queryDeviceOnSimulator();
};

void tst_SentenceChannel::writeToPortOneBytePerWrite()
{
    cFakePort port;
    port.open(QIODevice::ReadWrite);
    writeToPort(port, "ab\r\n");
    QCOMPARE(port.writes, (QList<QByteArray> { "a", "b", "\r", "\n" }));
}

void tst_SentenceChannel::sendCommandIsByteExact()
{
    cFakePort port;
    port.open(QIODevice::ReadWrite);
    LogCollector log;
    sendCommand(port, "appver", log.fn());
    QCOMPARE(port.written, QByteArray("$PKVR,0,0,0,2,appver,0*2D\r\n"));
    QCOMPARE(port.writes.size(), port.written.size());
    QCOMPARE(log.lines, QList<QByteArray> { "Command: $PKVR,0,0,0,2,appver,0*2D" });
}

// Rows that end before the time limit: an accepted reply, or a status-256 reply that stops reading
// (which also shows that the lines before it were skipped).
void tst_SentenceChannel::readResponse_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("text");

    const QByteArray reply = line("$PKVR,255,0,0,730400.03.00.00");
    const QByteArray stop = line("$PKVR,256,0,0,");
    QTest::newRow("reply") << reply << true << QByteArray("730400.03.00.00");
    QTest::newRow("reply after noise")
        << line("$GPGGA,123519,4807.038,N") + line("!AIVDM,1,1,,A,13aE,0") + line("$PKVR,7,0,0,x") + reply
        << true << QByteArray("730400.03.00.00");
    QTest::newRow("longer address") << line("$PKVRX,255,0,0,abc") << true << QByteArray("abc");
    QTest::newRow("empty field 5") << line("$PKVR,255,0,0,,9") << true << QByteArray();
    QTest::newRow("status 256") << stop << false << QByteArray();
    QTest::newRow("boot loader stream, then reply")
        << "UUUUUUUUUUUU\r\n" + reply << true << QByteArray("730400.03.00.00");
    QTest::newRow("boot loader stream, then status 256")
        << "UUUUUUUUUUUU\r\n" + stop << false << QByteArray();
    // 0x1C written in lower case.
    QCOMPARE(withChecksum("$PKVR,255,0,0,1"), QByteArray("$PKVR,255,0,0,1*1C"));
    QTest::newRow("lower-case checksum skipped") << "$PKVR,255,0,0,1*1c\r\n" + stop << false << QByteArray();
    QTest::newRow("foreign address skipped") << line("$GPTXT,255,0,0,1") + stop << false << QByteArray();
    QTest::newRow("short address skipped") << line("$PKV,255,0,0,1") + stop << false << QByteArray();
    QTest::newRow("other status skipped") << line("$PKVR,254,0,0,1") + stop << false << QByteArray();
    QTest::newRow("no status skipped")
        << line("$PKVR,,0,0,1") + line("$PKVR,x,0,0,1") + stop << false << QByteArray();
    QTest::newRow("overlong line skipped")
        << QByteArray(150, 'A') + "\r\n" + reply << true << QByteArray("730400.03.00.00");
    QTest::newRow("only the first reply")
        << reply + line("$PKVR,255,0,0,second") << true << QByteArray("730400.03.00.00");
}

void tst_SentenceChannel::readResponse()
{
    QFETCH(QByteArray, received);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, text);

    cFakePort port;
    port.open(QIODevice::ReadWrite);
    port.feed(received);
    LogCollector log;
    QByteArray result = "on entry";
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(::readResponse(port, result, log.fn()), accepted);
    QVERIFY2(clock.elapsed() < 1000, "must not wait for the time limit");
    QCOMPARE(result, text);
    QCOMPARE(log.lines, QList<QByteArray> { "Response: " + text });
    QVERIFY(port.isOpen());
    QVERIFY(port.written.isEmpty());
}

void tst_SentenceChannel::readResponseTimesOut_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("silence keeps the text") << QByteArray() << QByteArray("on entry");
    QTest::newRow("seven U are no stream") << QByteArray("UUUUUUU\r\n") << QByteArray("on entry");
}

void tst_SentenceChannel::readResponseTimesOut()
{
    QFETCH(QByteArray, received);
    QFETCH(QByteArray, text);

    cFakePort port;
    port.open(QIODevice::ReadWrite);
    port.feed(received);
    LogCollector log;
    QByteArray result = "on entry";
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!::readResponse(port, result, log.fn()));
    QVERIFY(clock.elapsed() >= 1990);
    QVERIFY(clock.elapsed() < 3000);
    QCOMPARE(result, text);
    QCOMPARE(log.lines, QList<QByteArray> { "Response: " + text });
}

void tst_SentenceChannel::queryDevice_data()
{
    QTest::addColumn<bool>("opens");
    QTest::newRow("port opens") << true;
    QTest::newRow("port will not open") << false; // nothing sent, nothing logged, no waiting
}

void tst_SentenceChannel::queryDevice()
{
    QFETCH(bool, opens);
    cFakePort port;
    port.failOpens = opens ? 0 : -1;
    port.onWrite = [](cFakePort &p, const QByteArray &) {
        if (p.written.endsWith("\r\n"))
            p.feed(line("$PKVR,255,0,0,730400.03.00.00"));
    };
    LogCollector log;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(::queryDevice(port, "ttyACM3", "appver", log.fn()),
             opens ? QByteArray("730400.03.00.00") : QByteArray());
    QVERIFY(clock.elapsed() < 500);
    QCOMPARE(port.openAttempts, 1);
    QCOMPARE(port.openedNames, opens ? QStringList { "ttyACM3" } : QStringList {});
    QCOMPARE(port.openModes.value(0, QIODevice::ReadWrite | QIODevice::Unbuffered),
             QIODevice::ReadWrite | QIODevice::Unbuffered);
    QCOMPARE(port.closes, opens ? 1 : 0);
    QVERIFY(!port.isOpen());
    QCOMPARE(port.written, opens ? QByteArray("$PKVR,0,0,0,2,appver,0*2D\r\n") : QByteArray());
    QVERIFY(port.writtenWhileClosed.isEmpty());
    const QList<QByteArray> lines { "Command: $PKVR,0,0,0,2,appver,0*2D", "Response: 730400.03.00.00" };
    QCOMPARE(log.lines, opens ? lines : QList<QByteArray> {});
    if (opens)
        return;
    cSerialPort missing;
    configurePort(missing);
    QCOMPARE(::queryDevice(missing, "/nonexistent/ttyQM0", "appver", log.fn()), QByteArray());
    QVERIFY(log.lines.isEmpty());
}

void tst_SentenceChannel::queryDeviceOnSimulator_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("waitsForLimit");

    QTest::newRow("reply") << QStringList {} << QByteArray("730400.03.00.00") << false;
    QTest::newRow("reply after noise") << QStringList { "--fault", "noise", "--version", "750401.02.03.04" }
                                       << QByteArray("750401.02.03.04") << false;
    QTest::newRow("status 256") << QStringList { "--fault", "status-256" } << QByteArray() << false;
    QTest::newRow("empty field 5") << QStringList { "--fault", "empty-field5" } << QByteArray() << false;
    QTest::newRow("boot loader stream") << QStringList { "--no-app" } << QByteArray("NOAPP") << true;
    QTest::newRow("no reply") << QStringList { "--fault", "no-reply" } << QByteArray() << true;
}

void tst_SentenceChannel::queryDeviceOnSimulator()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, reply);
    QFETCH(bool, waitsForLimit);

    cSimulator simulator(arguments);
    QVERIFY(simulator.start());
    QVERIFY(simulator.waitForPorts(1, 5000));

    cSerialPort port;
    configurePort(port);
    LogCollector log;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(::queryDevice(port, simulator.ports().first(), "appver", log.fn()), reply);
    const qint64 elapsed = clock.elapsed();
    if (waitsForLimit)
        QVERIFY2(elapsed >= 2000 && elapsed < 4500, qPrintable(QString::number(elapsed)));
    else
        QVERIFY2(elapsed < 2000, qPrintable(QString::number(elapsed)));
    QCOMPARE(log.lines, (QList<QByteArray> { "Command: $PKVR,0,0,0,2,appver,0*2D", "Response: " + reply }));
    QVERIFY(!port.isOpen());
    // The boot loader logs what it ignores in whatever pieces it read, so only the application's
    // side shows the command as one line.
    if (!arguments.contains(QStringLiteral("--no-app")))
        QVERIFY(simulator.waitForLog("$PKVR,0,0,0,2,appver,0*2D", 1000));
}

QTEST_GUILESS_MAIN(tst_SentenceChannel)
#include "tst_sentencechannel.moc"
