#include "support/updatelog.h"
#include "wizard/updateflow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QRegularExpression kLine(R"(^\d\d \S+ \d{4} - \d\d:\d\d:\d\d\.\d{3} : (.*)$)");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// The texts after the timestamps, one per line; fails (empty list plus a marker) on a bad line.
QStringList textsOf(const QString &lines)
{
    QStringList texts;
    const QStringList all = lines.split('\n');
    for (int i = 0; i < all.size(); ++i) {
        if (i == all.size() - 1 && all[i].isEmpty())
            break;
        const QRegularExpressionMatch m = kLine.match(all[i]);
        if (!m.hasMatch())
            return { QStringLiteral("<bad line: %1>").arg(all[i]) };
        texts << m.captured(1);
    }
    return texts;
}

} // namespace

class tst_UpdateLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void timestamp_data();
    void timestamp();
    void byteText_data();
    void byteText();
    void taggedText();
    void logPath();
    void flowLogLines();
    void twoRunsShareOneFile();
    void unwritableTempDirKeepsLines_data();
    void unwritableTempDirKeepsLines();
    void refusedFiles_data();
    void refusedFiles();
    void fifoDoesNotBlock();

private:
    QTemporaryDir base;
    std::unique_ptr<QTemporaryDir> tmp;
    QString logFile() const { return tmp->path() + "/quaymendlog.txt"; }
};

void tst_UpdateLog::initTestCase()
{
    QVERIFY(base.isValid());
}

// Each test gets a temporary directory of its own; TMPDIR points there, so the real log is never
// touched.
void tst_UpdateLog::init()
{
    tmp = std::make_unique<QTemporaryDir>(base.filePath("XXXXXX"));
    QVERIFY(tmp->isValid());
    qputenv("TMPDIR", tmp->path().toLocal8Bit());
}

void tst_UpdateLog::timestamp_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("expected");

    const QDateTime when(QDate(2026, 2, 1), QTime(9, 5, 3, 7));
    QTest::newRow("english") << QLocale(QLocale::English, QLocale::UnitedKingdom) << when
                             << "01 Feb 2026 - 09:05:03.007 : ";
    QTest::newRow("c") << QLocale::c() << when << "01 Feb 2026 - 09:05:03.007 : ";
    QTest::newRow("afternoon, december")
        << QLocale::c() << QDateTime(QDate(2026, 12, 6), QTime(16, 5, 6, 789))
        << "06 Dec 2026 - 16:05:06.789 : ";
    QTest::newRow("german month") << QLocale(QLocale::German, QLocale::Germany) << when
                                  << "01 Feb. 2026 - 09:05:03.007 : ";
}

void tst_UpdateLog::timestamp()
{
    QFETCH(QLocale, locale);
    QFETCH(QDateTime, when);
    QFETCH(QString, expected);
    QCOMPARE(logTimestamp(when, locale), expected);
}

void tst_UpdateLog::byteText_data()
{
    QTest::addColumn<QByteArray>("tag");
    QTest::addColumn<int>("byte");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("nul") << QByteArray("Rx") << 0x00 << QByteArray("Rx: 0x0");
    QTest::newRow("ack") << QByteArray("Rx") << 0x06 << QByteArray("Rx: 0x6");
    QTest::newRow("nak") << QByteArray("Rx") << 0x15 << QByteArray("Rx: 0x15");
    QTest::newRow("U") << QByteArray("Rx") << 0x55 << QByteArray("Rx: U");
    QTest::newRow("C sent") << QByteArray("Tx") << 0x43 << QByteArray("Tx: C");
    QTest::newRow("space") << QByteArray("Rx") << 0x20 << QByteArray("Rx:  ");
    QTest::newRow("tilde") << QByteArray("Rx") << 0x7E << QByteArray("Rx: ~");
    QTest::newRow("del") << QByteArray("Rx") << 0x7F << QByteArray("Rx: 0x7f");
    QTest::newRow("high") << QByteArray("Rx") << 0xFF << QByteArray("Rx: 0xff");
    QTest::newRow("latin-1 letter") << QByteArray("Rx") << 0xE9 << QByteArray("Rx: 0xe9");
}

void tst_UpdateLog::byteText()
{
    QFETCH(QByteArray, tag);
    QFETCH(int, byte);
    QFETCH(QByteArray, expected);
    QCOMPARE(logByteText(tag, quint8(byte)), expected);
}

void tst_UpdateLog::taggedText()
{
    QCOMPARE(logTaggedText("Response", ""), QByteArray("Response: "));
    QCOMPARE(logTaggedText("Command", "$PKVR,x*00"), QByteArray("Command: $PKVR,x*00"));
}

void tst_UpdateLog::logPath()
{
    QCOMPARE(updateLogPath(), logFile());
}

void tst_UpdateLog::flowLogLines()
{
    cUpdateFlow flow;
    QStringList told;
    connect(&flow, &cUpdateFlow::lineLogged, &flow,
            [&](const QDateTime &, const QString &timestamp, const QByteArray &text) { told << timestamp + text; });
    flow.start();
    flow.log(logTaggedText("Response", ""));
    flow.log(logByteText("Rx", 0x15));
    flow.log("plain");

    const QStringList expected { "Welcome screen", "Response: ", "Rx: 0x15", "plain" };
    const QString memory = flow.copyLog();
    QCOMPARE(textsOf(memory), expected);
    // The file holds the same lines, with the same timestamps, byte for byte, and so do the views.
    QCOMPARE(QString::fromUtf8(readAll(logFile())), memory);
    QCOMPARE(told.join('\n') + '\n', memory);
}

