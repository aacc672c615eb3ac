#include "app/batchrun.h"
#include "fakelogind.h"
#include "flowwatch.h"
#include "simulator.h"
#include "wizardharness.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace wizardtest;
using Page = cUpdateFlow::Page;
using Ending = cUpdateFlow::Ending;

namespace {

const QString updateName = QStringLiteral("730400_03_00_01.hex");
const QString oldVersion = QStringLiteral("730400.03.00.00");
const QString newVersion = QStringLiteral("730400.03.00.01");

enum class Hook { None, InterruptWhileConnecting };

// What the inhibitor looked like when the flow wrote each of its lines.
struct InhibitorTrace
{
    QMap<QString, int> heldAt; // the last time each line was written
    int refusedCancels = 0;
    int cancels = 0;
};

// Follows the flow's lines: notes the inhibitor at each, and asks to leave the run at the lines
// where it must go on.
void traceLine(cUpdateFlow *flow, const cFakeLogind &logind, InhibitorTrace &trace, const QByteArray &text)
{
    trace.heldAt[QString::fromUtf8(text)] = logind.held();
    if (text != "Connecting" && text != "Updating" && text != "Confirming")
        return;
    QTimer::singleShot(0, flow, [flow, &trace] {
        ++trace.cancels;
        if (!flow->cancel())
            ++trace.refusedCancels;
    });
}

} // namespace

Q_DECLARE_METATYPE(Hook)
Q_DECLARE_METATYPE(Page)
Q_DECLARE_METATYPE(Ending)

// How an update ends once the file is sent: the device's own answer decides, in the flow alone and
// unattended alike. Over the whole update the computer is kept awake and the run cannot be left.
class tst_Confirm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void endings_data();
    void endings();

private:
    QTemporaryDir m_tmp;
    QString m_files;
    QByteArray m_update;
    cFakeLogind m_logind;
};

void tst_Confirm::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
    m_files = m_tmp.path() + QStringLiteral("/files");
    QVERIFY(QDir().mkpath(m_files));
    m_update = writeUpdateFile(m_files + u'/' + updateName, 3 * 1024 + 100);
    QString why;
    QVERIFY2(m_logind.start(why), qPrintable(why));
}

void tst_Confirm::endings_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<bool>("confirm");     // false: --no-confirm
    QTest::addColumn<int>("boundMs");      // how long the device has to answer
    QTest::addColumn<bool>("alone");       // also run the flow alone
    QTest::addColumn<int>("timeout");      // the batch run's --timeout; 0: none
    QTest::addColumn<Hook>("hook");
    QTest::addColumn<Page>("page");        // the page the flow ends on
    QTest::addColumn<Ending>("ending");
    QTest::addColumn<QStringList>("lastLines"); // the flow's lines from the end of the transfer on
    QTest::addColumn<Page>("afterRetry"); // the page Retry leads to; Welcome: no Retry
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outcome");

    const QStringList sent { "Updating - complete", "Confirming" };
    const QStringList restarts { "--new-version", newVersion };
    const QStringList noRestart { "--new-version", newVersion, "--no-restart" };

    QTest::newRow("restarts with the new version")
        << restarts << true << 20000 << true << 0 << Hook::None << Page::UpdateComplete << Ending::Updated
        << (sent + QStringList { "Confirming - confirmed 730400.03.00.01" }) << Page::Welcome << 0 << "updated";
    QTest::newRow("started in its boot loader, restarts with the new version")
        << (restarts + QStringList { "--no-app" }) << true << 20000 << true << 0 << Hook::None << Page::UpdateComplete
        << Ending::Updated << (sent + QStringList { "Confirming - confirmed 730400.03.00.01" }) << Page::Welcome << 0
        << "updated";
    QTest::newRow("rejects the image, restarts with the old version")
        << QStringList() << true << 20000 << true << 0 << Hook::None << Page::NotConfirmed << Ending::NotConfirmed
        << (sent + QStringList { "Confirming - device reports 730400.03.00.00, expected 730400.03.00.01" })
        << Page::UpdateRequired << 8 << "not-confirmed";
    QTest::newRow("stays in its boot loader")
        << noRestart << true << 3000 << true << 0 << Hook::None << Page::NoConfirmation << Ending::NoAnswer
        << (sent + QStringList { "Confirming - no answer" }) << Page::NoConfirmation << 8 << "not-confirmed";
    QTest::newRow("not asked")
        << noRestart << false << 3000 << false << 0 << Hook::None << Page::UpdateComplete << Ending::Sent
        << QStringList { "Updating - complete" } << Page::Welcome << 0 << "sent";
    // The window cannot be closed until the device has answered or the wait is over: nor is the run left.
    QTest::newRow("time bound waits for the device's word")
        << noRestart << true << 3000 << false << 2 << Hook::None << Page::Welcome << Ending::Updated
        << (sent + QStringList { "Confirming - no answer" }) << Page::Welcome << 8 << "not-confirmed";
    QTest::newRow("Ctrl-C while connecting waits for the update's end")
        << (restarts + QStringList { "--boot-delay", "1500" }) << true << 20000 << false << 0
        << Hook::InterruptWhileConnecting << Page::Welcome << Ending::Updated
        << QStringList { "Confirming - confirmed 730400.03.00.01" } << Page::Welcome << 0 << "updated";
}

