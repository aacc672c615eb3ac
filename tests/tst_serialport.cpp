// The serial port adapter on a real pseudo-terminal. Writes: every byte a write reports taken
// reaches the peer, in order, and a write that times out against a peer that stopped reading
// drops only its own remainder, never bytes the driver took from earlier writes. Line reads: no
// more than the caller's buffer holds, ending after a LF or a time-out.
#include "device/portlock.h"
#include "device/serialport.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The peer's end of a pseudo-terminal; the adapter opens the other end by its path.
struct Pty
{
    int master = -1;
    QString slavePath;

    // cooked: the line keeps the kernel's defaults for a new terminal, echo on, as a USB serial
    // port has when it appears.
    explicit Pty(bool cooked = false)
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return;
        if (!cooked) {
            termios raw {};
            ::tcgetattr(master, &raw);
            ::cfmakeraw(&raw);
            ::tcsetattr(master, TCSANOW, &raw);
        }
        slavePath = QString::fromLocal8Bit(::ptsname(master));
    }
    ~Pty()
    {
        if (master >= 0)
            ::close(master);
    }

    // Everything that arrives until the line has been quiet for quietMs (bounded by boundMs).
    QByteArray drain(int quietMs, int boundMs = 20000) const
    {
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        char buffer[65536];
        while (clock.elapsed() < boundMs) {
            pollfd in { master, POLLIN, 0 };
            if (::poll(&in, 1, quietMs) <= 0)
                break;
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, int(n));
        }
        return got;
    }
};

// As the device link sets a port up for its exchanges; the pseudo-terminal ignores the speed.
void polling(cSerialPort &port, const QString &path, int timeoutMs)
{
    port.setPortName(path);
    port.setQueryMode(cPort::Polling);
    port.setTimeout(timeoutMs);
}

QByteArray pattern(int size, int seed)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 7 + seed + i / 251) & 0xff);
    return data;
}

} // namespace

class TestSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void writes_data()
    {
        QTest::addColumn<bool>("peerReads");
        QTest::newRow("peer reads, small writes arrive whole and in order") << true;
        QTest::newRow("peer stops reading, a timed-out write keeps earlier bytes") << false;
    }

    void writes()
    {
        QFETCH(bool, peerReads);
        Pty pty;
        QVERIFY(!pty.slavePath.isEmpty());
        cSerialPort port;
        port.setPortName(pty.slavePath);
        port.setQueryMode(cPort::Polling);
        port.setBaudRate(115200);
        // A reading peer never lets a write time out, however busy the machine.
        port.setTimeout(peerReads ? 5000 : 300);
        QVERIFY(port.open(QIODevice::ReadWrite));

        QByteArray expected;
        if (peerReads) {
            std::atomic<bool> stop { false };
            QByteArray received;
            std::thread reader([&] {
                while (!stop.load())
                    received += pty.drain(50, 1000);
                received += pty.drain(200);
            });
            const QByteArray data = pattern(256 * 1024, 1);
            for (int offset = 0; offset < data.size(); offset += 16) {
                if (port.write(data.constData() + offset, 16) != 16) {
                    stop = true;
                    reader.join();
                    QFAIL(qPrintable(QStringLiteral("write at %1 not taken whole").arg(offset)));
                }
                QCOMPARE(port.bytesToWrite(), qint64(0));
            }
            stop = true;
            reader.join();
            QCOMPARE(received.size(), data.size());
            QVERIFY(received == data);
            return;
        }

        const QByteArray earlier = pattern(4000, 2);
        QCOMPARE(port.write(earlier.constData(), earlier.size()), qint64(earlier.size()));
        // Far more than a pseudo-terminal holds: this write times out with its tail not taken.
        const QByteArray big = pattern(4 << 20, 3);
        QElapsedTimer clock;
        clock.start();
        const qint64 taken = port.write(big.constData(), big.size());
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(taken >= 0 && taken < big.size(), qPrintable(QString::number(taken)));
        QVERIFY2(elapsed >= 250 && elapsed < 10000, qPrintable(QString::number(elapsed)));
        const QByteArray received = pty.drain(300);
        QCOMPARE(received.size(), earlier.size() + int(taken));
        QVERIFY(received.startsWith(earlier));
        QVERIFY(received.mid(earlier.size()) == big.left(int(taken)));
        port.close();
    }

    // Whatever the peer sent while the port was closed is gone when it opens, whichever Qt: the
    // handshake's first byte and a reply's first line must come from after the open.
    // What the other side sent before an open is dropped, unless the caller keeps it: a boot
    // loader's first bytes reach a USB port during the open, and the handshake needs them.
    void openAndPendingInput_data()
    {
        QTest::addColumn<bool>("reopen");
        QTest::addColumn<bool>("keep");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("sent before the first open") << false << false << QByteArray("C");
        QTest::newRow("sent between a close and the next open") << true << false << QByteArray("C");
        QTest::newRow("kept, before the first open") << false << true << QByteArray("UUUUC");
        QTest::newRow("kept, between a close and the next open") << true << true << QByteArray("UUUUC");
    }

    void openAndPendingInput()
    {
        QFETCH(bool, reopen);
        QFETCH(bool, keep);
        QFETCH(QByteArray, expected);
        Pty pty;
        QVERIFY(!pty.slavePath.isEmpty());
        cSerialPort port;
        polling(port, pty.slavePath, 300);
        if (reopen) {
            QVERIFY(port.openKeepingInput(QIODevice::ReadWrite));
            port.close();
        }
        QCOMPARE(::write(pty.master, "UUUU", 4), ssize_t(4));
        QVERIFY(keep ? port.openKeepingInput(QIODevice::ReadWrite) : port.open(QIODevice::ReadWrite));
        QCOMPARE(port.bytesAvailable(), qint64(expected.size() - 1));
        QCOMPARE(::write(pty.master, "C", 1), ssize_t(1));
        // Kept bytes come first, whole, in order, through both ways of reading.
        char got[16] = {};
        qint64 n = keep ? port.read(got, 2) : 0;
        QCOMPARE(n, qint64(keep ? 2 : 0));
        n += port.readLine(got + n, qint64(expected.size() + 1 - n));
        QCOMPARE(QByteArray(got, int(n)), expected);
        port.close();
        QCOMPARE(::write(pty.master, "UU", 2), ssize_t(2));
        QVERIFY(port.openKeepingInput(QIODevice::ReadWrite));
        port.close();
        // Nothing kept outlives the open it belonged to.
        QVERIFY(port.open(QIODevice::ReadWrite));
        QCOMPARE(port.bytesAvailable(), qint64(0));
        port.close();
    }

    // A FIFO under a port's name is not a port: the open fails and takes none of its bytes.
    void fifoIsNotReadAsAPort()
    {
        QTemporaryDir dir;
        const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("ttyFIFO")));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        const int fd = ::open(fifo.constData(), O_RDWR | O_NONBLOCK);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "abc", 3), ssize_t(3));
        cSerialPort port;
        port.setPortName(QFile::decodeName(fifo));
        QVERIFY(!port.openKeepingInput(QIODevice::ReadWrite));
        char got[8] = {};
        QCOMPARE(::read(fd, got, sizeof got), ssize_t(3));
        ::close(fd);
    }

    // The device receives only what the program writes: a line left cooked would echo the
    // device's own bytes back to it, and Qt puts back the settings it found when it closes.
    void noEcho_data()
    {
        QTest::addColumn<int>("closes"); // before the device sends
        QTest::newRow("while the port is open") << 0;
        QTest::newRow("after the port is closed") << 1;
        QTest::newRow("after a second open and close") << 2;
    }

    void noEcho()
    {
        QFETCH(int, closes);
        Pty pty(true);
        QVERIFY(!pty.slavePath.isEmpty());
        cSerialPort port;
        polling(port, pty.slavePath, 300);
        QVERIFY(port.open(QIODevice::ReadWrite));
        QCOMPARE(port.write("U", 1), qint64(1));
        for (int i = 0; i < closes; ++i) {
            port.close();
            if (i + 1 < closes)
                QVERIFY(port.open(QIODevice::ReadWrite));
        }
        QCOMPARE(::write(pty.master, "UUUU\r\n", 6), ssize_t(6));
        if (closes == 0) {
            char got[16] = {};
            QCOMPARE(port.read(got, sizeof got), qint64(6));
        }
        QCOMPARE(pty.drain(200), QByteArray("U"));
    }

    // A device that leaves (a pseudo-terminal's other side closing, as a USB port hangs up) ends
    // every wait on its port at once, and the port says so until it is opened again.
    void vanishes_data()
    {
        QTest::addColumn<QString>("wait");
        QTest::newRow("read") << "read";
        QTest::newRow("line read") << "readLine";
        QTest::newRow("bytes available") << "bytesAvailable";
    }

    void vanishes()
    {
        QFETCH(QString, wait);
        auto pty = std::make_unique<Pty>();
        QVERIFY(!pty->slavePath.isEmpty());
        cSerialPort port;
        polling(port, pty->slavePath, 5000);
        QVERIFY(port.open(QIODevice::ReadWrite));
        QVERIFY(!port.vanished());
        pty.reset();

        QElapsedTimer clock;
        clock.start();
        char buffer[16];
        if (wait == "read")
            QCOMPARE(port.read(buffer, sizeof buffer), qint64(-1));
        else if (wait == "readLine")
            QCOMPARE(port.readLine(buffer, sizeof buffer), qint64(0));
        else
            QCOMPARE(port.bytesAvailable(), qint64(0));
        QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(port.vanished());
        port.close();
        QVERIFY(port.vanished());

        Pty next;
        port.setPortName(next.slavePath);
        QVERIFY(port.open(QIODevice::ReadWrite));
        QVERIFY(!port.vanished());
    }

    void readLine_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<int>("size"); // the caller's buffer
        QTest::addColumn<QList<QByteArray>>("lines"); // what each read returns, in turn

        QTest::newRow("two lines, one at a time")
            << QByteArray("$A*1\r\n$B\n") << 16 << QList<QByteArray> { "$A*1\r\n", "$B\n" };
        QTest::newRow("longer than the buffer")
            << QByteArray("0123456789\n") << 8 << QList<QByteArray> { "0123456", "789\n" };
        QTest::newRow("LF just past the buffer")
            << QByteArray("0123456\n") << 8 << QList<QByteArray> { "0123456", "\n" };
        QTest::newRow("silence ends a part line")
            << QByteArray("0123") << 8 << QList<QByteArray> { "0123", "" };
        QTest::newRow("room for the NUL alone") << QByteArray("0\n") << 1 << QList<QByteArray> { "", "" };
    }

    void readLine()
    {
        QFETCH(QByteArray, sent);
        QFETCH(int, size);
        QFETCH(QList<QByteArray>, lines);
        Pty pty;
        QVERIFY(!pty.slavePath.isEmpty());
        cSerialPort port;
        polling(port, pty.slavePath, 200);
        QVERIFY(port.open(QIODevice::ReadWrite));
        QCOMPARE(::write(pty.master, sent.constData(), size_t(sent.size())), ssize_t(sent.size()));
        for (const QByteArray &line : lines) {
            // Guard bytes behind the caller's buffer must stay as they are.
            QByteArray buffer(size + 8, '#');
            QCOMPARE(port.readLine(buffer.data(), size), qint64(line.size()));
            QCOMPARE(QByteArray(buffer.constData()), line);
            QCOMPARE(buffer.mid(size), QByteArray(8, '#'));
        }
        port.close();
        char byte = '#';
        QCOMPARE(port.readLine(&byte, 1), qint64(-1));
        QCOMPARE(byte, '\0');
    }

    // Another program's UUCP lock file keeps the port from being opened; a stale one, or one of
    // this process, does not. An open port is exclusive (TIOCEXCL).
    // A file naming no process keeps it while young (a lock not yet written), as does a program with
    // the port open; the file stays as written, no descriptor is left, a refused line stays cooked.
    void lockFiles_data()
    {
        // %live: another live process, %other: another user's, %own: this one, %dead: an ended
        // one, %binary: a live one as the old binary UUCP format stores it
        // %open: the live process has the port open; every file is 60 s old unless it starts %ageNN
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("held");
        QTest::newRow("no lock file") << QByteArray() << false;
        QTest::newRow("HDB format, live writer") << QByteArray("     %live\n") << true;
        QTest::newRow("HDB format without its newline") << QByteArray("     %live") << true;
        QTest::newRow("minicom's format, live writer") << QByteArray("     %live minicom boat\n") << true;
        QTest::newRow("minicom's format, ended writer") << QByteArray("%age00     %dead minicom boat\n") << false;
        QTest::newRow("Qt's format, live writer") << QByteArray("%live\nminicom\nboat\n") << true;
        QTest::newRow("another user's live process") << QByteArray("     %other\n") << true;
        QTest::newRow("binary process number, live writer") << QByteArray("%binary") << true;
        QTest::newRow("writer has ended") << QByteArray("     %dead\n") << false;
        QTest::newRow("this process") << QByteArray("%own\n") << false;
        QTest::newRow("held open, stale lock file") << QByteArray("%open") << true;
        QTest::newRow("zero") << QByteArray("         0\n") << false;
        QTest::newRow("negative: kill(-1) would ask every process") << QByteArray("        -1\n") << false;
        // 2^32 + 1 is process 1 once cut to a pid_t.
        QTest::newRow("over-long number that wraps to a live process") << QByteArray("4294967297\n") << false;
        QTest::newRow("over-long digits") << QByteArray("123456789012345678901234567890\n") << false;
        QTest::newRow("empty file") << QByteArray("\n") << false;
        QTest::newRow("empty file, just created") << QByteArray("%age00") << true;
        QTest::newRow("empty file, 25 s old") << QByteArray("%age25") << true;
        QTest::newRow("empty file, 31 s old") << QByteArray("%age31") << false;
        QTest::newRow("garbage") << QByteArray("\x7f""ELF\x02\x01 not a lock") << false;
    }

    void lockFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, held);
        const int age = content.startsWith("%age") ? content.mid(4, 2).toInt() : 60;
        content.remove(0, content.startsWith("%age") ? 6 : 0);
        Pty pty(true);
        QVERIFY(!pty.slavePath.isEmpty());
        QProcess live;
        if (content == "%open")
            live.setStandardInputFile(pty.slavePath);
        live.start("sleep", { "30" });
        QVERIFY(live.waitForStarted());
        QProcess ended;
        ended.start("true", {});
        QVERIFY(ended.waitForStarted());
        const qint64 deadPid = ended.processId();
        QVERIFY(ended.waitForFinished());
        // As root, a process of the nobody user; otherwise init, which is root's.
        QProcess other;
        qint64 otherPid = 1;
        if (::getuid() == 0) {
            other.start("setpriv", { "--reuid=65534", "--regid=65534", "--clear-groups", "sleep", "30" });
            QVERIFY(other.waitForStarted());
            otherPid = other.processId();
        }
        const qint32 livePid = qint32(live.processId());
        content.replace("%live", QByteArray::number(live.processId()))
            .replace("%other", QByteArray::number(otherPid))
            .replace("%own", QByteArray::number(qint64(::getpid())))
            .replace("%dead", QByteArray::number(deadPid))
            .replace("%binary", QByteArray(reinterpret_cast<const char *>(&livePid), sizeof livePid));

        // Qt's name for the port's lock file: LCK..pts_N.
        const QString lockPath = QStringLiteral("/var/lock/") + portLockNames(pty.slavePath).constLast();
        QFile::remove(lockPath); // a pseudo-terminal's number comes round again
        if (!content.isNull()) {
            QFile lock(lockPath);
            if (!lock.open(QIODevice::WriteOnly | QIODevice::NewOnly))
                QSKIP("the lock directory cannot be written here");
            lock.write(content);
            QVERIFY(lock.flush()
                    && lock.setFileTime(QDateTime::currentDateTime().addSecs(-age), QFileDevice::FileModificationTime));
        }
        QCOMPARE(portHeldElsewhere(pty.slavePath), held && content != "%open");
        cSerialPort port;
        port.setPortName(pty.slavePath);
        const qsizetype descriptors = QDir(QStringLiteral("/proc/self/fd")).count();
        for (int i = 0; i < 20; ++i, port.close())
            QCOMPARE(i % 2 ? port.open(QIODevice::ReadWrite) : port.openKeepingInput(QIODevice::ReadWrite), !held);
        QCOMPARE(QDir(QStringLiteral("/proc/self/fd")).count(), descriptors);
        termios line {};
        QVERIFY(::tcgetattr(pty.master, &line) == 0);
        QCOMPARE(bool(line.c_lflag & ECHO), held);
        if (QFile written(lockPath); held && !content.isNull())
            QCOMPARE(written.open(QIODevice::ReadOnly) ? written.readAll() : QByteArray("(removed)"), content);
        QCOMPARE(port.open(QIODevice::ReadWrite), !held);
        // QEMU's user-mode emulation neither passes TIOCGEXCL on nor opens a second descriptor the
        // way the kernel does: exclusivity is looked at on a real kernel only.
        const bool emulated = !QStringLiteral(QUAYMEND_TEST_EMULATOR).isEmpty();
        if (!held && !emulated) {
            // Only a privileged process gets a second descriptor of an exclusive terminal.
            const int second = ::open(pty.slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const int openError = errno;
            int exclusive = 0;
            if (second >= 0) {
                QVERIFY(::ioctl(second, TIOCGEXCL, &exclusive) == 0);
                ::close(second);
            }
            port.close();
            if (second >= 0)
                QCOMPARE(exclusive, 1);
            else
                QCOMPARE(openError, EBUSY);
        }
        QFile::remove(lockPath);
        live.kill();
        live.waitForFinished();
        if (other.state() != QProcess::NotRunning) {
            other.kill();
            other.waitForFinished();
        }
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
