// Smoke test of the device simulator over real ptys, talking raw POSIX so that nothing of the
// program under test is involved. Other tests rely on the simulator; this one keeps it honest.

#include "simulator.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Golden sentences, checksums worked out independently of the simulator's code.
const QByteArray kAppver = "$PKVR,0,0,0,2,appver,0*2D\r\n";
const QByteArray kBootCommand = "$PKVR,0,3,0x6D1F48A3,0,bootcmd 0x5A3C9E01,0*42\r\n";

class cPtyClient
{
public:
    explicit cPtyClient(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd >= 0) {
            termios attributes{};
            ::tcgetattr(m_fd, &attributes);
            ::cfmakeraw(&attributes);
            ::tcsetattr(m_fd, TCSANOW, &attributes); // TCSAFLUSH would throw away what the device sent
        }
    }
    ~cPtyClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }

    bool write(const QByteArray &bytes)
    {
        qsizetype done = 0;
        const QDeadlineTimer deadline(2000);
        while (done < bytes.size() && !deadline.hasExpired()) {
            const ssize_t n = ::write(m_fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
            if (n > 0) {
                done += n;
            } else {
                pollfd fd{m_fd, POLLOUT, 0};
                ::poll(&fd, 1, 20);
            }
        }
        return done == bytes.size();
    }

    // Everything that arrives within ms, or less once done(received) says so.
    template<typename Done>
    QByteArray readUntil(int ms, Done done)
    {
        QByteArray received;
        const QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired() && !done(received)) {
            pollfd fd{m_fd, POLLIN, 0};
            if (::poll(&fd, 1, static_cast<int>(qMax<qint64>(1, deadline.remainingTime()))) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                break; // hung up
            received.append(buffer, n);
        }
        return received;
    }
    QByteArray readFor(int ms)
    {
        return readUntil(ms, [](const QByteArray &) { return false; });
    }

private:
    int m_fd = -1;
};

QByteArray xmodemBlock(quint8 number, const QByteArray &data)
{
    QByteArray block;
    block += char(0x02);
    block += char(number);
    block += char(0xFF - number);
    block += data;
    quint16 crc = 0;
    for (const char byte : data) {
        crc ^= static_cast<quint16>(static_cast<quint8>(byte) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<quint16>((crc << 1) ^ 0x1021) : static_cast<quint16>(crc << 1);
    }
    block += char(crc >> 8);
    block += char(crc & 0xFF);
    return block;
}

QByteArray withoutUs(QByteArray bytes)
{
    return bytes.replace('U', QByteArray());
}

} // namespace

class tst_devsim : public QObject
{
    Q_OBJECT

private slots:
    void appverReply_data();
    void appverReply();
    void handshake_data();
    void handshake();
    void updateReplacesPorts();
};

void tst_devsim::appverReply_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply"); // empty: no answer at all

    QTest::newRow("default version") << QStringList{} << kAppver << QByteArray("$PKVR,255,0,0,730400.03.00.00*00\r\n");
    QTest::newRow("own version") << QStringList{"--version", "730400.04.01.00"} << kAppver
                                 << QByteArray("$PKVR,255,0,0,730400.04.01.00*06\r\n");
    QTest::newRow("status 256") << QStringList{"--fault", "status-256"} << kAppver
                                << QByteArray("$PKVR,256,0,0,*2E\r\n");
    QTest::newRow("lower-case checksum")
        << QStringList{"--fault", "lowercase-checksum", "--version", "730400.03.00.00-beta"} << kAppver
        << QByteArray("$PKVR,255,0,0,730400.03.00.00-beta*3f\r\n");
    QTest::newRow("bad checksum in request") << QStringList{} << QByteArray("$PKVR,0,0,0,2,appver,0*2E\r\n")
                                             << QByteArray();
    QTest::newRow("LF without CR") << QStringList{} << QByteArray("$PKVR,0,0,0,2,appver,0*2D\n") << QByteArray();
    QTest::newRow("no-reply") << QStringList{"--fault", "no-reply"} << kAppver << QByteArray();
}

void tst_devsim::appverReply()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);

    cSimulator simulator(args);
    QVERIFY(simulator.start());
    QCOMPARE(qgetenv("QUAYMEND_SIMULATED_PORTS"), QFile::encodeName(simulator.portsFile()));
    QVERIFY(simulator.waitForPorts(1, 2000));
    cPtyClient client(simulator.ports().first());
    QVERIFY(client.isOpen());
    QVERIFY(client.write(request));
    const QByteArray received = client.readUntil(reply.isEmpty() ? 300 : 2000,
                                                 [](const QByteArray &bytes) { return bytes.endsWith('\n'); });
    QCOMPARE(received, reply);
}

