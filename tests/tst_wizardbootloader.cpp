#include "flowwatch.h"
#include "simulator.h"
#include "wizardharness.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace wizardtest;
using Page = cUpdateFlow::Page;

// The boot loader that does not show up or does not complete its handshake. The search for its
// port costs no attempt, and the run may be left once a whole search has come up empty; each
// failed handshake costs one attempt of six, and as many boot commands in a row without a boot
// loader end the series too.
class tst_WizardBootloader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void bootCommandRepeatedAfterEmptySearch();
    void noAppSearchGoesOnPastItsBudget();
    void sixFailedHandshakes();
    void applicationLeavesLate();

private:
    QTemporaryDir m_tmp;
};

namespace {

const QString updateName = QStringLiteral("730400_03_00_01.hex");

// Start, Next, and detection up to the update's announcement.
bool announce(cFlowWatch &watch)
{
    watch.flow.start();
    return watch.next() && watch.next() && watch.waitFor(Page::UpdateRequired, 10000);
}

} // namespace

void tst_WizardBootloader::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
    QVERIFY(!writeUpdateFile(m_tmp.filePath(updateName), 1500).isNull());
}

void tst_WizardBootloader::bootCommandRepeatedAfterEmptySearch()
{
    cSimulator simulator({ "--fault", "no-bootloader" });
    QVERIFY(simulator.start());
    cUpdateFlow flow;
    flow.setUpdateSource(UpdateSource(m_tmp.path(), updateName));
    flow.setLimits({ 600, 100, 2 }); // a series of two
    cFlowWatch watch(flow);

    QVERIFY(announce(watch));
    const int announced = watch.ownLines().size();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(watch.next());
    QCOMPARE(watch.ownLines().mid(announced), QStringList({ "Booting", "Connecting" }));
    QVERIFY(!watch.closable);
    QVERIFY(simulator.waitForLog("devsim: boot command received", 2000));

    // 2000 ms, then 100 scans 200 ms apart (coarse timers may fire 5 % early).
    QTRY_COMPARE_WITH_TIMEOUT(watch.ownLines().count(QStringLiteral("Connecting - retry")), 1, 40000);
    QVERIFY2(clock.elapsed() >= (2000 + 99 * 200) * 95 / 100, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(watch.lines().filter(QStringLiteral("Bootloader port name: ")).size(), 0);
    QVERIFY(watch.closable && watch.closeButton);
    QCOMPARE(watch.page(), Page::Connecting);

    // 1000 ms later the boot command goes out again and the budget starts again.
    QTRY_COMPARE_WITH_TIMEOUT(watch.ownLines().size(), announced + 5, 15000);
    QCOMPARE(watch.ownLines().mid(announced),
             QStringList({ "Booting", "Connecting", "Connecting - retry", "Booting", "Connecting" }));
    QVERIFY(!watch.closable);
    // The device is gone: the second boot command found no port to go out on.
    QCOMPARE(simulator.log().count("devsim: boot command received"), 1);
    QVERIFY(watch.waitFor(Page::ConnectFailed, 40000));
    QCOMPARE(watch.ownLines().mid(announced + 5), QStringList { "Connecting - failed" });
}

void tst_WizardBootloader::noAppSearchGoesOnPastItsBudget()
{
    cSimulator simulator({ "--no-app" });
    QVERIFY(simulator.start());
    cUpdateFlow flow;
    flow.setUpdateSource(UpdateSource(m_tmp.path(), updateName));
    cUpdateFlow::Limits limits;
    limits.bootloaderScans = 2;
    flow.setLimits(limits);
    cFlowWatch watch(flow);
    QVERIFY(announce(watch));
    QVERIFY(watch.facts.device.bootLoaderOnly);

    // The boot loader's port is gone before the search: the budget is spent, the run may be left,
    // and the search still goes on.
    const QString ports = useEmptyPortsFile(m_tmp.path());
    QVERIFY(watch.next());
    QCOMPARE(watch.page(), Page::Connecting);
    QTRY_VERIFY_WITH_TIMEOUT(watch.closable && watch.closeButton, 2000);
    QTest::qWait(700);
    QCOMPARE(watch.ownLines().mid(5), QStringList());
    QCOMPARE(watch.page(), Page::Connecting);

    // A port that appears now is found and tried; each failed handshake costs an attempt.
    QFile file(ports);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("/nonexistent/quaymend-boot-port 3E71\n");
    file.close();
    QTRY_COMPARE_WITH_TIMEOUT(watch.ownLines().count(QStringLiteral("Connecting - retry")), 2, 5000);
    QCOMPARE(watch.lines().count(QStringLiteral("Bootloader port name: /nonexistent/quaymend-boot-port")), 2);
    QCOMPARE(watch.ownLines().mid(5), QStringList({ "Connecting - retry", "Connecting - retry" }));
    QCOMPARE(watch.page(), Page::Connecting);
    QCOMPARE(simulator.log().count("devsim: boot command received"), 0);
}

// A boot loader that never completes the handshake: six attempts with a boot command before
// each, the failure page, and a fresh series on Retry. Takes a minute: after the first attempt the
// application port is gone (each boot command waits 5 s for it) and the boot loader stays silent
// (each handshake waits 5 s for it).
void tst_WizardBootloader::sixFailedHandshakes()
{
    cSimulator simulator({ "--fault", "not-c" });
    QVERIFY(simulator.start());
    cUpdateFlow flow;
    flow.setUpdateSource(UpdateSource(m_tmp.path(), updateName));
    cFlowWatch watch(flow);

    QVERIFY(announce(watch));
    const int announced = watch.ownLines().size();
    QVERIFY(watch.next());

    QVERIFY(watch.waitFor(Page::ConnectFailed, 150000));
    QStringList expected;
    for (int attempt = 1; attempt <= 5; ++attempt)
        expected << "Booting"
                 << "Connecting"
                 << "Connecting - retry";
    expected << "Booting"
             << "Connecting"
             << "Connecting - failed";
    QCOMPARE(watch.ownLines().mid(announced), expected);
    QCOMPARE(watch.lines().count(QStringLiteral("Rx: X")), 1);
    QCOMPARE(watch.endings, QList<cUpdateFlow::Ending> { cUpdateFlow::Ending::ConnectFailed });
    QCOMPARE(flow.runRecord().attemptsUsed, 6);
    QCOMPARE(watch.progress, cUpdateFlow::Progress::Hidden);
    QVERIFY(watch.closable && watch.closeButton);

    // Retry: the boot command again, then the search, with six attempts to spend.
    QVERIFY(watch.retry());
    QCOMPARE(watch.ownLines().mid(announced + expected.size()),
             QStringList({ "User retry", "Booting", "Connecting" }));
    QCOMPARE(watch.page(), Page::Switching);
    QVERIFY(!watch.closable);
}

// The application's port stays listed for a while after the boot command, and the first boot
// loader scan takes it (without a USB device to tell them apart). Its vanishing ends the handshake
// at once, and the next attempt sends no boot command to the port that vanished.
void tst_WizardBootloader::applicationLeavesLate()
{
    cSimulator simulator({ "--new-version", "730400.03.00.01", "--teardown-delay", "2600", "--boot-delay", "1000" });
    QVERIFY(simulator.start());
    cUpdateFlow flow;
    flow.setUpdateSource(UpdateSource(m_tmp.path(), updateName));
    cFlowWatch watch(flow);

    QVERIFY(announce(watch));
    const int announced = watch.ownLines().size();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(watch.next());
    QTRY_VERIFY_WITH_TIMEOUT(watch.ownLines().contains("Updating"), 30000);
    const qint64 toTransfer = clock.elapsed();
    QCOMPARE(watch.ownLines().mid(announced, 6),
             QStringList({ "Booting", "Connecting", "Connecting - retry", "Booting", "Connecting",
                           "Connecting - connected" }));
    // Waiting out the vanished port (5 s) and six failed opens (5 s) would take 14 s.
    QVERIFY2(toTransfer < 9000, qPrintable(QString::number(toTransfer)));
    QCOMPARE(watch.lines().filter(QStringLiteral("Boot command: ")).size(), 1);
    QVERIFY(!simulator.log().contains("leaving application got"));
    QVERIFY(watch.waitFor(Page::UpdateComplete, 60000));
}

QTEST_GUILESS_MAIN(tst_WizardBootloader)
#include "tst_wizardbootloader.moc"
