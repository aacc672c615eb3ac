#include "app/batchrun.h"
#include "app/quaymend.h"
#include "builtprogram.h"
#include "simulator.h"
#include "wizardharness.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

#include <signal.h>

using namespace wizardtest;

namespace {

const QString updateName = QStringLiteral("730400_03_00_01.hex");
const QRegularExpression stamp(QStringLiteral("^\\d\\d \\S+ \\d{4} - \\d\\d:\\d\\d:\\d\\d\\.\\d{3} : "));

// What a test does to the run (a shorter budget, a Ctrl-C on a page, ...).
enum class Hook {
    None, ShortDetection, OneAttempt, InterruptWhileDetecting, InterruptWhileSwitching,
    InterruptDuringTransfer, EmptyFile, RemoveFile // once the device has been found
};

// The update log's lines without their timestamps, and with the simulator's port names (which
// carry their folder, the process ID and a counter) made alike.
QStringList comparable(const QByteArray &log)
{
    static const QRegularExpression port(QStringLiteral("/\\S*ttySIM\\d+x\\d+"));
    QStringList lines;
    for (QString line : QString::fromUtf8(log).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        lines << line.remove(stamp).replace(port, QStringLiteral("ttySIM"));
    return lines;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

Q_DECLARE_METATYPE(Hook)

// Unattended runs against the simulator: every ending with its exit code, the two output forms,
// Ctrl-C and the time bound, the same update log as the window writes, and a real process
// without a display or any platform.
class tst_BatchRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void endings_data();
    void endings();
    void sameLogAsTheWindow();
    void processWithoutDisplay_data();
    void processWithoutDisplay();
    void secondSignalEndsAHeldUpRun_data();
    void secondSignalEndsAHeldUpRun();

private:
    QString logPath() const { return m_tmp.path() + QStringLiteral("/quaymendlog.txt"); }

    QTemporaryDir m_tmp;
    QString m_files;
    QString m_empty;
    QByteArray m_update;
};

void tst_BatchRun::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
    // No logind to keep the computer awake, wherever the suite runs: the update goes on without.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_tmp.path()) + "/no-bus");
    m_files = m_tmp.path() + QStringLiteral("/files");
    m_empty = m_tmp.path() + QStringLiteral("/empty");
    QVERIFY(QDir().mkpath(m_files) && QDir().mkpath(m_empty));
    m_update = writeUpdateFile(m_files + u'/' + updateName, 5 * 1024 + 300);
}

void tst_BatchRun::init()
{
    QFile::remove(logPath());
    // Some rows empty or remove the update file once the device has been found.
    QCOMPARE(writeUpdateFile(m_files + u'/' + updateName, int(m_update.size())), m_update);
}

void tst_BatchRun::endings_data()
{
    QTest::addColumn<QStringList>("simulator"); // empty: no device at all
    QTest::addColumn<bool>("withFile");
    QTest::addColumn<bool>("json");
    QTest::addColumn<bool>("noDriver");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<Hook>("hook");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("lastLine"); // the update log's last line

    const QStringList device { "--new-version", "730400.03.00.01" };
    QTest::newRow("updated") << device << true << false << false << 0 << Hook::None << 0 << "updated" << "Complete";
    QTest::newRow("updated, json") << device << true << true << false << 0 << Hook::None << 0 << "updated" << "Complete";
    QTest::newRow("up to date") << QStringList { "--version", "730400.03.00.01" } << true << true << false << 0
                                << Hook::None << 0 << "up-to-date" << "Complete";
    QTest::newRow("no update file") << device << false << false << false << 0 << Hook::None << 3 << "no-update-file"
                                    << "Complete";
    QTest::newRow("no device") << QStringList {} << true << true << false << 0 << Hook::ShortDetection << 4
                               << "not-found" << "Connect failed";
    QTest::newRow("no device, looking again, no driver")
        << QStringList {} << true << false << true << 600 << Hook::ShortDetection << 4 << "not-found" << "Start";
    QTest::newRow("handshake fails") << QStringList { "--fault", "not-c" } << true << true << false << 0
                                     << Hook::OneAttempt << 5 << "connect-failed" << "Complete";
    QTest::newRow("transfer fails") << QStringList { "--nak-all" } << true << false << false << 0 << Hook::OneAttempt
                                    << 6 << "update-failed" << "Complete";
    // An empty file is refused before the port is used.
    QTest::newRow("port error") << device << true << true << false << 0 << Hook::EmptyFile << 7 << "port-error"
                                << "Complete";
    QTest::newRow("file error") << device << true << false << false << 0 << Hook::RemoveFile << 7 << "file-error"
                                << "Complete";
    QTest::newRow("no boot loader") << QStringList { "--fault", "no-bootloader" } << true << true << false << 60
                                    << Hook::OneAttempt << 5 << "connect-failed" << "Complete";
    QTest::newRow("bound passes while switching") << (device + QStringList { "--boot-delay", "2500" }) << true
                                                  << true << false << 2 << Hook::None << 0 << "updated" << "Complete";
    QTest::newRow("Ctrl-C while detecting") << (device + QStringList { "--start-delay", "20000" }) << true << true << false << 0 << Hook::InterruptWhileDetecting
                                            << 130 << "interrupted" << "Detecting AIS";
    // Held over the boot loader's search (one scan), left where the window could be closed.
    QTest::newRow("Ctrl-C while switching")
        << QStringList { "--fault", "no-bootloader" } << true << false << false << 0 << Hook::InterruptWhileSwitching
        << 130 << "interrupted" << "Connecting - retry";
    QTest::newRow("Ctrl-C during the transfer is refused")
        << (device + QStringList { "--link-speed", "11520" }) << true << false << false << 0
        << Hook::InterruptDuringTransfer << 0 << "updated" << "Complete";
}

void tst_BatchRun::endings()
{
    QFETCH(QStringList, simulator);
    QFETCH(bool, withFile);
    QFETCH(bool, json);
    QFETCH(bool, noDriver);
    QFETCH(int, timeout);
    QFETCH(Hook, hook);
    QFETCH(int, exitCode);
    QFETCH(QString, outcome);
    QFETCH(QString, lastLine);

    std::unique_ptr<cSimulator> device;
    if (simulator.isEmpty()) {
        useEmptyPortsFile(m_tmp.path());
    } else {
        device = std::make_unique<cSimulator>(simulator);
        QVERIFY(device->start());
    }

    QBuffer out;
    out.open(QIODevice::WriteOnly);
    const UpdateSource source = withFile ? UpdateSource(m_files, updateName) : UpdateSource(m_empty);
    cBatchRun run({ json, noDriver, timeout }, source, &out);
    cUpdateFlow::Limits limits;
    if (hook == Hook::ShortDetection)
        limits.detectScans = 1;
    if (hook == Hook::OneAttempt)
        limits.attemptsPerSeries = 1;
    if (hook == Hook::InterruptWhileSwitching)
        limits.bootloaderScans = 1;
    run.flow().setLimits(limits);
    int interrupts = 0;
    connect(&run.flow(), &cUpdateFlow::pageChanged, &run, [&](cUpdateFlow::Page page) {
        if (hook == Hook::EmptyFile && page == cUpdateFlow::Page::UpdateRequired)
            QFile::resize(m_files + u'/' + updateName, 0);
        if (hook == Hook::RemoveFile && page == cUpdateFlow::Page::UpdateRequired)
            QFile::remove(m_files + u'/' + updateName);
        if ((hook == Hook::InterruptWhileDetecting && page == cUpdateFlow::Page::Detecting)
            || (hook == Hook::InterruptWhileSwitching && page == cUpdateFlow::Page::Switching)) {
            ++interrupts;
            QTimer::singleShot(0, &run, &cBatchRun::interrupt);
        }
        if (hook == Hook::InterruptDuringTransfer && page == cUpdateFlow::Page::UpdateInProgress) {
            // Twice, as an impatient user would: each is refused and the transfer goes on.
            interrupts += 2;
            QTimer::singleShot(50, &run, &cBatchRun::interrupt);
            QTimer::singleShot(100, &run, &cBatchRun::interrupt);
        }
    });
    QCOMPARE(run.run(), exitCode);
    QCOMPARE(run.outcome(), outcome);
    if (hook == Hook::InterruptWhileDetecting || hook == Hook::InterruptDuringTransfer)
        QVERIFY(interrupts > 0);

    const QByteArray log = readAll(logPath());
    const QStringList logLines = comparable(log);
    QCOMPARE(logLines.last(), lastLine);
    if (hook == Hook::ShortDetection && noDriver)
        QVERIFY(logLines.contains("User retry"));
    if (outcome == QLatin1String("updated"))
        QCOMPARE(readAll(device->imagePath()), padToBlocks(m_update));
    // Said once a run, however often the update takes it up again, and only once it has begun.
    const qsizetype awake = logLines.indexOf(QRegularExpression("^Cannot keep the computer awake - .+"));
    QCOMPARE(logLines.filter(QRegularExpression("^Cannot keep the computer awake - ")).size(),
             qsizetype(logLines.contains("Booting") || logLines.contains("Connecting - connected") ? 1 : 0));
    if (awake >= 0)
        QVERIFY(awake > logLines.indexOf("Detecting AIS - update required"));

    const QList<QByteArray> printed = out.data().split('\n');
    QVERIFY(out.data().endsWith('\n'));
    if (!json) {
        // The update log itself, line by line as it was written.
        QCOMPARE(out.data(), log);
        return;
    }
    QStringList texts;
    int lastPercent = -1;
    for (const QByteArray &line : printed.mid(0, printed.size() - 1)) {
        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, line.constData());
        QVERIFY2(object.contains("time") && object.contains("event"), line.constData());
        const QString event = object.value("event").toString();
        if (event == "log")
            texts << object.value("text").toString();
        else if (event == "progress") {
            // Only changes are told.
            QVERIFY(object.value("percent").toInt() != lastPercent);
            lastPercent = object.value("percent").toInt();
        } else
            QCOMPARE(event, QStringLiteral("result"));
    }
    const QJsonObject result = QJsonDocument::fromJson(printed.at(printed.size() - 2)).object();
    QCOMPARE(result.value("event").toString(), QStringLiteral("result"));
    QCOMPARE(result.value("outcome").toString(), outcome);
    QCOMPARE(result.value("exit").toInt(), exitCode);
    QCOMPARE(comparable(texts.join(u'\n').toUtf8()), logLines);
    if (outcome == QLatin1String("updated"))
        QCOMPARE(lastPercent, 100);
}