void tst_devsim::handshake_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("answer"); // what follows the U stream once the program sent its U
    QTest::addColumn<bool>("keepsStreaming");

    QTest::newRow("C for CRC") << QStringList{} << QByteArray("C") << false;
    QTest::newRow("not-c") << QStringList{"--fault", "not-c"} << QByteArray("X") << false;
    QTest::newRow("u-forever") << QStringList{"--fault", "u-forever"} << QByteArray() << true;
    QTest::newRow("silent-after-echo") << QStringList{"--fault", "silent-after-echo"} << QByteArray() << false;
}

void tst_devsim::handshake()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, answer);
    QFETCH(bool, keepsStreaming);

    cSimulator simulator(args << "--no-app");
    QVERIFY(simulator.start());
    QVERIFY(simulator.waitForPorts(1, 2000));
    cPtyClient client(simulator.ports().first());
    QVERIFY(client.isOpen());
    const QByteArray stream = client.readUntil(1000, [](const QByteArray &bytes) { return bytes.size() >= 8; });
    QCOMPARE(stream, QByteArray(stream.size(), 'U'));
    QVERIFY(stream.size() >= 8);

    QVERIFY(client.write("U"));
    QVERIFY(simulator.waitForLog("devsim: rx U (handshake)", 2000));
    QCOMPARE(withoutUs(client.readFor(400)), answer);
    // Well short of the one-second C repeat: only a fault may still be talking now.
    const QByteArray later = client.readFor(300);
    QCOMPARE(!later.isEmpty() && withoutUs(later).isEmpty(), keepsStreaming);
    if (!keepsStreaming)
        QCOMPARE(later, QByteArray());
}

void tst_devsim::updateReplacesPorts()
{
    cSimulator simulator({"--boot-delay", "100", "--restart-delay", "100", "--new-version", "730400.03.00.01"});
    QVERIFY(simulator.start());
    QVERIFY(simulator.waitForPorts(1, 2000));
    const QString applicationPort = simulator.ports().first();
    {
        cPtyClient client(applicationPort);
        QVERIFY(client.write(kBootCommand));
        QVERIFY(simulator.waitForLog("devsim: boot command received", 2000));
        QCOMPARE(client.readFor(100), QByteArray()); // the application leaves without a word
    }
    QVERIFY(simulator.waitForPorts(0, 1000));
    QVERIFY(simulator.waitForPorts(1, 2000));
    const QString bootPort = simulator.ports().first();
    QVERIFY(bootPort != applicationPort);

    cPtyClient client(bootPort);
    QVERIFY(client.readUntil(1000, [](const QByteArray &bytes) { return bytes.contains('U'); }).contains('U'));
    QVERIFY(client.write("U"));
    QVERIFY(client.readUntil(1000, [](const QByteArray &bytes) { return bytes.contains('C'); }).contains('C'));

    // Two blocks, the second first with a broken CRC, then block number 2 wrapped into the last one.
    QByteArray image(2048, '\0');
    for (char &byte : image)
        byte = static_cast<char>(QRandomGenerator::global()->bounded(256));
    const auto answerTo = [&client](const QByteArray &bytes) {
        client.write(bytes);
        return client.readUntil(2000, [](const QByteArray &received) { return !received.isEmpty(); });
    };
    QCOMPARE(answerTo(xmodemBlock(1, image.left(1024))), QByteArray("\x06"));
    QByteArray broken = xmodemBlock(2, image.mid(1024));
    broken[500] = static_cast<char>(broken[500] ^ 0x01);
    QCOMPARE(answerTo(broken), QByteArray("\x15"));
    QCOMPARE(answerTo(xmodemBlock(2, image.mid(1024))), QByteArray("\x06"));
    QCOMPARE(answerTo(xmodemBlock(2, image.mid(1024))), QByteArray("\x06")); // repeat: ACK, not kept twice
    QCOMPARE(answerTo("\x04"), QByteArray("\x06"));

    QVERIFY(simulator.waitForLog("devsim: image written 2048 bytes", 2000));
    QFile written(simulator.imagePath());
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), image);

    QVERIFY(simulator.waitForLog("devsim: restarted into application", 2000));
    QVERIFY(simulator.waitForPorts(1, 2000));
    const QString newPort = simulator.ports().first();
    QVERIFY(newPort != bootPort && newPort != applicationPort);
    cPtyClient updated(newPort);
    QVERIFY(updated.write(kAppver));
    QCOMPARE(updated.readUntil(2000, [](const QByteArray &bytes) { return bytes.endsWith('\n'); }),
             QByteArray("$PKVR,255,0,0,730400.03.00.01*01\r\n"));

    simulator.stop();
    QVERIFY(simulator.ports().isEmpty());
}

QTEST_GUILESS_MAIN(tst_devsim)
#include "tst_devsim.moc"
