#include "probe.h"
#include "simulator.h"
#include "wizardharness.h"

#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace wizardtest;

// A boot loader that never completes the handshake: six attempts with a boot command before
// each, the failure page, and a fresh series on Retry. Takes a minute: after the first attempt the
// application port is gone (each boot command waits 5 s for it) and the boot loader stays silent
// (each handshake waits 5 s for it).
class tst_WizardHandshake : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sixFailedHandshakes();

private:
    QTemporaryDir m_tmp;
};

void tst_WizardHandshake::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
}

void tst_WizardHandshake::sixFailedHandshakes()
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

QTEST_MAIN(tst_WizardHandshake)
#include "tst_wizardhandshake.moc"