void tst_Confirm::endings()
{
    QFETCH(QStringList, simulator);
    QFETCH(bool, confirm);
    QFETCH(int, boundMs);
    QFETCH(bool, alone);
    QFETCH(int, timeout);
    QFETCH(Hook, hook);
    QFETCH(Page, page);
    QFETCH(Ending, ending);
    QFETCH(QStringList, lastLines);
    QFETCH(Page, afterRetry);
    QFETCH(int, exitCode);
    QFETCH(QString, outcome);

    const int inhibitorsBefore = int(m_logind.calls().size());
    const QStringList heldLines { "Connecting - connected", "Updating" };
    cUpdateFlow::Limits limits;
    limits.confirmWaitMs = boundMs;

    if (alone) {
        cSimulator device(simulator);
        QVERIFY(device.start());
        cUpdateFlow flow;
        flow.setUpdateSource(UpdateSource(m_files));
        flow.setLimits(limits);
        flow.setConfirmUpdate(confirm);
        cFlowWatch watch(flow);
        InhibitorTrace trace;
        connect(&flow, &cUpdateFlow::lineLogged, &flow, [&](const QDateTime &, const QString &, const QByteArray &text) {
            traceLine(&flow, m_logind, trace, text);
        });
        flow.start();
        QVERIFY(watch.next() && watch.next());
        QVERIFY(watch.waitFor(Page::UpdateRequired, 15000));
        QVERIFY(watch.next());
        QVERIFY2(watch.waitFor(page, 30000 + boundMs), qPrintable(watch.lines().join('\n')));
        QCOMPARE(watch.endings, QList<Ending> { ending });

        QCOMPARE(watch.ownLines().mid(watch.ownLines().indexOf(lastLines.first())), lastLines);
        QCOMPARE(readFile(device.imagePath()), padToBlocks(m_update));
        // The record names the file that was sent, before the transfer began.
        const QString record = QStringLiteral("Update file: %1, %2 bytes, SHA-256 %3")
                                   .arg(updateName)
                                   .arg(m_update.size())
                                   .arg(QString::fromLatin1(QCryptographicHash::hash(m_update, QCryptographicHash::Sha256).toHex()));
        QVERIFY(watch.lines().indexOf(record) >= 0);
        QVERIFY(watch.lines().indexOf(record) < watch.lines().indexOf("Updating"));

        // Held from the boot command (or the boot loader's port) to the end of the confirmation, and
        // every request to leave the run meanwhile refused.
        for (const QString &line : heldLines + (confirm ? QStringList { "Confirming" } : QStringList()))
            QVERIFY2(trace.heldAt.value(line) == 1, qPrintable(line));
        QCOMPARE(trace.heldAt.value("Detecting AIS - update required"), 0);
        QCOMPARE(trace.heldAt.value(lastLines.last()), 0);
        QCOMPARE(m_logind.held(), 0);
        QVERIFY(trace.cancels >= 2);
        QCOMPARE(trace.refusedCancels, trace.cancels);
        QCOMPARE(m_logind.calls().value(inhibitorsBefore), QStringLiteral("sleep:idle:handle-lid-switch|Quaymend|block"));
        QVERIFY(watch.closable && watch.closeButton);

        if (afterRetry != Page::Welcome) {
            QVERIFY(watch.retry());
            QVERIFY2(watch.waitFor(afterRetry, 30000 + boundMs), qPrintable(watch.lines().join('\n')));
            QCOMPARE(m_logind.held(), 0);
        } else {
            QVERIFY(!watch.retry());
        }
        if (afterRetry == Page::Welcome || afterRetry == page) {
            QVERIFY(watch.next());
            QCOMPARE(watch.ownLines().last(), QStringLiteral("Complete"));
            QCOMPARE(watch.result, 0);
        }
    }

    // The same ending unattended.
    const int inhibitorsBeforeBatch = int(m_logind.calls().size());
    cSimulator device(simulator);
    QVERIFY(device.start());
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    {
        cBatchRun::Options options;
        options.json = true;
        options.noConfirm = !confirm;
        options.timeoutSeconds = timeout;
        cBatchRun run(options, UpdateSource(m_files, updateName), &out);
        run.flow().setLimits(limits);
        connect(&run.flow(), &cUpdateFlow::pageChanged, &run, [&](Page shown) {
            if (hook == Hook::InterruptWhileConnecting && shown == Page::Switching)
                QTimer::singleShot(0, &run, &cBatchRun::interrupt);
        });
        QCOMPARE(run.run(), exitCode);
        QCOMPARE(run.outcome(), outcome);
    }
    // Every ending lets go, the program's own end included.
    QCOMPARE(m_logind.held(), 0);
    QVERIFY(m_logind.calls().size() > inhibitorsBeforeBatch);

    const QList<QByteArray> printed = out.data().trimmed().split('\n');
    QStringList texts;
    for (const QByteArray &line : printed) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (object.value("event") == QLatin1String("log"))
            texts << object.value("text").toString();
    }
    // The run presses the last page's button as a user would.
    const QStringList expected = lastLines + QStringList { "Complete" };
    const QStringList own = ownLinesOf(texts);
    QCOMPARE(own.mid(own.size() - expected.size()), expected);

    const QJsonObject result = QJsonDocument::fromJson(printed.last()).object();
    QCOMPARE(result.value("outcome").toString(), outcome);
    QCOMPARE(result.value("exit").toInt(), exitCode);
    QCOMPARE(result.value("versionBefore").toString(),
             simulator.contains("--no-app") ? QStringLiteral("NOAPP") : oldVersion);
    QCOMPARE(result.value("device").toString(),
             simulator.contains("--no-app") ? QStringLiteral("AIS Class B Transceiver")
                                            : QStringLiteral("AIS Class B CS Transceiver"));
    QCOMPARE(result.value("versionAfter").toString(), outcome == QLatin1String("updated") ? newVersion : QString());
    QVERIFY(result.value("seconds").toDouble() > 0);
    if (hook == Hook::None) {
        const QJsonObject file = result.value("updateFile").toObject();
        QCOMPARE(file.value("path").toString(), m_files + u'/' + updateName);
        QCOMPARE(file.value("size").toInt(), m_update.size());
        QCOMPARE(file.value("sha256").toString(),
                 QString::fromLatin1(QCryptographicHash::hash(m_update, QCryptographicHash::Sha256).toHex()));
        QCOMPARE(result.value("attempts").toInt(), 1);
        QCOMPARE(readFile(device.imagePath()), padToBlocks(m_update));
    }
}

QTEST_GUILESS_MAIN(tst_Confirm)
#include "tst_confirm.moc"
