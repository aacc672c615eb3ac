#include "freshprocess.h"
#include "probe.h"
#include "simulator.h"
#include "update/xmodem1ksend.h"
#include "wizardharness.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace wizardtest;

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

bool restarting(Quaymend &dialog)
{
    return pageText(dialog).contains(QLatin1String("Restarting connection..."));
}

// Start, Next, Next: detection of the boot loader, then the update announced and begun.
bool startUpdate(Quaymend &dialog)
{
    if (!clickNext(dialog) || !clickNext(dialog))
        return false;
    if (!QTest::qWaitFor([&] { return pageTitle(dialog) == QLatin1String("AIS Class B Transceiver found"); },
                         10000))
        return false;
    return QuaymendProbe::bootLoaderOnly(dialog) && clickNext(dialog);
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
    Quaymend dialog;
    QuaymendProbe::updateDirectory(dialog) = files.path();
    dialog.show();
    auto &ui = QuaymendProbe::ui(dialog);
    xmodemResponseTimeoutMs = 1000;

    QVERIFY(startUpdate(dialog));
    // Each failed attempt lengthens the response time-out before the next one starts with it.
    // Steps block the GUI thread, so under load a whole restart can pass between two looks;
    // the invariant is checked at every look instead of once per attempt.
    QElapsedTimer clock;
    clock.start();
    int restartsSeen = 0;
    while (pageTitle(dialog) != QLatin1String("Update failed") && clock.elapsed() < 90000) {
        QTest::qWait(20);
        const int retries = int(wizardLines(dialog).count(QStringLiteral("Updating - retry")));
        QVERIFY(retries <= 5);
        QCOMPARE(int(xmodemResponseTimeoutMs), 1000 + retries * 500);
        if (restarting(dialog)) {
            ++restartsSeen;
            QCOMPARE(QuaymendProbe::serialPort(dialog).timeout(), 1000 + (retries - 1) * 500);
            QVERIFY(!hasCloseButton(dialog));
        }
    }
    QVERIFY(restartsSeen > 0);
    QCOMPARE(pageTitle(dialog), QStringLiteral("Update failed"));
    QStringList expected = noAppLines;
    for (int attempt = 1; attempt <= 5; ++attempt)
        expected << "Connecting - connected"
                 << "Updating"
                 << "Updating - retry";
    expected << "Connecting - connected"
             << "Updating"
             << "Updating - failed";
    QCOMPARE(wizardLines(dialog), expected);
    QCOMPARE(int(xmodemResponseTimeoutMs), 3500); // not lengthened for an attempt that never comes
    QVERIFY(ui.CopyLogButton->isVisible());
    QVERIFY(ui.RetryButton->isVisible());
    QCOMPARE(ui.NextStepButton->text(), QStringLiteral("Cancel"));
    QVERIFY(!ui.ProgressBar->isVisible());
    // The transfer flags stay: no close button on this page.
    QVERIFY(!hasCloseButton(dialog));
    QVERIFY(dialog.isVisible());
    QCOMPARE(QuaymendProbe::updateAttempts(dialog), 6);
    QCOMPARE(QuaymendProbe::retryState(dialog), StateBootloaderConnect);

    // Retry: a fresh series of six, again without a boot command.
    QVERIFY(clickRetry(dialog));
    QVERIFY(!ui.CopyLogButton->isVisible());
    QVERIFY(!ui.RetryButton->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(pageTitle(dialog), QStringLiteral("Update failed"), 60000);
    QCOMPARE(wizardLines(dialog).mid(expected.size()),
             QStringList({ "User retry", "Connecting - connected", "Updating", "Updating - retry",
                           "Connecting - connected", "Updating", "Updating - retry", "Connecting - connected",
                           "Updating", "Updating - retry", "Connecting - connected", "Updating",
                           "Updating - retry", "Connecting - connected", "Updating", "Updating - retry",
                           "Connecting - connected", "Updating", "Updating - failed" }));
    QCOMPARE(simulator.log().count("devsim: boot command received"), 0);

    QVERIFY(clickNext(dialog)); // Cancel
    QCOMPARE(wizardLines(dialog).last(), QStringLiteral("Complete"));
    QCOMPARE(dialog.result(), 0);
}

void tst_WizardRetry::handshakesAndTransfersShareTheSeries()
{
    QTemporaryDir files;
    QVERIFY(!writeUpdateFile(files.filePath(updateName), 1500).isNull());
    cSimulator simulator({ "--no-app", "--nak-all" });
    QVERIFY(simulator.start());
    Quaymend dialog;
    QuaymendProbe::updateDirectory(dialog) = files.path();
    dialog.show();

    QVERIFY(clickNext(dialog));
    QVERIFY(clickNext(dialog));
    QTRY_COMPARE_WITH_TIMEOUT(pageTitle(dialog), QStringLiteral("AIS Class B Transceiver found"), 10000);
    // Three failed handshakes have used half of the series.
    QCOMPARE(QuaymendProbe::updateAttempts(dialog), 6);
    QuaymendProbe::updateAttempts(dialog) = 3;
    QVERIFY(clickNext(dialog));

    QTRY_COMPARE_WITH_TIMEOUT(pageTitle(dialog), QStringLiteral("Update failed"), 30000);
    QCOMPARE(wizardLines(dialog).mid(noAppLines.size()),
             QStringList({ "Connecting - connected", "Updating", "Updating - retry", "Connecting - connected",
                           "Updating", "Updating - retry", "Connecting - connected", "Updating",
                           "Updating - failed" }));
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
    Quaymend dialog;
    QuaymendProbe::updateDirectory(dialog) = files.path();
    dialog.show();
    auto &ui = QuaymendProbe::ui(dialog);

    QVERIFY(startUpdate(dialog));
    QTRY_VERIFY_WITH_TIMEOUT(restarting(dialog), 15000);
    cXmodem1KSend *const thread = QuaymendProbe::transferThread(dialog);
    QVERIFY(thread);
    const std::string sentFile = thread->fileName;
    QCOMPARE(QString::fromStdString(sentFile), files.filePath(updateName));
    // A later choice of file does not change the transfer under way.
    QuaymendProbe::updateFileName(dialog) = QStringLiteral("730400_99_99_99.hex");

    QTRY_COMPARE_WITH_TIMEOUT(pageTitle(dialog), QStringLiteral("Update complete"), 30000);
    QCOMPARE(wizardLines(dialog).mid(noAppLines.size()),
             QStringList({ "Connecting - connected", "Updating", "Updating - retry", "Connecting - connected",
                           "Updating", "Updating - retry", "Connecting - connected", "Updating",
                           "Updating - complete", "Confirming", "Confirming - confirmed 730400.03.00.01" }));
    QCOMPARE(QuaymendProbe::transferThread(dialog), thread);
    QCOMPARE(thread->fileName, sentFile);
    QVERIFY(hasCloseButton(dialog));
    QVERIFY(hasMinimiseButton(dialog));
    QCOMPARE(ui.ProgressBar->value(), 100);
    QVERIFY(simulator.waitForLog("devsim: image written", 5000));
    QFile image(simulator.imagePath());
    QVERIFY(image.open(QIODevice::ReadOnly));
    QCOMPARE(image.readAll(), padToBlocks(content));
}

QTEST_MAIN(tst_WizardRetry)
#include "tst_wizardretry.moc"
