#include "flowwatch.h"
#include "wizardharness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>

using namespace wizardtest;
using Page = cUpdateFlow::Page;
using Ending = cUpdateFlow::Ending;

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
    QTemporaryDir m_tmp;
    QString m_startDir;
};

namespace {
// A port that carries the device's vendor ID but cannot be opened: every scan logs it once and
// fails at once, so the log counts the scans.
const QByteArray deadPort = "/nonexistent/quaymend-test-port";

int scansLogged(const cFlowWatch &watch)
{
    return int(watch.lines().count(QStringLiteral("Application port name: ") + QString::fromLatin1(deadPort)));
}

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

void tst_WizardNoDevice::fullBudgetThenDriverBranch()
{
    cUpdateFlow flow;
    cFlowWatch watch(flow);
    flow.start();
    QVERIFY(watch.next()); // Start
    QCOMPARE(watch.page(), Page::Connect);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(watch.next());
    QCOMPARE(watch.page(), Page::Detecting);
    QCOMPARE(watch.progress, cUpdateFlow::Progress::Busy);

    // 600 scans, 50 ms apart (a coarse timer may fire up to 5 % early).
    QVERIFY(watch.waitFor(Page::NotFound, 90000));
    QVERIFY2(clock.elapsed() >= 599 * 50 * 95 / 100, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(scansLogged(watch), 600);
    QCOMPARE(watch.ownLines(),
             QStringList({ "Welcome screen", "Connect", "Detecting AIS", "Detecting AIS - not found" }));
    QCOMPARE(watch.endings, QList<Ending> { Ending::NotFound });
    QCOMPARE(watch.progress, cUpdateFlow::Progress::Hidden);
    QVERIFY(watch.closable);

    // Retry: a new detection phase, starting at the connect prompt; the full budget has been
    // shown to run out, this phase is cut short.
    cUpdateFlow::Limits limits;
    limits.detectScans = 1;
    flow.setLimits(limits);
    QVERIFY(watch.retry());
    QCOMPARE(watch.ownLines().mid(4), QStringList({ "User retry", "Connect" }));
    QCOMPARE(watch.page(), Page::Connect);
    QVERIFY(watch.next());
    QCOMPARE(watch.page(), Page::Detecting);

    // The second give-up of the run offers the driver installation instead.
    QVERIFY(watch.waitFor(Page::Disconnect, 5000));
    QCOMPARE(scansLogged(watch), 601);
    QCOMPARE(watch.ownLines().mid(6), QStringList({ "Detecting AIS", "Start" }));
    QCOMPARE(watch.progress, cUpdateFlow::Progress::Hidden);
    QCOMPARE(watch.endings.size(), 1);

    QVERIFY(watch.next());
    QCOMPARE(watch.page(), Page::InstallPrompt);
    QVERIFY(watch.next());
    QCOMPARE(watch.page(), Page::DriverFailed);
    QCOMPARE(watch.endings.last(), Ending::DriverFailed);
    QVERIFY(!watch.retry());
    QVERIFY(watch.next()); // Close
    QCOMPARE(watch.ownLines().mid(8),
             QStringList({ "Disconnect", "AIS driver install", "AIS driver install - failed",
                           "Driver install failed" }));
    QCOMPARE(watch.result, 13);
}

void tst_WizardNoDevice::cancelOnNotFound()
{
    cUpdateFlow flow;
    cUpdateFlow::Limits limits;
    limits.detectScans = 1;
    flow.setLimits(limits);
    cFlowWatch watch(flow);
    flow.start();
    QVERIFY(watch.next());
    QVERIFY(watch.next());
    QVERIFY(watch.waitFor(Page::NotFound, 5000));
    QVERIFY(watch.next()); // Cancel
    QCOMPARE(watch.ownLines(),
             QStringList({ "Welcome screen", "Connect", "Detecting AIS", "Detecting AIS - not found",
                           "Connect failed" }));
    QCOMPARE(watch.result, 12);

    // For support, the pre-flight findings follow the give-up in the log, the unusable port among them.
    const QStringList lines = watch.lines();
    const qsizetype gaveUp = lines.indexOf("Detecting AIS - not found");
    const qsizetype failed = lines.indexOf("Connect failed");
    QVERIFY(gaveUp > 0 && failed > gaveUp + 2);
    const QStringList findings = lines.mid(gaveUp + 1, failed - gaveUp - 1);
#ifdef Q_OS_WIN
    // The reason is the system's own words, which differ between Windows and Wine.
    const QRegularExpression deadPortFinding("^\\[problem\\] " + QRegularExpression::escape(QString::fromLatin1(deadPort))
                                             + " cannot be opened \\([^.()]+\\)\\. Fix: unplug the device and plug it in again\\.$");
    QVERIFY2(findings.indexOf(deadPortFinding) >= 0, qPrintable(findings.join('\n')));
#else
    QVERIFY2(findings.contains("[problem] " + QString::fromLatin1(deadPort) + " cannot be opened (No such file or "
                                                                            "directory). Fix: unplug the device and plug it in again."),
             qPrintable(findings.join('\n')));
#endif
    QVERIFY(findings.last().startsWith("Not ready: "));
}

QTEST_GUILESS_MAIN(tst_WizardNoDevice)
#include "tst_wizardnodevice.moc"
