#include "flowwatch.h"
#include "freshprocess.h"
#include "simulator.h"
#include "update/xmodem1ksend.h"
#include "wizardharness.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace wizardtest;
using Page = cUpdateFlow::Page;

// Automatic and user retries of the transfer, on a device that sits in its boot loader (it
// answers NOAPP): every new attempt goes straight back to the boot-loader search.
class tst_WizardRetry : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void timeoutsUseUpTheSeries();
    void handshakesAndTransfersShareTheSeries();
    void laterAttemptReusesTheTransfer();

private:
    QTemporaryDir m_tmp;
};

namespace {

const QString updateName = QStringLiteral("730400_03_00_01.hex");
const QStringList noAppLines = { "Welcome screen", "Connect", "Detecting AIS", "Detecting AIS - found",
                                 "Detecting AIS - update required" };

// Start, Next, Next: detection of the boot loader, then the update announced and begun.
bool startUpdate(cFlowWatch &watch)
{
    watch.flow.start();
    if (!watch.next() || !watch.next() || !watch.waitFor(Page::UpdateRequired, 10000))
        return false;
    return watch.facts.device.bootLoaderOnly && watch.next();
}

// attempts times "Connecting - connected", "Updating", "Updating - retry", the last one failed.
QStringList failedTransfers(int attempts)
{
    QStringList lines;
    for (int attempt = 1; attempt <= attempts; ++attempt)
        lines << "Connecting - connected"
              << "Updating" << (attempt < attempts ? "Updating - retry" : "Updating - failed");
    return lines;
}

} // namespace

void tst_WizardRetry::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
}

void tst_WizardRetry::timeoutsUseUpTheSeries()
{
    if (!inFreshProcess())
        return;
    QTemporaryDir files;
    QVERIFY(!writeUpdateFile(files.filePath(updateName), 1500).isNull());
    cSimulator simulator({ "--no-app", "--nak-all" });
    QVERIFY(simulator.start());
    cUpdateFlow flow;
    flow.setUpdateSource(UpdateSource(files.path()));
    cFlowWatch watch(flow);
    xmodemResponseTimeoutMs = 1000;

    QVERIFY(startUpdate(watch));
    // Each failed attempt lengthens the response time-out before the next one starts with it.
    // Steps block the thread, so under load a whole restart can pass between two looks; the
    // invariant is checked at every look instead of once per attempt.
    QElapsedTimer clock;
    clock.start();
    int restartsSeen = 0;
    while (watch.page() != Page::UpdateFailed && clock.elapsed() < 90000) {
        QTest::qWait(20);
        const int retries = int(watch.ownLines().count(QStringLiteral("Updating - retry")));
        QVERIFY(retries <= 5);
        QCOMPARE(int(xmodemResponseTimeoutMs), 1000 + retries * 500);
        if (watch.page() == Page::Restarting) {
            ++restartsSeen;
            QVERIFY(!watch.closable);
        }
    }
    QVERIFY(restartsSeen > 0);
    QCOMPARE(watch.page(), Page::UpdateFailed);
    QCOMPARE(watch.ownLines(), noAppLines + failedTransfers(6));
    QCOMPARE(int(xmodemResponseTimeoutMs), 3500); // not lengthened for an attempt that never comes
    QCOMPARE(watch.progress, cUpdateFlow::Progress::Hidden);
    // Closing works again, yet the transfer's title bar stays.
    QVERIFY(watch.closable && !watch.closeButton);

    // Retry: a fresh series of six, again without a boot command.
    QVERIFY(watch.retry());
    QVERIFY(!watch.retry());
    QTRY_COMPARE_WITH_TIMEOUT(watch.endings.size(), 2, 60000);
    QCOMPARE(watch.page(), Page::UpdateFailed);
    QCOMPARE(watch.ownLines().mid(noAppLines.size() + 18), QStringList { "User retry" } + failedTransfers(6));
    QCOMPARE(simulator.log().count("devsim: boot command received"), 0);

    QVERIFY(watch.next()); // Cancel
    QCOMPARE(watch.ownLines().last(), QStringLiteral("Complete"));
    QCOMPARE(watch.result, 0);
}

void tst_WizardRetry::handshakesAndTransfersShareTheSeries()
{
    QTemporaryDir files;
    QVERIFY(!writeUpdateFile(files.filePath(updateName), 1500).isNull());
    // Three failed handshakes use half of the series.
    cSimulator simulator({ "--no-app", "--nak-all", "--bad-handshakes", "3" });
    QVERIFY(simulator.start());
    cUpdateFlow flow;
    flow.setUpdateSource(UpdateSource(files.path()));
    cFlowWatch watch(flow);

    QVERIFY(startUpdate(watch));
    QVERIFY(watch.waitFor(Page::UpdateFailed, 60000));
    QCOMPARE(watch.ownLines().mid(noAppLines.size()),
             QStringList({ "Connecting - retry", "Connecting - retry", "Connecting - retry" }) + failedTransfers(3));
}

void tst_WizardRetry::laterAttemptReusesTheTransfer()
{
    if (!inFreshProcess())
        return;
    QTemporaryDir files;
    const QByteArray content = writeUpdateFile(files.filePath(updateName), 2500);
    QVERIFY(!content.isNull());
    // A fresh sender gives up on a block after 5 NAKs: two attempts fail, the third goes through.
    cSimulator simulator({ "--no-app", "--nak-block", "1:10", "--new-version", "730400.03.00.01" });
    QVERIFY(simulator.start());
    cUpdateFlow flow;
    flow.setUpdateSource(UpdateSource(files.path()));
    cFlowWatch watch(flow);

    QVERIFY(startUpdate(watch));
    QVERIFY(watch.waitFor(Page::Restarting, 15000));
    // A newer file that comes along meanwhile does not change the update under way.
    QVERIFY(!writeUpdateFile(files.filePath(QStringLiteral("730400_99_99_99.hex")), 1000).isNull());

    QVERIFY(watch.waitFor(Page::UpdateComplete, 30000));
    QCOMPARE(watch.ownLines().mid(noAppLines.size()),
             QStringList({ "Connecting - connected", "Updating", "Updating - retry", "Connecting - connected",
                           "Updating", "Updating - retry", "Connecting - connected", "Updating",
                           "Updating - complete", "Confirming", "Confirming - confirmed 730400.03.00.01" }));
    QCOMPARE(flow.runRecord().attemptsUsed, 3);
    QVERIFY(watch.closable && watch.closeButton);
    QCOMPARE(watch.percents.last(), 100);
    QVERIFY(simulator.waitForLog("devsim: image written", 5000));
    QFile image(simulator.imagePath());
    QVERIFY(image.open(QIODevice::ReadOnly));
    QCOMPARE(image.readAll(), padToBlocks(content));
}

QTEST_GUILESS_MAIN(tst_WizardRetry)
#include "tst_wizardretry.moc"
