#include "flowwatch.h"
#include "wizardharness.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace wizardtest;
using Page = cUpdateFlow::Page;

// The driver-installation branch from pageDisconnect to its end, with stand-in installers.
class tst_WizardDriver : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void installer_data();
    void installer();

private:
    QTemporaryDir m_tmp;
    QString m_startDir;
};

namespace {

// What the installer's animation shows in `steps` steps before it fills the bar: 0, 10 ... 100
// rising, -100 ... -10 falling (drawn from the other end), 0 ... again.
QList<int> expectedSteps(int steps)
{
    QList<int> shown;
    shown.reserve(steps + 1);
    int v = 0;
    for (int i = 0; i < steps; ++i) {
        shown << v;
        v = v + 10 > 100 ? -100 : v + 10;
    }
    shown << 100;
    return shown;
}

bool writeInstaller(const QString &path, const QByteArray &script, bool executable)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(script) != script.size())
        return false;
    file.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        permissions |= QFile::ExeOwner;
    return file.setPermissions(permissions);
}

} // namespace

void tst_WizardDriver::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
    useEmptyPortsFile(m_tmp.path());
    m_startDir = QDir::currentPath();
}

void tst_WizardDriver::cleanup()
{
    QDir::setCurrent(m_startDir);
}

void tst_WizardDriver::installer_data()
{
    QTest::addColumn<QByteArray>("script"); // empty: no installer at all
    QTest::addColumn<bool>("executable");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<int>("minSteps");
    QTest::addColumn<int>("maxSteps");

    const QByteArray record = "#!/bin/sh\nprintf '%s\\n' \"$@\" > args.txt\npwd >> args.txt\n";
    QTest::newRow("missing") << QByteArray() << false << false << 0 << 0;
    QTest::newRow("not executable") << QByteArray(record + "exit 0\n") << false << false << 0 << 0;
    // A silent installer tells its outcome by its exit code alone.
    QTest::newRow("ends at once with an error") << QByteArray(record + "exit 3\n") << true << false << 0 << 1;
    QTest::newRow("ends at once, installed") << QByteArray(record + "exit 0\n") << true << true << 0 << 1;
    QTest::newRow("killed") << QByteArray(record + "kill -9 $$\n") << true << false << 0 << 1;
    // 2 s at one step per 50 ms: about 40 steps, fewer when drawing is slow.
    QTest::newRow("runs two seconds") << QByteArray(record + "sleep 2\n") << true << true << 25 << 41;
}

void tst_WizardDriver::installer()
{
    QFETCH(QByteArray, script);
    QFETCH(bool, executable);
    QFETCH(bool, succeeds);
    QFETCH(int, minSteps);
    QFETCH(int, maxSteps);

    QTemporaryDir work;
    QVERIFY(work.isValid());
    if (!script.isEmpty())
        QVERIFY(writeInstaller(work.path() + QStringLiteral("/driver/setup.exe"), script, executable));
    // The installer is found relative to the current directory, not the program's.
    QVERIFY(QDir::setCurrent(work.path()));

    cUpdateFlow flow;
    cUpdateFlow::Limits limits;
    limits.detectScans = 1;
    flow.setLimits(limits);
    cFlowWatch watch(flow);
    // Two detections that find nothing lead to the driver branch.
    flow.start();
    QVERIFY(watch.next());
    for (int detection = 0; detection < 2; ++detection) {
        QVERIFY(watch.next()); // on the connect page
        QVERIFY(watch.waitFor(detection == 0 ? Page::NotFound : Page::Disconnect, 5000));
        QVERIFY(detection == 1 || watch.retry());
    }
    const int before = watch.ownLines().size();
    QVERIFY(watch.next());
    QCOMPARE(watch.page(), Page::InstallPrompt);
    QVERIFY(watch.next()); // returns when the installer has ended

    const QStringList common = { "Disconnect", "AIS driver install" };
    if (!succeeds) {
        QCOMPARE(watch.ownLines().mid(before), common + QStringList { "AIS driver install - failed" });
        QCOMPARE(watch.page(), Page::DriverFailed);
        QCOMPARE(watch.endings.last(), cUpdateFlow::Ending::DriverFailed);
        // An installer that never started drew no progress; one that failed drew its end.
        QCOMPARE(watch.percents.isEmpty(), !executable);
        QVERIFY(watch.next());
        QCOMPARE(watch.ownLines().last(), QStringLiteral("Driver install failed"));
        QCOMPARE(watch.result, 13);
        return;
    }

    QCOMPARE(watch.ownLines().mid(before), common + QStringList { "AIS driver install - successful" });
    QCOMPARE(watch.page(), Page::DriverInstalled);

    QFile args(work.path() + QStringLiteral("/args.txt"));
    QVERIFY(args.open(QIODevice::ReadOnly));
    QCOMPARE(args.readAll(), "/S\n" + QFile::encodeName(QDir(work.path()).canonicalPath()) + "\n");

    int steps = -1;
    for (int n = 0; n <= 200 && steps < 0; ++n) {
        if (expectedSteps(n) == watch.percents)
            steps = n;
    }
    QVERIFY2(steps >= 0, "the bar did not rise, fall and fill in the installer's pattern");
    QVERIFY2(steps >= minSteps && steps <= maxSteps, qPrintable(QString::number(steps)));
    QCOMPARE(watch.progress, cUpdateFlow::Progress::Percent);

    // Back to detection, with a fresh budget.
    QVERIFY(watch.next());
    QCOMPARE(watch.ownLines().last(), QStringLiteral("Connect"));
    QCOMPARE(watch.page(), Page::Connect);
    QCOMPARE(watch.progress, cUpdateFlow::Progress::Hidden);
    QVERIFY(watch.next());
    QCOMPARE(watch.page(), Page::Detecting);
}

QTEST_GUILESS_MAIN(tst_WizardDriver)
#include "tst_wizarddriver.moc"
