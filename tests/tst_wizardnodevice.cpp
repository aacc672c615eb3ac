#include "probe.h"
#include "wizardharness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace wizardtest;

// Detection that finds nothing: the not-found page, its Cancel and Retry, and the driver branch
// that the next give-up of the run takes.
class tst_WizardNoDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void fullBudgetThenDriverBranch();
    void cancelOnNotFound();

private:
    int scansLogged(Quaymend &dialog) const;

    QTemporaryDir m_tmp;
    QString m_startDir;
};

namespace {
// A port that carries the device's vendor ID but cannot be opened: every scan logs it once and
// fails at once, so the log counts the scans.
const QByteArray deadPort = "/nonexistent/quaymend-test-port";
} // namespace

void tst_WizardNoDevice::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
    QFile ports(m_tmp.path() + QStringLiteral("/ports.txt"));
    QVERIFY(ports.open(QIODevice::WriteOnly));
    ports.write(deadPort + " 3E71\n");
    ports.close();
    qputenv("QUAYMEND_SIMULATED_PORTS", QFile::encodeName(ports.fileName()));
    // No driver installer here.
    m_startDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_tmp.path()));
}

void tst_WizardNoDevice::cleanupTestCase()
{
    QDir::setCurrent(m_startDir);
}

int tst_WizardNoDevice::scansLogged(Quaymend &dialog) const
{
    return countLine(dialog, QStringLiteral("Application port name: ") + QString::fromLatin1(deadPort));
}

void tst_WizardNoDevice::fullBudgetThenDriverBranch()
{
    Quaymend dialog;
    dialog.show();
    auto &ui = QuaymendProbe::ui(dialog);

    QVERIFY(clickNext(dialog)); // Start
    QCOMPARE(pageTitle(dialog), QStringLiteral("Connect your AIS device"));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(clickNext(dialog));
    QCOMPARE(pageTitle(dialog), QStringLiteral("Detecting your AIS device"));
    QVERIFY(ui.ProgressBar->isVisible());
    QCOMPARE(ui.ProgressBar->maximum(), 0); // busy indicator

    // 600 scans, 50 ms apart (a coarse timer may fire up to 5 % early).
    QTRY_COMPARE_WITH_TIMEOUT(pageTitle(dialog), QStringLiteral("No AIS device found"), 90000);
    QVERIFY2(clock.elapsed() >= 599 * 50 * 95 / 100, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(scansLogged(dialog), 600);
    QCOMPARE(wizardLines(dialog),
             QStringList({ "Welcome screen", "Connect", "Detecting AIS", "Detecting AIS - not found" }));
    QVERIFY(ui.CopyLogButton->isVisible());
    QVERIFY(ui.RetryButton->isVisible());
    QCOMPARE(ui.NextStepButton->text(), QStringLiteral("Cancel"));
    QVERIFY(!ui.ProgressBar->isVisible());
    QVERIFY(hasCloseButton(dialog));

    // Retry: a new detection phase, starting at the connect prompt.
    QVERIFY(clickRetry(dialog));
    QCOMPARE(wizardLines(dialog).mid(4), QStringList({ "User retry", "Connect" }));
    QCOMPARE(pageTitle(dialog), QStringLiteral("Connect your AIS device"));
    QVERIFY(!ui.CopyLogButton->isVisible());
    QVERIFY(!ui.RetryButton->isVisible());
    QVERIFY(clickNext(dialog));
    QCOMPARE(pageTitle(dialog), QStringLiteral("Detecting your AIS device"));
    QCOMPARE(QuaymendProbe::detectScansLeft(dialog), 599);
    // The full budget has been shown to run out; this phase is cut short.
    QuaymendProbe::detectScansLeft(dialog) = 1;

    // The second give-up of the run offers the driver installation instead.
    QTRY_COMPARE_WITH_TIMEOUT(pageTitle(dialog), QStringLiteral("Disconnect AIS"), 5000);
    QCOMPARE(scansLogged(dialog), 602);
    QCOMPARE(wizardLines(dialog).mid(6), QStringList({ "Detecting AIS", "Start" }));
    QVERIFY(!ui.ProgressBar->isVisible());
    QVERIFY(!ui.CopyLogButton->isVisible());
    QVERIFY(!ui.RetryButton->isVisible());
    QCOMPARE(ui.NextStepButton->text(), QStringLiteral("Next..."));

    QVERIFY(clickNext(dialog));
    QCOMPARE(pageTitle(dialog), QStringLiteral("Installing USB driver"));
    QVERIFY(clickNext(dialog));
    QCOMPARE(pageTitle(dialog), QStringLiteral("AIS USB driver install failed"));
    QVERIFY(ui.CopyLogButton->isVisible());
    QVERIFY(clickNext(dialog)); // Close
    QCOMPARE(wizardLines(dialog).mid(8),
             QStringList({ "Disconnect", "AIS driver install", "AIS driver install - failed",
                           "Driver install failed" }));
    QCOMPARE(dialog.result(), 13);
    QVERIFY(!dialog.isVisible());
}

void tst_WizardNoDevice::cancelOnNotFound()
{
    Quaymend dialog;
    dialog.show();
    QVERIFY(clickNext(dialog));
    QVERIFY(clickNext(dialog));
    QuaymendProbe::detectScansLeft(dialog) = 1;
    QTRY_COMPARE_WITH_TIMEOUT(pageTitle(dialog), QStringLiteral("No AIS device found"), 5000);
    QVERIFY(clickNext(dialog)); // Cancel
    QCOMPARE(wizardLines(dialog),
             QStringList({ "Welcome screen", "Connect", "Detecting AIS", "Detecting AIS - not found",
                           "Connect failed" }));
    QCOMPARE(dialog.result(), 12);
    QVERIFY(!dialog.isVisible());

    // For support, the pre-flight findings follow the give-up in the log, the unusable port among them.
    const QStringList lines = logLines(dialog);
    const qsizetype gaveUp = lines.indexOf("Detecting AIS - not found");
    const qsizetype failed = lines.indexOf("Connect failed");
    QVERIFY(gaveUp > 0 && failed > gaveUp + 2);
    const QStringList findings = lines.mid(gaveUp + 1, failed - gaveUp - 1);
    QVERIFY2(findings.contains("[problem] " + QString::fromLatin1(deadPort) + " cannot be opened (No such file or "
                                                                            "directory). Fix: unplug the device and plug it in again."),
             qPrintable(findings.join('\n')));
    QVERIFY(findings.last().startsWith("Not ready: "));
}

QTEST_MAIN(tst_WizardNoDevice)
#include "tst_wizardnodevice.moc"