// The same device and file, once through the window by clicks and once unattended: the same log.
void tst_BatchRun::sameLogAsTheWindow()
{
    QStringList runs[2];
    for (int unattended = 0; unattended < 2; ++unattended) {
        cSimulator device({ "--new-version", "730400.03.00.01" });
        QVERIFY(device.start());
        QFile::remove(logPath());
        if (unattended) {
            QBuffer out;
            out.open(QIODevice::WriteOnly);
            cBatchRun run({}, UpdateSource(m_files), &out);
            QCOMPARE(run.run(), 0);
        } else {
            Quaymend dialog;
            dialog.flow().setUpdateSource(UpdateSource(m_files));
            dialog.show();
            QVERIFY(clickNext(dialog) && clickNext(dialog));
            QTRY_COMPARE_WITH_TIMEOUT(pageTitle(dialog), QStringLiteral("AIS Class B CS Transceiver found"), 10000);
            QVERIFY(clickNext(dialog));
            QTRY_COMPARE_WITH_TIMEOUT(pageTitle(dialog), QStringLiteral("Update complete"), 30000);
            QVERIFY(clickNext(dialog));
        }
        // How many "U" the boot loader sends before it hears the echo depends on timing alone.
        QStringList lines = comparable(readAll(logPath()));
        lines.erase(std::unique(lines.begin(), lines.end(),
                                [](const QString &a, const QString &b) { return a == b && a == QLatin1String("Rx: U"); }),
                    lines.end());
        runs[unattended] = lines;
    }
    QCOMPARE(runs[1], runs[0]);
}

