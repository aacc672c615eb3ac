#include "probe.h"
#include "simulator.h"
#include "wizardharness.h"

#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace wizardtest;

// One run against the simulated device: what detection concludes, the whole road of an update,
// and the transfers that end without data on the device.
class tst_WizardUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void detection_data();
    void detection();
    void update();
    void transferEndsWithoutRetry_data();
    void transferEndsWithoutRetry();

private:
    QTemporaryDir m_tmp;
};

namespace {

const QString deviceVersion = QStringLiteral("730400.03.00.00");

// Start on the Welcome page, Next on the connect page; true when the device was identified.
bool detect(Quaymend &dialog, const QString &title)
{
    if (!clickNext(dialog) || pageTitle(dialog) != QLatin1String("Connect your AIS device")
        || !clickNext(dialog))
        return false;
    return QTest::qWaitFor([&] { return pageTitle(dialog) == title; }, 10000);
}

} // namespace

void tst_WizardUpdate::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
}

void tst_WizardUpdate::detection_data()
{
    QTest::addColumn<QStringList>("simulatorArgs");
    QTest::addColumn<QString>("updateFile"); // empty: none
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("versionLine");
    QTest::addColumn<QString>("outcomeLine");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("nextLabel");

    QTest::newRow("update required")
        << QStringList() << "730400_03_00_01.hex"
        << "AIS Class B CS Transceiver found" << deviceVersion << "730400.03.00.01"
        << "Detecting AIS - update required"
        << "Current version: 730400.03.00.00.\nUpdate version: 730400.03.00.01.\n"
           "The connected AIS device will be updated."
        << "Next...";
    QTest::newRow("up to date") << QStringList { "--version", "750400.01.00.00" } << "750400_01_00_00.img"
                                << "AIS Class B SO Transceiver found"
                                << "750400.01.00.00"
                                << "750400.01.00.00"
                                << "Detecting AIS - up-to-date"
                                << "Current version: 750400.01.00.00.\nUpdate version: 750400.01.00.00.\n"
                                   "Current version is up to date."
                                << "Close";
    // A file for the other device type does not count; the version line is then empty.
    QTest::newRow("no update file")
        << QStringList() << "750400_09_00_00.hex"
        << "AIS Class B CS Transceiver found" << deviceVersion << ""
        << "Detecting AIS - No update file"
        << "No update available for this device. Contact your supplier for support."
        << "Close";
}

void tst_WizardUpdate::detection()
{
    QFETCH(QStringList, simulatorArgs);
    QFETCH(QString, updateFile);
    QFETCH(QString, title);
    QFETCH(QString, reply);
    QFETCH(QString, versionLine);
    QFETCH(QString, outcomeLine);
    QFETCH(QString, shown);
    QFETCH(QString, nextLabel);

    QTemporaryDir files;
    QVERIFY(!writeUpdateFile(files.filePath(updateFile), 1500).isNull());
    cSimulator simulator(simulatorArgs);
    QVERIFY(simulator.start());
    Quaymend dialog;
    QuaymendProbe::updateDirectory(dialog) = files.path();
    dialog.show();
    auto &ui = QuaymendProbe::ui(dialog);

    QVERIFY(detect(dialog, title));
    QCOMPARE(wizardLines(dialog, { reply, versionLine }),
             QStringList({ "Welcome screen", "Connect", "Detecting AIS", "Detecting AIS - found", reply,
                           versionLine, outcomeLine }));
    QVERIFY2(pageText(dialog).contains(shown), qPrintable(pageText(dialog)));
    QCOMPARE(ui.NextStepButton->text(), nextLabel);
    QVERIFY(!ui.RetryButton->isVisible());
    QVERIFY(!ui.CopyLogButton->isVisible());
    QVERIFY(!ui.ProgressBar->isVisible());
    // No timer may be pending: the page waits for the user.
    const int logged = logLines(dialog).size();
    QTest::qWait(300);
    QCOMPARE(logLines(dialog).size(), logged);

    if (nextLabel == QLatin1String("Close")) {
        QVERIFY(clickNext(dialog));
        QCOMPARE(wizardLines(dialog).last(), QStringLiteral("Complete"));
        QCOMPARE(dialog.result(), 0);
        QVERIFY(!dialog.isVisible());
    } else {
        QCOMPARE(QuaymendProbe::updateAttempts(dialog), 6);
        QCOMPARE(QuaymendProbe::wizardState(dialog), StateBoot);
    }
}

