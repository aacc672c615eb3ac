// The serial port's polling semantics over two connected ports, one table for every platform: a
// read waits at most the time-out and returns as soon as something arrives, never more than asked;
// a write has completed when it returns; open() starts empty and openKeepingInput() does not.
// (A port that goes away: tst_serialport on Linux, the "vanish" part of the Wine tests on Windows.)
// On Linux the pair is two pseudo-terminals joined by socat; under Wine two COM ports that
// tests/windows/wine-tests.sh maps to such a pair (QUAYMEND_PORT_PAIR="COM5;COM12": the second
// one needs the device namespace, as every port from COM10 up does).
#include "device/serialport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

class tst_SerialPair : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void read_data();
    void read();
    void keptInput_data();
    void keptInput();
    void bulkBothWays();

private:
    bool openPair(cSerialPort &a, cSerialPort &b, int timeoutMs);

    QStringList m_names;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_socat;
};

void tst_SerialPair::initTestCase()
{
    const QString given = qEnvironmentVariable("QUAYMEND_PORT_PAIR");
    if (!given.isEmpty()) {
        m_names = given.split(QLatin1Char(';'));
        QCOMPARE(m_names.size(), 2);
        return;
    }
#ifdef Q_OS_WIN
    QSKIP("QUAYMEND_PORT_PAIR names no ports (tests/windows/wine-tests.sh maps them)");
#else
    m_dir = std::make_unique<QTemporaryDir>();
    m_names = QStringList { m_dir->filePath(QStringLiteral("a")), m_dir->filePath(QStringLiteral("b")) };
    m_socat = std::make_unique<QProcess>();
    m_socat->start(QStringLiteral("socat"), { QStringLiteral("pty,raw,echo=0,link=") + m_names[0],
                                              QStringLiteral("pty,raw,echo=0,link=") + m_names[1] });
    if (!m_socat->waitForStarted(5000))
        QSKIP("socat is not installed");
    QElapsedTimer clock;
    clock.start();
    while (!(QFile::exists(m_names[0]) && QFile::exists(m_names[1])) && clock.elapsed() < 5000)
        QThread::msleep(20);
    QVERIFY(QFile::exists(m_names[1]));
#endif
}

void tst_SerialPair::cleanupTestCase()
{
    if (m_socat) {
        m_socat->kill();
        m_socat->waitForFinished(5000);
    }
}

bool tst_SerialPair::openPair(cSerialPort &a, cSerialPort &b, int timeoutMs)
{
    for (int i = 0; i < 2; ++i) {
        cSerialPort &port = i == 0 ? a : b;
        port.setPortName(m_names[i]);
        port.setQueryMode(cPort::Polling);
        port.setBaudRate(115200);
        port.setTimeout(timeoutMs);
        if (!port.open(QIODevice::ReadWrite))
            return false;
    }
    return true;
}

// sent: what the other port writes, after sendAfterMs; asked: the size of the read.
void tst_SerialPair::read_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("sendAfterMs");
    QTest::addColumn<int>("asked");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("minWaitMs");
    QTest::addColumn<int>("maxWaitMs");

    QTest::newRow("nothing comes: 0 bytes after the time-out") << QByteArray() << 0 << 16 << 400 << QByteArray() << 350 << 3000;
    QTest::newRow("waiting: returns with the first bytes, not after the time-out")
        << QByteArray("C") << 300 << 16 << 5000 << QByteArray("C") << 200 << 2500;
    QTest::newRow("never more than asked") << QByteArray("ABCDEF") << 0 << 2 << 1000 << QByteArray("AB") << 0 << 900;
    QTest::newRow("all that is there, at once") << QByteArray("\x06\x06\x15", 3) << 0 << 16 << 1000
                                                << QByteArray("\x06\x06\x15", 3) << 0 << 900;
}