void tst_BatchRun::processWithoutDisplay_data()
{
    QTest::addColumn<bool>("readerLeaves");
    QTest::addColumn<QByteArray>("ctrlCAt"); // two SIGINTs once this line is out: each refused
    QTest::newRow("output read") << false << QByteArray();
    // As "quaymend --batch | head -n 1" does: the pipe's reader is gone before the transfer.
    QTest::newRow("reader gone early") << true << QByteArray();
    QTest::newRow("Ctrl-C twice while switching") << false << QByteArray("Booting");
    QTest::newRow("Ctrl-C twice mid-transfer") << false << QByteArray("Updating");
}

// As a script starts it: a process of its own with no display and no platform chosen, stderr not
// a terminal. It needs none: no platform plugin is ever loaded.
void tst_BatchRun::processWithoutDisplay()
{
    QFETCH(bool, readerLeaves);
    QFETCH(QByteArray, ctrlCAt);
    cSimulator device({ "--new-version", "730400.03.00.01", "--link-speed", ctrlCAt.isEmpty() ? "11520" : "2000" });
    QVERIFY(device.start());
    QProcess quaymend;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    quaymend.setProcessEnvironment(environment);
    // As from a shell: a broken pipe kills unless the program itself says otherwise (the test
    // runner may have left SIGPIPE ignored, and the child would inherit that).
    quaymend.setChildProcessModifier([] { ::signal(SIGPIPE, SIG_DFL); });
    const QStringList arguments { "--batch", "--json", m_files + u'/' + updateName };
    QByteArray printed;
    if (readerLeaves) {
        // The exit status is the program's (pipefail), 141 if a broken pipe killed it.
        quaymend.start("bash", QStringList { "-c", "set -o pipefail; \"$0\" \"$@\" | head -n 1 >/dev/null" }
                                   + builtCommand(QUAYMEND_EXE_PATH, arguments));
    } else {
        startBuilt(quaymend, QUAYMEND_EXE_PATH, arguments);
        // Under way, confirmed or not: what the process has loaded by then.
        QVERIFY(QTest::qWaitFor([&] {
            printed += quaymend.readAllStandardOutput();
            return printed.contains("\"text\":\"" + (ctrlCAt.isEmpty() ? "Updating" : ctrlCAt) + '"')
                || quaymend.state() == QProcess::NotRunning;
        }, 60000));
        const QByteArray maps = readAll(QStringLiteral("/proc/%1/maps").arg(quaymend.processId()));
        QVERIFY2(maps.contains("libQt6Core"), maps.constData());
        for (const char *plugin : { "/platforms/", "libqxcb", "libqoffscreen", "libqwayland", "libQt6XcbQpa" })
            QVERIFY2(!maps.contains(plugin), plugin);
        const pid_t pid = pid_t(quaymend.processId()); // 0 once ended: kill() would reach this test
        for (int signal = 0; signal < (ctrlCAt.isEmpty() ? 0 : 2); ++signal) {
            QTest::qWait(signal * 300); // two of one kind sent together count once
            QVERIFY(pid > 0 && ::kill(pid, SIGINT) == 0);
        }
    }
    QVERIFY(quaymend.waitForFinished(60000));
    QCOMPARE(quaymend.exitStatus(), QProcess::NormalExit);
    QCOMPARE(quaymend.exitCode(), 0);
    QCOMPARE(quaymend.readAllStandardError().count('\n'), ctrlCAt.isEmpty() ? 0 : 2);
    QCOMPARE(readAll(device.imagePath()), padToBlocks(m_update));
    if (readerLeaves)
        return;
    const QList<QByteArray> lines = (printed + quaymend.readAllStandardOutput()).trimmed().split('\n');
    const QJsonObject result = QJsonDocument::fromJson(lines.last()).object();
    QCOMPARE(result.value("outcome").toString(), QStringLiteral("updated"));
}

