// The sender against a scripted receiver: wire format, progress, retry limits, pacing and the
// ways a run can end.
#include "device/port.h"
#include "freshprocess.h"
#include "update/crc16.h"
#include "update/xmodem1ksend.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QMutex>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Wire values, restated.
constexpr char STX = 0x02;
constexpr char EOT = 0x04;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;
constexpr char CAN = 0x18;
constexpr int frameSize = 1029;

quint16 referenceCrc(const QByteArray &data)
{
    quint16 crc = 0;
    for (char c : data) {
        crc ^= quint16(quint8(c) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

struct Frame
{
    char kind = 0; // STX, EOT or 0 for anything else
    quint8 number = 0;
    quint8 complement = 0;
    QByteArray data;
    bool crcOk = false;
    QList<int> dataWrites; // sizes of the write calls that carried the data
    int progress = -1; // the sender's progress when the frame arrived
    int blockIndex = 0; // which block of the file the receiver was waiting for
};

// A receiver behind a fake port. Every write is kept; a frame is judged when the sender reads its
// answer. Replies per block come from a script: "2:NN" answers block 2 twice with NAK, then ACK;
// a trailing '*' repeats the last answer for ever. A ACK, N NAK, S silence, Z a 0x00 byte,
// C a 'C', L an ACK that arrives just after the sender's time-out, V one that arrives only while
// the sender repeats the block.
class ScriptedReceiver : public cPort
{
public:
    cXmodem1KSend *sender = nullptr;
    QMap<int, QString> script;
    QString eotScript = QStringLiteral("A");
    int vanishAtBlock = 0; // from this block on, the port is gone ...
    bool stuckOutput = false; // ... or takes bytes but never gets them out
    int slowCloseMs = 0; // after EOT, output drains this slowly
    int closeBlockMs = 0; // close() itself blocks, as a driver waiting for its output can
    bool refuseOpen = false;

    QList<Frame> frames;
    QByteArray image;
    QList<QByteArray> writes;
    QByteArray trailing; // written after the last read
    bool outOfStep = false;
    int opens = 0;
    int openAttempts = 0;
    int eots = 0;
    QList<int> timeouts;

    void setPortName(const QString &) override { }
    QString portName() const override { return QStringLiteral("fake"); }
    void setQueryMode(QueryMode) override { }
    void setBaudRate(qint32) override { }
    void setParity(cSerialLine::Parity) override { }
    void setDataBits(cSerialLine::DataBits) override { }
    void setStopBits(cSerialLine::StopBits) override { }
    void setFlowControl(cSerialLine::FlowControl) override { }
    void setTimeout(int ms) override { timeouts << ms; }
    int timeout() const override { return timeouts.isEmpty() ? 500 : timeouts.last(); }

    bool open(QIODevice::OpenMode) override
    {
        ++openAttempts;
        if (refuseOpen)
            return false;
        if (!m_open)
            ++opens;
        m_open = true;
        return true;
    }
    bool isOpen() const override { return m_open; }
    void close() override
    {
        if (closeBlockMs > 0)
            QThread::msleep(ulong(closeBlockMs));
        m_open = false;
    }

    qint64 write(const char *data, qint64 size) override
    {
        if (vanished() && !stuckOutput)
            return -1;
        writes << QByteArray(data, int(size));
        m_pending.append(data, int(size));
        if (size == 1 && *data == EOT && m_pending.size() == 1 && slowCloseMs > 0)
            m_drainClock.start();
        return size;
    }

    qint64 read(char *data, qint64 maxSize) override
    {
        if (vanished())
            return stuckOutput ? 0 : -1;
        if (maxSize <= 0)
            return 0;
        judgePending();
        if (m_rx.isEmpty()) {
            m_rx += m_afterTimeout;
            m_afterTimeout.clear();
            return 0;
        }
        *data = m_rx.at(0);
        m_rx.remove(0, 1);
        return 1;
    }

    qint64 readLine(char *, qint64) override { return -1; }
    qint64 bytesAvailable() override { return m_rx.size(); }
    qint64 bytesToWrite() const override
    {
        if (stuckOutput && vanished())
            return 1;
        return (m_drainClock.isValid() && m_drainClock.elapsed() < slowCloseMs) ? 1 : 0;
    }
    bool waitForBytesWritten(int) override { return false; }
    bool flush() override { return true; }
    void discardInput() override { m_rx.clear(); }

    // Bytes written after the last read (the cancel bytes), taken when the run has ended.
    void finish()
    {
        trailing = m_pending;
        m_pending.clear();
    }

    QList<Frame> framesOfBlock(int index) const
    {
        QList<Frame> result;
        for (const Frame &f : frames)
            if (f.kind == STX && f.blockIndex == index)
                result << f;
        return result;
    }

private:
    bool vanished() const { return vanishAtBlock > 0 && m_expectedIndex >= vanishAtBlock; }

    char replyFor(int index, int attempt)
    {
        const QString s = script.value(index);
        if (attempt > s.size())
            return s.endsWith(QLatin1Char('*')) ? s.at(s.size() - 2).toLatin1() : 'A';
        return s.at(attempt - 1) == QLatin1Char('*') ? s.at(attempt - 2).toLatin1()
                                                     : s.at(attempt - 1).toLatin1();
    }

    void judgePending()
    {
        if (m_pending.isEmpty())
            return;
        Frame f;
        f.blockIndex = m_expectedIndex;
        f.progress = sender ? int(sender->progress.load()) : -1;
        if (m_pending.size() == 1 && m_pending.at(0) == EOT) {
            f.kind = EOT;
            frames << f;
            m_pending.clear();
            ++eots;
            reply(eots <= eotScript.size() ? eotScript.at(eots - 1).toLatin1() : 'A');
            return;
        }
        if (m_pending.size() == frameSize && m_pending.at(0) == STX) {
            f.kind = STX;
            f.number = quint8(m_pending.at(1));
            f.complement = quint8(m_pending.at(2));
            f.data = m_pending.mid(3, 1024);
            f.crcOk = referenceCrc(f.data)
                == quint16((quint8(m_pending.at(1027)) << 8) | quint8(m_pending.at(1028)));
            // Header and CRC are single-byte writes; what lies between is the data.
            for (int i = writes.size() - 1, sum = 0; i >= 0 && sum < 1026; --i) {
                sum += int(writes.at(i).size());
                if (sum > 2 && sum <= 1026)
                    f.dataWrites.prepend(int(writes.at(i).size()));
            }
        }
        m_pending.clear();
        if (f.kind != STX || !f.crcOk) {
            frames << f;
            reply('N');
            return;
        }
        if (f.number == quint8(m_expectedIndex - 1) && m_expectedIndex > 1) {
            f.blockIndex = m_expectedIndex - 1;
            frames << f;
            reply('A'); // a repeat of the block already taken
            return;
        }
        frames << f;
        if (f.number != quint8(m_expectedIndex) || f.complement != quint8(255 - f.number)) {
            outOfStep = true;
            reply('N');
            return;
        }
        const char r = replyFor(m_expectedIndex, ++m_attempts[m_expectedIndex]);
        if (r == 'A' || r == 'L' || r == 'V') {
            image += f.data;
            ++m_expectedIndex;
        }
        reply(r);
    }

    void reply(char r)
    {
        // A late ACK from an earlier block reaches the line first.
        m_rx += m_late;
        m_late.clear();
        switch (r) {
        case 'A':
            m_rx += ACK;
            break;
        case 'N':
            m_rx += NAK;
            break;
        case 'Z':
            m_rx += '\0';
            break;
        case 'C':
            m_rx += 'C';
            break;
        case 'L':
            m_afterTimeout += ACK;
            break;
        case 'V':
            m_late += ACK;
            break;
        default:
            break;
        }
    }

    bool m_open = false;
    QByteArray m_pending;
    QByteArray m_rx;
    QByteArray m_afterTimeout;
    QByteArray m_late;
    int m_expectedIndex = 1;
    QMap<int, int> m_attempts;
    QElapsedTimer m_drainClock;
};

QMap<int, QString> parseScript(const QString &text)
{
    QMap<int, QString> script;
    for (const QString &item : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        script.insert(item.section(QLatin1Char(':'), 0, 0).toInt(), item.section(QLatin1Char(':'), 1));
    return script;
}

QMutex traceMutex;
QStringList traceLines;

QtMessageHandler defaultHandler = nullptr;

void captureTrace(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg) {
        defaultHandler(type, context, message);
        return;
    }
    QMutexLocker lock(&traceMutex);
    traceLines << message;
}

} // namespace

class TestXmodem1KSend : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_files = 0;

    QString makeFile(qint64 size, bool random = true)
    {
        const QString path = m_dir.filePath(QStringLiteral("update%1.img").arg(++m_files));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        if (random) {
            QByteArray data(int(size), Qt::Uninitialized);
            for (char &c : data)
                c = char(QRandomGenerator::global()->bounded(256));
            file.write(data);
        } else {
            file.resize(size);
        }
        return path;
    }

    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Runs one transfer to the end; false if it did not end in time.
    static bool transfer(cXmodem1KSend &sender, ScriptedReceiver &port, int boundMs = 20000)
    {
        sender.startTransfer();
        const bool ended = sender.wait(boundMs);
        port.finish();
        return ended;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        defaultHandler = qInstallMessageHandler(captureTrace);
    }

    void init()
    {
        QMutexLocker lock(&traceMutex);
        traceLines.clear();
    }

    void crc_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("zero") << QByteArray(1, '\0');
        QTest::newRow("ff") << QByteArray(1, '\xff');
        QTest::newRow("padding block") << QByteArray(1024, '\x1a');
        QByteArray random(1024, Qt::Uninitialized);
        for (char &c : random)
            c = char(QRandomGenerator::global()->bounded(256));
        QTest::newRow("random block") << random;
    }

    void crc()
    {
        QFETCH(QByteArray, data);
        QCOMPARE(crc16Xmodem(data.constData(), size_t(data.size())), referenceCrc(data));
    }

    void crcCheckValue() { QCOMPARE(crc16Xmodem("123456789", 9), quint16(0x31C3)); }

    void wireFormat_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("blocks");
        QTest::newRow("1 byte") << 1 << 1;
        QTest::newRow("1023 bytes") << 1023 << 1;
        QTest::newRow("1024 bytes") << 1024 << 1;
        QTest::newRow("1025 bytes") << 1025 << 2;
        QTest::newRow("2049 bytes") << 2049 << 3;
        QTest::newRow("past block 255, numbers wrap") << 258 * 1024 - 7 << 258;
    }

    void wireFormat()
    {
        QFETCH(int, size);
        QFETCH(int, blocks);
        const QString path = makeFile(size);
        ScriptedReceiver port;
        cXmodem1KSend sender(path.toUtf8().toStdString(), &port);
        port.sender = &sender;
        QVERIFY(transfer(sender, port));

        QCOMPARE(sender.status.load(), XmodemComplete);
        QCOMPARE(sender.progress.load(), 100);
        QVERIFY(!port.isOpen());
        QCOMPARE(port.timeouts, QList<int> { xmodemResponseTimeoutMs.load() });
        QCOMPARE(port.frames.size(), blocks + 1);
        QCOMPARE(port.frames.last().kind, EOT);
        QVERIFY(!port.outOfStep);
        for (int i = 0; i < blocks; ++i) {
            const Frame &f = port.frames.at(i);
            QCOMPARE(f.kind, STX);
            QCOMPARE(int(f.number), (i + 1) % 256);
            QCOMPARE(int(f.complement), 255 - (i + 1) % 256);
            QVERIFY(f.crcOk);
        }
        QCOMPARE(port.image.size(), blocks * 1024);
        QCOMPARE(port.image.left(size), contents(path));
        QCOMPARE(port.image.mid(size), QByteArray(blocks * 1024 - size, '\x1a'));
        // The boot loader is paced: no write carries more than a chunk.
        for (const QByteArray &w : std::as_const(port.writes))
            QVERIFY(w.size() <= 16);
    }

    void progress_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("afterBlocks");
        QTest::addColumn<int>("expected");
        QTest::newRow("1025 bytes, first block") << qint64(1025) << 1 << 99;
        QTest::newRow("1025 bytes, end") << qint64(1025) << 2 << 100;
        QTest::newRow("300000 bytes, first block") << qint64(300000) << 1 << 1;
        QTest::newRow("300000 bytes, half") << qint64(300000) << 150 << 51;
        // 102400 per block passes 2^31 after about 21000 blocks.
        QTest::newRow("24 MiB, past 2 GiB of sum") << qint64(24 << 20) << 22000 << 89;
    }

    void progress()
    {
        QFETCH(qint64, size);
        QFETCH(int, afterBlocks);
        QFETCH(int, expected);
        const QString path = makeFile(size, size < (1 << 20));
        ScriptedReceiver port;
        cXmodem1KSend sender(path.toUtf8().toStdString(), &port);
        port.sender = &sender;
        QVERIFY(transfer(sender, port, 120000));
        QCOMPARE(sender.status.load(), XmodemComplete);
        QCOMPARE(port.frames.at(0).progress, 0);
        QCOMPARE(port.frames.at(afterBlocks).progress, expected);
        int previous = 0;
        for (const Frame &f : std::as_const(port.frames)) {
            QVERIFY2(f.progress >= previous && f.progress <= 100, qPrintable(QString::number(f.progress)));
            previous = f.progress;
        }
    }

    void fileAndPortFaults_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("status");
        QTest::newRow("empty file") << "empty" << int(XmodemPortError);
        QTest::newRow("missing file") << "missing" << int(XmodemFileError);
        QTest::newRow("port will not open") << "refuse" << int(XmodemPortError);
        QTest::newRow("full path, other current directory") << "elsewhere" << int(XmodemComplete);
        // Named like an update file but no regular file: opening must neither block nor read on.
        QTest::newRow("FIFO") << "fifo" << int(XmodemFileError);
        QTest::newRow("link to a FIFO") << "link to fifo" << int(XmodemFileError);
        QTest::newRow("link to /dev/zero") << "link to /dev/zero" << int(XmodemFileError);
        QTest::newRow("folder") << "folder" << int(XmodemFileError);
    }

    void fileAndPortFaults()
    {
        QFETCH(QString, kind);
        QFETCH(int, status);
        QString path = makeFile(kind == QLatin1String("empty") ? 0 : 3000);
        QTemporaryDir elsewhere;
        const QString fifo
            = kind.endsWith(QLatin1String("fifo")) ? elsewhere.filePath(QStringLiteral("fifo")) : QString();
        const QStringList regular { QStringLiteral("empty"), QStringLiteral("refuse"), QStringLiteral("elsewhere") };
        if (!regular.contains(kind))
            QFile::remove(path);
        if (!fifo.isEmpty())
            QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        if (kind == QLatin1String("fifo"))
            QVERIFY(QFile::rename(fifo, path));
        else if (kind == QLatin1String("link to fifo"))
            QVERIFY(QFile::link(fifo, path));
        else if (kind == QLatin1String("link to /dev/zero"))
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        else if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(path));
        const QString previousDir = QDir::currentPath();
        if (kind == QLatin1String("elsewhere"))
            QDir::setCurrent(elsewhere.path());
        ScriptedReceiver port;
        port.refuseOpen = kind == QLatin1String("refuse");
        cXmodem1KSend sender(path.toUtf8().toStdString(), &port);
        const bool ended = transfer(sender, port);
        QDir::setCurrent(previousDir);
        if (!ended && !fifo.isEmpty()) {
            // Release a sender stuck in opening the FIFO, so the failure is reported, not a hang.
            const int writer = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0)
                ::close(writer);
        }
        QVERIFY(ended);
        QCOMPARE(int(sender.status.load()), status);
        QVERIFY(!port.isOpen());
        if (status != XmodemComplete) {
            QVERIFY(port.writes.isEmpty());
            QCOMPARE(port.openAttempts, kind == QLatin1String("refuse") ? 1 : 0);
        }
    }

    void retryLimits_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<bool>("priorRun");
        QTest::addColumn<int>("block");
        QTest::addColumn<int>("status");
        QTest::addColumn<QList<int>>("chunks");
        QTest::addColumn<QStringList>("trace");
        const int timeout = XmodemTimeout, complete = XmodemComplete;
        const QList<int> halving { 16, 8, 4, 2, 1 };
        QTest::newRow("fresh, NAK") << "1:N*" << false << 1 << timeout << halving
                                    << QStringList { "XMODEM NAK 1", "Chunk size = 8", "Chunk size = 1" };
        QTest::newRow("fresh, silent") << "1:S*" << false << 1 << timeout << halving
                                       << QStringList { "No Response to packet 1", "XMODEM NAK 1" };
        QTest::newRow("fresh, 0x00 byte")
            << "1:Z*" << false << 1 << timeout << halving << QStringList { "No Response to packet 1" };
        QTest::newRow("fresh, unexpected C")
            << "1:C*" << false << 1 << timeout << QList<int> { 16, 16, 16, 16, 16 }
            << QStringList { "Unexpected response: C 0x43" };
        QTest::newRow("after first ACK, NAK")
            << "2:N*" << false << 2 << timeout << QList<int> { 16, 8, 4, 2, 1, 1, 1, 1, 1, 1 }
            << QStringList { "First packet ACK", "Packet 2 attempt 10" };
        QTest::newRow("later run, NAK") << "1:N*" << true << 1 << timeout
                                        << QList<int> { 16, 8, 4, 2, 1, 1, 1, 1, 1, 1 } << QStringList {};
        QTest::newRow("two NAKs, then ACK")
            << "2:NN" << false << 2 << complete << QList<int> { 16, 8, 4 } << QStringList { "XMODEM ACK 3" };
        QTest::newRow("mixed, then ACK")
            << "2:SZCN" << false << 2 << complete << QList<int> { 16, 8, 4, 4, 2 } << QStringList {};
    }

    void retryLimits()
    {
        if (!inFreshProcess())
            return;
        QFETCH(QString, script);
        QFETCH(bool, priorRun);
        QFETCH(int, block);
        QFETCH(int, status);
        QFETCH(QList<int>, chunks);
        QFETCH(QStringList, trace);
        const QString path = makeFile(3 * 1024);

        if (priorRun) {
            ScriptedReceiver first;
            cXmodem1KSend sender(path.toUtf8().toStdString(), &first);
            QVERIFY(transfer(sender, first));
            QCOMPARE(sender.status.load(), XmodemComplete);
        }
        ScriptedReceiver port;
        port.script = parseScript(script);
        cXmodem1KSend sender(path.toUtf8().toStdString(), &port);
        QVERIFY(transfer(sender, port));

        QCOMPARE(int(sender.status.load()), status);
        QList<int> seen;
        for (const Frame &f : port.framesOfBlock(block))
            seen << f.dataWrites.first();
        QCOMPARE(seen, chunks);
        if (status == XmodemTimeout) {
            QCOMPARE(port.trailing, QByteArray(8, CAN));
            QCOMPARE(port.writes.mid(port.writes.size() - 8), QList<QByteArray>(8, QByteArray(1, CAN)));
        } else {
            QVERIFY(port.trailing.isEmpty());
            QCOMPARE(port.image.left(3 * 1024), contents(path));
            // Pacing stays where the failures left it.
            QCOMPARE(port.framesOfBlock(block + 1).first().dataWrites.first(), chunks.last());
        }
        QCOMPARE(xmodemChunkSize.load(), chunks.last());
        QMutexLocker lock(&traceMutex);
        const QString all = traceLines.join(QLatin1Char('\n'))
                                .replace(QRegularExpression(QStringLiteral(" +")), QStringLiteral(" "));
        for (const QString &line : std::as_const(trace))
            QVERIFY2(all.contains(QStringLiteral("cXmodem1KSend::run:")) && all.contains(line),
                     qPrintable(line));
    }

    void staleAnswers_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("eotScript");
        QTest::addColumn<int>("repeatedBlock");
        QTest::addColumn<int>("eots");
        QTest::newRow("ACK just after the time-out") << "2:L 3:N"
                                                     << "A" << 3 << 1;
        QTest::newRow("ACK during the repeat") << "2:V 3:N"
                                               << "A" << 3 << 1;
        QTest::newRow("ACK during the last repeat") << "3:V"
                                                    << "NA" << 3 << 2;
    }

    // An answer that comes too late must be dropped, not taken for the answer to what follows.
    void staleAnswers()
    {
        QFETCH(QString, script);
        QFETCH(QString, eotScript);
        QFETCH(int, repeatedBlock);
        QFETCH(int, eots);
        const QString path = makeFile(3 * 1024);
        ScriptedReceiver port;
        port.script = parseScript(script);
        port.eotScript = eotScript;
        cXmodem1KSend sender(path.toUtf8().toStdString(), &port);
        QVERIFY(transfer(sender, port));
        QCOMPARE(sender.status.load(), XmodemComplete);
        QVERIFY(!port.outOfStep);
        QCOMPARE(port.image, contents(path));
        QCOMPARE(port.framesOfBlock(repeatedBlock).size(), 2);
        QCOMPARE(port.eots + port.trailing.count(EOT), eots);
    }

    void endOfTransmission_data()
    {
        QTest::addColumn<QString>("eotScript");
        QTest::addColumn<int>("eots");
        QTest::newRow("NAK twice") << "NN" << 2;
        QTest::newRow("unexpected byte") << "C" << 1;
    }

    void endOfTransmission()
    {
        QFETCH(QString, eotScript);
        QFETCH(int, eots);
        const QString path = makeFile(1500);
        ScriptedReceiver port;
        port.eotScript = eotScript;
        cXmodem1KSend sender(path.toUtf8().toStdString(), &port);
        QVERIFY(transfer(sender, port));
        QCOMPARE(sender.status.load(), XmodemComplete);
        QCOMPARE(sender.progress.load(), 100);
        QCOMPARE(port.eots + port.trailing.count(EOT), eots);
    }

    void deadPort_data()
    {
        QTest::addColumn<int>("vanishAtBlock");
        QTest::addColumn<bool>("stuckOutput");
        QTest::newRow("gone mid-transfer") << 3 << false;
        QTest::newRow("gone, output never drains") << 3 << true;
    }

    // A device unplugged mid-transfer must end the run, not hold the worker.
    void deadPort()
    {
        QFETCH(int, vanishAtBlock);
        QFETCH(bool, stuckOutput);
        const qint32 savedTimeout = xmodemResponseTimeoutMs.exchange(100);
        const QString path = makeFile(8 * 1024);
        ScriptedReceiver port;
        port.vanishAtBlock = vanishAtBlock;
        port.stuckOutput = stuckOutput;
        cXmodem1KSend sender(path.toUtf8().toStdString(), &port);
        QElapsedTimer clock;
        clock.start();
        const bool ended = transfer(sender, port, 10000);
        xmodemResponseTimeoutMs = savedTimeout;
        QVERIFY(ended);
        QCOMPARE(sender.status.load(), XmodemTimeout);
        QVERIFY(!port.isOpen());
        // Ten attempts with one bounded drain each, plus the final drain, come to about 1.1 s.
        QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
    }

    // The wizard sees the final status while the worker still drains the port; a restart then
    // must not be lost.
    void restartWhileClosing()
    {
        const QString path = makeFile(1024);
        ScriptedReceiver port;
        port.slowCloseMs = 1000;
        cXmodem1KSend sender(path.toUtf8().toStdString(), &port);
        sender.startTransfer();
        QTRY_VERIFY_WITH_TIMEOUT(sender.status.load() != XmodemRunning, 5000);
        QVERIFY(sender.isRunning());
        sender.startTransfer();
        QCOMPARE(sender.status.load(), XmodemRunning);
        QVERIFY(sender.wait(5000));
        QCOMPARE(port.opens, 2);
        QCOMPARE(sender.status.load(), XmodemComplete);
    }

    // A previous run that holds the port far longer than any close should take: the new attempt
    // ends as a port error at once rather than reporting a transfer that never starts.
    void restartWhilePortIsHeld()
    {
        const QString path = makeFile(1024);
        ScriptedReceiver port;
        port.closeBlockMs = 16000;
        cXmodem1KSend sender(path.toUtf8().toStdString(), &port);
        sender.startTransfer();
        QTRY_VERIFY_WITH_TIMEOUT(sender.status.load() != XmodemRunning, 5000);
        sender.startTransfer();
        QCOMPARE(sender.status.load(), XmodemPortError);
        QVERIFY(sender.wait(5000));
        QCOMPARE(port.opens, 1);
        QCOMPARE(sender.status.load(), XmodemPortError);
    }

    // Every write the sender makes, sizes and bytes in order, hashed: the pacing and the bytes on
    // the wire are locked, so a faster port adapter or sender cannot change them unnoticed. The
    // figures were taken from the sender as it was before its writes were made cheaper.
    void writeSequence_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("chunk");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("eotScript");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected"); // number of writes, then the first 16 hex of a SHA-1
        const int complete = XmodemComplete, timeout = XmodemTimeout;
        QTest::newRow("1 byte") << 1 << 16 << "" << "A" << complete << "70 a8c4ef5319e96c5a";
        QTest::newRow("3 blocks exactly") << 3072 << 16 << "" << "A" << complete << "208 8d58d74d18703cdb";
        QTest::newRow("NAKs and silence halve the chunk")
            << 5000 << 16 << "1:NN 2:SZ 4:CN" << "NA" << complete << "7417 cb125f7959d53939";
        QTest::newRow("chunk that does not divide a block")
            << 2500 << 5 << "2:N 3:LN" << "A" << complete << "2484 58807b92c6016702";
        QTest::newRow("retries run out, cancel") << 4096 << 16 << "2:N*" << "A" << timeout << "7231 98f94ed346f5bcbb";
        QTest::newRow("block number wraps")
            << 257 * 1024 + 3 << 16 << "256:N" << "A" << complete << "18064 409ca8c95952c459";
    }

    void writeSequence()
    {
        QFETCH(int, size);
        QFETCH(int, chunk);
        QFETCH(QString, script);
        QFETCH(QString, eotScript);
        QFETCH(int, status);
        QFETCH(QString, expected);
        QByteArray data(size, Qt::Uninitialized);
        QRandomGenerator random(quint32(size) * 2654435761u);
        for (char &c : data)
            c = char(random.bounded(256));
        const QString path = m_dir.filePath(QStringLiteral("sequence%1.img").arg(++m_files));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(data) == size);
        file.close();

        const qint32 savedChunk = xmodemChunkSize.exchange(chunk);
        const bool savedFirst = xmodemFirstPacket.exchange(true);
        ScriptedReceiver port;
        port.script = parseScript(script);
        port.eotScript = eotScript;
        cXmodem1KSend sender(path.toUtf8().toStdString(), &port);
        const bool ended = transfer(sender, port);
        xmodemChunkSize = savedChunk;
        xmodemFirstPacket = savedFirst;
        QVERIFY(ended);
        QCOMPARE(int(sender.status.load()), status);

        QCryptographicHash hash(QCryptographicHash::Sha1);
        for (const QByteArray &w : std::as_const(port.writes)) {
            const char length[2] = { char(w.size() >> 8), char(w.size() & 0xff) };
            hash.addData(QByteArrayView(length, 2));
            hash.addData(w);
        }
        const QString seen = QStringLiteral("%1 %2").arg(port.writes.size()).arg(
            QString::fromLatin1(hash.result().toHex().left(16)));
        QCOMPARE(seen, expected);
    }

    void responseTimeoutSequence()
    {
        if (!inFreshProcess())
            return;
        QList<int> seen { xmodemResponseTimeoutMs.load() };
        for (int i = 0; i < 7; ++i) {
            increaseXmodemTimeout();
            seen << xmodemResponseTimeoutMs.load();
        }
        QCOMPARE(seen, (QList<int> { 3000, 3500, 4000, 4500, 5000, 1000, 1500, 2000 }));
    }
};

QTEST_GUILESS_MAIN(TestXmodem1KSend)
#include "tst_xmodem1ksend.moc"