void tst_SerialPair::read()
{
    QFETCH(QByteArray, sent);
    QFETCH(int, sendAfterMs);
    QFETCH(int, asked);
    QFETCH(int, timeoutMs);
    QFETCH(QByteArray, expected);
    QFETCH(int, minWaitMs);
    QFETCH(int, maxWaitMs);

    cSerialPort reader, writer;
    QVERIFY(openPair(reader, writer, timeoutMs));
    std::unique_ptr<QThread> sender;
    if (!sent.isEmpty() && sendAfterMs == 0) {
        QCOMPARE(writer.write(sent.constData(), sent.size()), qint64(sent.size()));
        // The bytes cross the pair before the read starts.
        QTRY_COMPARE_WITH_TIMEOUT(reader.bytesAvailable(), qint64(sent.size()), 5000);
    } else if (!sent.isEmpty()) {
        sender.reset(QThread::create([&] {
            QThread::msleep(ulong(sendAfterMs));
            writer.write(sent.constData(), sent.size());
        }));
        sender->start();
    }
    QByteArray got(asked + 8, '\xEE');
    QElapsedTimer clock;
    clock.start();
    const qint64 count = reader.read(got.data(), asked);
    const qint64 waited = clock.elapsed();
    if (sender)
        sender->wait(10000);
    QCOMPARE(count, qint64(expected.size()));
    QCOMPARE(got.left(int(count)), expected);
    // Nothing beyond what was asked for is touched.
    QCOMPARE(got.mid(asked), QByteArray(8, '\xEE'));
    QVERIFY2(waited >= minWaitMs && waited <= maxWaitMs, qPrintable(QStringLiteral("waited %1 ms").arg(waited)));
    // What was not asked for is still there, in order.
    if (sent.size() > asked) {
        QByteArray rest(sent.size(), '\0');
        QCOMPARE(reader.read(rest.data(), rest.size()), qint64(sent.size() - asked));
        QCOMPARE(rest.left(sent.size() - asked), sent.mid(asked));
    }
}

void tst_SerialPair::keptInput_data()
{
    QTest::addColumn<bool>("keep");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("open(): what came before belongs to no exchange") << false << QByteArray("new");
    QTest::newRow("openKeepingInput(): the boot loader's first U stays") << true << QByteArray("Unew");
}

void tst_SerialPair::keptInput()
{
    QFETCH(bool, keep);
    QFETCH(QByteArray, expected);
    cSerialPort reader, writer;
    QVERIFY(openPair(reader, writer, 1000));
    QCOMPARE(writer.write("U", 1), qint64(1));
    QTRY_COMPARE_WITH_TIMEOUT(reader.bytesAvailable(), qint64(1), 5000);
    reader.close();
    // A byte sent between the close and the next open is waiting in the driver at that open.
    QCOMPARE(writer.write("U", 1), qint64(1));
    QThread::msleep(200);
    QVERIFY(keep ? reader.openKeepingInput(QIODevice::ReadWrite) : reader.open(QIODevice::ReadWrite));
    QCOMPARE(writer.write("new", 3), qint64(3));
    QByteArray got;
    char chunk[16];
    QElapsedTimer clock;
    clock.start();
    while (got.size() < expected.size() && clock.elapsed() < 5000) {
        const qint64 n = reader.read(chunk, sizeof chunk);
        QVERIFY(n >= 0);
        got.append(chunk, int(n));
    }
    QCOMPARE(got, expected);
    char line[64];
    // Nothing more than that: a close and open never carry a byte twice.
    reader.setTimeout(200);
    QCOMPARE(reader.readLine(line, sizeof line), qint64(0));
}

// 256 KiB each way at once, as fast as the pair carries it: every byte arrives, in order.
void tst_SerialPair::bulkBothWays()
{
    cSerialPort a, b;
    QVERIFY(openPair(a, b, 5000));
    QByteArray pattern(256 * 1024, '\0');
    for (int i = 0; i < pattern.size(); ++i)
        pattern[i] = char((i * 7 + i / 251) & 0xFF);
    QByteArray receivedByA, receivedByB;
    auto pump = [&pattern](cSerialPort &from, cSerialPort &to, QByteArray &received) {
        std::unique_ptr<QThread> writer(QThread::create([&] {
            for (int done = 0; done < pattern.size();) {
                const qint64 n = from.write(pattern.constData() + done, qMin(4096, int(pattern.size()) - done));
                if (n <= 0)
                    return;
                done += int(n);
            }
        }));
        std::unique_ptr<QThread> reader(QThread::create([&] {
            char chunk[8192];
            while (received.size() < pattern.size()) {
                const qint64 n = to.read(chunk, sizeof chunk);
                if (n <= 0)
                    return;
                received.append(chunk, int(n));
            }
        }));
        return std::make_pair(std::move(writer), std::move(reader));
    };
    auto there = pump(a, b, receivedByB);
    auto back = pump(b, a, receivedByA);
    for (auto *thread : { there.first.get(), there.second.get(), back.first.get(), back.second.get() })
        thread->start();
    for (auto *thread : { there.first.get(), there.second.get(), back.first.get(), back.second.get() })
        QVERIFY(thread->wait(120000));
    QCOMPARE(receivedByB.size(), pattern.size());
    QVERIFY(receivedByB == pattern);
    QCOMPARE(receivedByA.size(), pattern.size());
    QVERIFY(receivedByA == pattern);
}

QTEST_GUILESS_MAIN(tst_SerialPair)
#include "tst_serialpair.moc"