void tst_UpdateLog::twoRunsShareOneFile()
{
    {
        cUpdateFlow first;
        first.start();
        first.log("Connect");
        first.log("Complete");
    }
    {
        cUpdateFlow second;
        second.start();
        second.log("Connect failed");
        // Each run's copy holds only its own lines.
        QCOMPARE(textsOf(second.copyLog()),
                 (QStringList { "Welcome screen", "Connect failed" }));
    }
    QCOMPARE(textsOf(QString::fromUtf8(readAll(logFile()))),
             (QStringList { "Welcome screen", "Connect", "Complete", "Welcome screen", "Connect failed" }));
}

void tst_UpdateLog::unwritableTempDirKeepsLines_data()
{
    QTest::addColumn<QString>("kind");
    // A file or a device where the folder should be: no one, not even root, can create the log there.
    QTest::newRow("file in its place") << "file";
    QTest::newRow("device in its place") << "device";
    // QDir::tempPath() is then empty; the log must not go to the root folder or the working one.
    QTest::newRow("missing folder") << "missing";
}

void tst_UpdateLog::unwritableTempDirKeepsLines()
{
    QFETCH(QString, kind);
    const QString blocker = kind == "device" ? QStringLiteral("/dev/null") : tmp->path() + "/not-a-dir";
    if (kind == "file") {
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
    }
    qputenv("TMPDIR", blocker.toLocal8Bit());
    const auto sizeOf = [](const QString &path) { return QFileInfo::exists(path) ? QFileInfo(path).size() : -1; };
    const QString rootLog = QStringLiteral("/quaymendlog.txt");
    const QString workLog = QDir::current().filePath(QStringLiteral("quaymendlog.txt"));
    const qint64 rootBefore = sizeOf(rootLog);
    const qint64 workBefore = sizeOf(workLog);

    cUpdateFlow flow;
    flow.start();
    flow.log("Detecting AIS");
    QCOMPARE(textsOf(flow.copyLog()), (QStringList { "Welcome screen", "Detecting AIS" }));
    QCOMPARE(updateLogPath(), QString());
    if (kind == "missing")
        QVERIFY(!QFileInfo::exists(blocker));
    else if (kind == "file")
        QCOMPARE(readAll(blocker), QByteArray());
    QCOMPARE(sizeOf(rootLog), rootBefore);
    QCOMPARE(sizeOf(workLog), workBefore);
}

void tst_UpdateLog::refusedFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("symlink to a file") << "symlink";
    QTest::newRow("dangling symlink") << "dangling";
    QTest::newRow("hard link") << "hardlink";
    QTest::newRow("owned by someone else") << "foreign";
    QTest::newRow("directory") << "directory";
}

void tst_UpdateLog::refusedFiles()
{
    QFETCH(QString, kind);
    const QString victim = tmp->path() + "/victim";
    const QByteArray original("precious\n");
    QFile file(victim);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(original);
    file.close();

    const QByteArray logPath = QFile::encodeName(logFile());
    if (kind == "symlink") {
        QVERIFY(::symlink(QFile::encodeName(victim).constData(), logPath.constData()) == 0);
    } else if (kind == "dangling") {
        QVERIFY(QFile::remove(victim));
        QVERIFY(::symlink(QFile::encodeName(victim).constData(), logPath.constData()) == 0);
    } else if (kind == "hardlink") {
        QVERIFY(::link(QFile::encodeName(victim).constData(), logPath.constData()) == 0);
    } else if (kind == "foreign") {
        if (::geteuid() != 0)
            QSKIP("only root can give a file away");
        QVERIFY(QFile::rename(victim, logFile()));
        QVERIFY(::chown(logPath.constData(), 65534, 65534) == 0);
    } else if (kind == "directory") {
        QVERIFY(QDir().mkdir(logFile()));
    }

    QVERIFY(!appendLineToFile(logFile(), "direct"));
    cUpdateFlow flow;
    flow.start();
    flow.log("still kept");
    QCOMPARE(textsOf(flow.copyLog()), (QStringList { "Welcome screen", "still kept" }));

    if (kind == "dangling") {
        QVERIFY2(!QFile::exists(victim), "the symlink was followed and its target created");
    } else if (kind == "foreign") {
        QCOMPARE(readAll(logFile()), original);
    } else if (kind != "directory") {
        QCOMPARE(readAll(victim), original);
    }
}

void tst_UpdateLog::fifoDoesNotBlock()
{
    const QByteArray path = QFile::encodeName(logFile());
    QVERIFY(::mkfifo(path.constData(), 0600) == 0);
    auto done = std::async(std::launch::async, [&] { return appendLineToFile(logFile(), "line"); });
    if (done.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
        // Let the stuck open finish so the test can end, then fail.
        const int reader = ::open(path.constData(), O_RDONLY | O_NONBLOCK);
        done.wait();
        ::close(reader);
        QFAIL("writing the log blocked on a FIFO");
    }
    QVERIFY(!done.get());
}

QTEST_GUILESS_MAIN(tst_UpdateLog)
#include "tst_updatelog.moc"