void tst_BatchRun::secondSignalEndsAHeldUpRun_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::newRow("kill, kill") << int(SIGTERM) << int(SIGTERM);
    QTest::newRow("kill, Ctrl-C") << int(SIGTERM) << int(SIGINT);
    QTest::newRow("Ctrl-C, Ctrl-C") << int(SIGINT) << int(SIGINT);
}

// A step that holds the GUI thread (here a detection that waits for a port that never answers,
// then for a late reply: about 4 s) leaves the first signal to the event loop, which is not
// there to take it. The second ends the run at once, long before the reply.
void tst_BatchRun::secondSignalEndsAHeldUpRun()
{
    QFETCH(int, first);
    QFETCH(int, second);
    cSimulator device({ "--silent-port", "--reply-delay", "1900" });
    QVERIFY(device.start());
    QProcess quaymend;
    startBuilt(quaymend, QUAYMEND_EXE_PATH, { "--batch", "--json", m_files + u'/' + updateName });
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (!out.contains("Command: ") && clock.elapsed() < 60000) {
        quaymend.waitForReadyRead(100);
        out += quaymend.readAllStandardOutput();
    }
    QVERIFY2(out.contains("Command: "), out.constData());
    // Two signals of one kind sent together count once: the first has to arrive first.
    QCOMPARE(::kill(pid_t(quaymend.processId()), first), 0);
    QTest::qWait(300);
    QCOMPARE(::kill(pid_t(quaymend.processId()), second), 0);
    QVERIFY(quaymend.waitForFinished(10000));
    out += quaymend.readAllStandardOutput();
    QCOMPARE(quaymend.exitStatus(), QProcess::NormalExit);
    QCOMPARE(quaymend.exitCode(), 130);
    QVERIFY2(!out.contains("Response: "), out.constData());
    const QJsonObject result = QJsonDocument::fromJson(out.trimmed().split('\n').last()).object();
    QCOMPARE(result.value("outcome").toString(), QStringLiteral("interrupted"));
    QCOMPARE(result.value("exit").toInt(), 130);
}

QTEST_MAIN(tst_BatchRun)
#include "tst_batchrun.moc"