void tst_WizardUpdate::update()
{
    QTemporaryDir files;
    const QByteArray content = writeUpdateFile(files.filePath(QStringLiteral("730400_03_00_01.hex")), 2500);
    // Flashing slows the transfer down enough to look at the window while it runs.
    cSimulator simulator({ "--flash-ms", "300", "--new-version", "730400.03.00.01" });
    QVERIFY(simulator.start());
    Quaymend dialog;
    QuaymendProbe::updateDirectory(dialog) = files.path();
    dialog.show();
    auto &ui = QuaymendProbe::ui(dialog);

    QVERIFY(detect(dialog, QStringLiteral("AIS Class B CS Transceiver found")));
    QVERIFY(clickNext(dialog));
    QCOMPARE(pageTitle(dialog), QStringLiteral("Updating AIS device"));
    QCOMPARE(QuaymendProbe::bootScansLeft(dialog), 100);
    QVERIFY(ui.ProgressBar->isVisible());
    QVERIFY(!ui.NextStepButton->isVisible());

    QTRY_VERIFY_WITH_TIMEOUT(pageText(dialog).contains(QLatin1String("Update in progress...")), 15000);
    QVERIFY(pageText(dialog).contains(QLatin1String("IMPORTANT: Do not terminate Quaymend")));
    QVERIFY(!hasCloseButton(dialog));
    QVERIFY(!hasMinimiseButton(dialog));
    QVERIFY(dialog.isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(ui.ProgressBar->value() > 0 && ui.ProgressBar->value() < 100, 5000);
    cXmodem1KSend *const thread = QuaymendProbe::transferThread(dialog);
    QVERIFY(thread);

    QTRY_COMPARE_WITH_TIMEOUT(pageTitle(dialog), QStringLiteral("Update complete"), 20000);
    QCOMPARE(wizardLines(dialog, { deviceVersion, "730400.03.00.01" }),
             QStringList({ "Welcome screen", "Connect", "Detecting AIS", "Detecting AIS - found",
                           deviceVersion, "730400.03.00.01", "Detecting AIS - update required", "Booting",
                           "Connecting", "Connecting - connected", "Updating", "Updating - complete", "Confirming",
                           "Confirming - confirmed 730400.03.00.01" }));
    QVERIFY(hasCloseButton(dialog));
    QVERIFY(hasMinimiseButton(dialog));
    QVERIFY(dialog.isVisible());
    QVERIFY(ui.ProgressBar->isVisible());
    QCOMPARE(ui.ProgressBar->value(), 100);
    QVERIFY(!ui.CopyLogButton->isVisible());
    QVERIFY(!ui.RetryButton->isVisible());
    QCOMPARE(ui.NextStepButton->text(), QStringLiteral("Close"));
    QCOMPARE(QuaymendProbe::transferThread(dialog), thread);
    QCOMPARE(simulator.log().count("devsim: boot command received"), 1);

    QVERIFY(simulator.waitForLog("devsim: image written", 5000));
    QFile image(simulator.imagePath());
    QVERIFY(image.open(QIODevice::ReadOnly));
    QCOMPARE(image.readAll(), padToBlocks(content));

    QVERIFY(clickNext(dialog));
    QCOMPARE(wizardLines(dialog).last(), QStringLiteral("Complete"));
    QCOMPARE(dialog.result(), 0);
    QVERIFY(!dialog.isVisible());

    // The device restarts into its new application: a second detection finds it up to date.
    QVERIFY(simulator.waitForLog("devsim: restarted into application", 5000));
    QVERIFY(simulator.waitForPorts(1, 5000));
    Quaymend second;
    QuaymendProbe::updateDirectory(second) = files.path();
    QVERIFY(second.scanApplicationPort());
    QCOMPARE(QuaymendProbe::detection(second).reply, QByteArray("730400.03.00.01"));
    QCOMPARE(QuaymendProbe::detection(second).outcome, DetectionOutcome::UpToDate);
}

void tst_WizardUpdate::transferEndsWithoutRetry_data()
{
    QTest::addColumn<bool>("emptyFile");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("reason");

    // An empty file is refused before the port is used.
    QTest::newRow("port error") << true << "Updating - xmodem port error"
                                << "Unable to access update port.";
    QTest::newRow("file error") << false << "Updating - xmodem file error"
                                << "Unable to access update file.";
}

void tst_WizardUpdate::transferEndsWithoutRetry()
{
    QFETCH(bool, emptyFile);
    QFETCH(QString, line);
    QFETCH(QString, reason);

    QTemporaryDir files;
    const QString path = files.filePath(QStringLiteral("730400_03_00_01.hex"));
    QVERIFY(!writeUpdateFile(path, emptyFile ? 0 : 1500).isNull());
    cSimulator simulator;
    QVERIFY(simulator.start());
    Quaymend dialog;
    QuaymendProbe::updateDirectory(dialog) = files.path();
    dialog.show();
    auto &ui = QuaymendProbe::ui(dialog);

    QVERIFY(detect(dialog, QStringLiteral("AIS Class B CS Transceiver found")));
    if (!emptyFile)
        QVERIFY(QFile::remove(path)); // gone between detection and transfer
    QVERIFY(clickNext(dialog));
    QTRY_COMPARE_WITH_TIMEOUT(pageTitle(dialog), QStringLiteral("Update incomplete"), 15000);
    QCOMPARE(wizardLines(dialog).mid(5),
             QStringList({ "Booting", "Connecting", "Connecting - connected", "Updating", line }));
    QVERIFY(pageText(dialog).contains(reason));
    QVERIFY(ui.CopyLogButton->isVisible());
    QVERIFY(!ui.RetryButton->isVisible());
    QVERIFY(!ui.ProgressBar->isVisible());
    QVERIFY(hasCloseButton(dialog));
    QVERIFY(hasMinimiseButton(dialog));
    QVERIFY(dialog.isVisible());
    QCOMPARE(ui.NextStepButton->text(), QStringLiteral("Close"));

    QVERIFY(clickNext(dialog));
    QVERIFY(!ui.CopyLogButton->isVisible());
    QCOMPARE(wizardLines(dialog).last(), QStringLiteral("Complete"));
    QCOMPARE(dialog.result(), 0);
}

QTEST_MAIN(tst_WizardUpdate)
#include "tst_wizardupdate.moc"
