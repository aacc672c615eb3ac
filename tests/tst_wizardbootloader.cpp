#include "probe.h"
#include "simulator.h"
#include "wizardharness.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace wizardtest;

// The boot loader that does not show up or does not complete its handshake. The search for its
// port costs no attempt, and the window gets its close button back once a whole search has come up
// empty; each failed handshake costs one attempt of six.
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

// As after a timed-out transfer.
void useTransferFlags(Quaymend &dialog)
{
    dialog.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    dialog.show();
}

} // namespace

void tst_WizardBootloader::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
}

void tst_WizardBootloader::bootCommandRepeatedAfterEmptySearch()
{
    QTemporaryDir files;
    QVERIFY(!writeUpdateFile(files.filePath(QStringLiteral("730400_03_00_01.hex")), 1500).isNull());
    cSimulator simulator({ "--fault", "no-bootloader" });
    QVERIFY(simulator.start());
    Quaymend dialog;
    QuaymendProbe::updateDirectory(dialog) = files.path();
    dialog.show();

    QVERIFY(clickNext(dialog));
    QVERIFY(clickNext(dialog));
    QTRY_COMPARE_WITH_TIMEOUT(pageTitle(dialog), QStringLiteral("AIS Class B CS Transceiver found"), 10000);
    const int announced = wizardLines(dialog).size();
    useTransferFlags(dialog);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(clickNext(dialog));
    QCOMPARE(wizardLines(dialog).mid(announced), QStringList({ "Booting", "Connecting" }));
    QVERIFY(simulator.waitForLog("devsim: boot command received", 2000));

    // 2000 ms, then 100 scans 200 ms apart (coarse timers may fire 5 % early).
    QTRY_COMPARE_WITH_TIMEOUT(countLine(dialog, QStringLiteral("Connecting - retry")), 1, 40000);
    QVERIFY2(clock.elapsed() >= (2000 + 99 * 200) * 95 / 100, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(QuaymendProbe::bootScansLeft(dialog), 0);
    QCOMPARE(QuaymendProbe::updateAttempts(dialog), 6);
    QVERIFY(hasCloseButton(dialog));
    QCOMPARE(pageTitle(dialog), QStringLiteral("Updating AIS device"));

    // 1000 ms later the boot command goes out again and the budget starts again.
    QTRY_COMPARE_WITH_TIMEOUT(wizardLines(dialog).size(), announced + 5, 15000);
    QCOMPARE(wizardLines(dialog).mid(announced),
             QStringList({ "Booting", "Connecting", "Connecting - retry", "Booting", "Connecting" }));
    QCOMPARE(QuaymendProbe::bootScansLeft(dialog), 100);
    QCOMPARE(QuaymendProbe::updateAttempts(dialog), 6);
    // The device is gone: the second boot command found no port to go out on.
    QCOMPARE(simulator.log().count("devsim: boot command received"), 1);
}

void tst_WizardBootloader::noAppSearchGoesOnPastItsBudget()
{
    const QString ports = useEmptyPortsFile(m_tmp.path());
    Quaymend dialog;
    dialog.show();
    // A boot-loader-only device whose update was announced and whose search budget is spent.
    QuaymendProbe::bootLoaderOnly(dialog) = true;
    QuaymendProbe::updateAttempts(dialog) = 6;
    QuaymendProbe::bootScansLeft(dialog) = 0;
    QuaymendProbe::wizardState(dialog) = StateBootloaderConnect;
    useTransferFlags(dialog);
    QVERIFY(clickNext(dialog));
    QCOMPARE(pageTitle(dialog), QStringLiteral("Updating AIS device"));
    QVERIFY(hasCloseButton(dialog));

    QTest::qWait(700);
    QCOMPARE(QuaymendProbe::timerCode(dialog), int(StateBootloaderConnect));
    QCOMPARE(wizardLines(dialog), QStringList({ "Welcome screen" }));

    // The search still runs: a port that appears now is found and tried.
    QFile file(ports);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("/nonexistent/quaymend-boot-port 3E71\n");
    file.close();
    QTRY_COMPARE_WITH_TIMEOUT(countLine(dialog, QStringLiteral("Connecting - retry")), 2, 5000);
    QCOMPARE(countLine(dialog, QStringLiteral("Bootloader port name: /nonexistent/quaymend-boot-port")), 2);
    QCOMPARE(wizardLines(dialog),
             QStringList({ "Welcome screen", "Connecting - retry", "Connecting - retry" }));
    QCOMPARE(QuaymendProbe::updateAttempts(dialog), 4);
    QCOMPARE(QuaymendProbe::timerCode(dialog), int(StateBootloaderConnect));
}

// A boot loader that never completes the handshake: six attempts with a boot command before
// each, the failure page, and a fresh series on Retry. Takes a minute: after the first attempt the
// application port is gone (each boot command waits 5 s for it) and the boot loader stays silent
// (each handshake waits 5 s for it).
void tst_WizardBootloader::sixFailedHandshakes()
{
    QTemporaryDir files;
    QVERIFY(!writeUpdateFile(files.filePath(QStringLiteral("730400_03_00_01.hex")), 1500).isNull());
    cSimulator simulator({ "--fault", "not-c" });
    QVERIFY(simulator.start());
    Quaymend dialog;
    QuaymendProbe::updateDirectory(dialog) = files.path();
    dialog.show();
    auto &ui = QuaymendProbe::ui(dialog);

    QVERIFY(clickNext(dialog));
    QVERIFY(clickNext(dialog));
    QTRY_COMPARE_WITH_TIMEOUT(pageTitle(dialog), QStringLiteral("AIS Class B CS Transceiver found"), 10000);
    const int announced = wizardLines(dialog).size();
    QVERIFY(clickNext(dialog));

    QTRY_COMPARE_WITH_TIMEOUT(pageTitle(dialog), QStringLiteral("Failed to connect for update"), 150000);
    QStringList expected;
    for (int attempt = 1; attempt <= 5; ++attempt)
        expected << "Booting"
                 << "Connecting"
                 << "Connecting - retry";
    expected << "Booting"
             << "Connecting"
             << "Connecting - failed";
    QCOMPARE(wizardLines(dialog).mid(announced), expected);
    QCOMPARE(countLine(dialog, QStringLiteral("Rx: X")), 1);
    QVERIFY(!ui.CopyLogButton->isVisible());
    QVERIFY(ui.RetryButton->isVisible());
    QCOMPARE(ui.NextStepButton->text(), QStringLiteral("Cancel"));
    QVERIFY(!ui.ProgressBar->isVisible());
    QVERIFY(hasCloseButton(dialog));
    QCOMPARE(QuaymendProbe::updateAttempts(dialog), 6);
    QCOMPARE(QuaymendProbe::retryState(dialog), StateBoot);
    QCOMPARE(QuaymendProbe::wizardState(dialog), StateFinished);

    // Retry: the boot command again, then the search, with six attempts to spend.
    QVERIFY(clickRetry(dialog));
    QCOMPARE(wizardLines(dialog).mid(announced + expected.size()),
             QStringList({ "User retry", "Booting", "Connecting" }));
    QVERIFY(!ui.RetryButton->isVisible());
    QCOMPARE(pageTitle(dialog), QStringLiteral("Updating AIS device"));
    QCOMPARE(QuaymendProbe::updateAttempts(dialog), 6);
    QCOMPARE(QuaymendProbe::bootScansLeft(dialog), 100);
    QCOMPARE(QuaymendProbe::timerCode(dialog), int(StateBootloaderConnect));
}

// The application's port stays listed for a while after the boot command, and the first boot
// loader scan takes it (without a USB device to tell them apart). Its vanishing ends the handshake
// at once, and the next attempt sends no boot command to the port that vanished.
void tst_WizardBootloader::applicationLeavesLate()
{
    QTemporaryDir files;
    QVERIFY(!writeUpdateFile(files.filePath(QStringLiteral("730400_03_00_01.hex")), 1500).isNull());
    cSimulator simulator({ "--new-version", "730400.03.00.01", "--teardown-delay", "2600", "--boot-delay", "3500" });
    QVERIFY(simulator.start());
    Quaymend dialog;
    QuaymendProbe::updateDirectory(dialog) = files.path();
    dialog.show();

    QVERIFY(clickNext(dialog));
    QVERIFY(clickNext(dialog));
    QTRY_COMPARE_WITH_TIMEOUT(pageTitle(dialog), QStringLiteral("AIS Class B CS Transceiver found"), 10000);
    const int announced = wizardLines(dialog).size();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(clickNext(dialog));
    QTRY_VERIFY_WITH_TIMEOUT(wizardLines(dialog).contains("Updating"), 30000);
    const qint64 toTransfer = clock.elapsed();
    QCOMPARE(wizardLines(dialog).mid(announced, 6),
             QStringList({ "Booting", "Connecting", "Connecting - retry", "Booting", "Connecting",
                           "Connecting - connected" }));
    // Waiting out the vanished port (5 s) and six failed opens (5 s) would take 14 s.
    QVERIFY2(toTransfer < 9000, qPrintable(QString::number(toTransfer)));
    QCOMPARE(logLines(dialog).filter(QStringLiteral("Boot command: ")).size(), 1);
    QVERIFY(!simulator.log().contains("leaving application got"));
    QTRY_COMPARE_WITH_TIMEOUT(pageTitle(dialog), QStringLiteral("Update complete"), 60000);
}

QTEST_MAIN(tst_WizardBootloader)
#include "tst_wizardbootloader.moc"
