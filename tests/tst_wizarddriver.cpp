#include "probe.h"
#include "wizardharness.h"

#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <utility>

using namespace wizardtest;

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

using Step = std::pair<int, bool>; // value shown, inverted appearance

// What a QProgressBar that starts at `initial` reports through valueChanged when the installer
// animation runs `steps` steps and then fills the bar: 0, 10 ... 100 rising, 100 ... 10 falling
// (inverted), 0 ... again.
QList<Step> expectedSteps(int initial, int steps)
{
    QList<Step> shown;
    int current = initial;
    const auto show = [&](int value, bool inverted) {
        if (value != current)
            shown << Step(value, inverted);
        current = value;
    };
    int v = 0;
    for (int i = 0; i < steps; ++i) {
        show(qAbs(v), v < 0);
        v = v + 10 > 100 ? -100 : v + 10;
    }
    show(100, false);
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
    // Its exit code is not examined: an installer reporting an error still counts as run.
    QTest::newRow("ends at once with an error") << QByteArray(record + "exit 3\n") << true << true << 0 << 1;
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

    Quaymend dialog;
    dialog.show();
    auto &ui = QuaymendProbe::ui(dialog);
    QList<Step> shown;
    const int initial = ui.ProgressBar->value();
    connect(ui.ProgressBar, &QProgressBar::valueChanged, this,
            [&](int value) { shown << Step(value, ui.ProgressBar->invertedAppearance()); });

    QuaymendProbe::wizardState(dialog) = StateDisconnect;
    QVERIFY(clickNext(dialog));
    QCOMPARE(pageTitle(dialog), QStringLiteral("Disconnect AIS"));
    QVERIFY(clickNext(dialog));
    QCOMPARE(pageTitle(dialog), QStringLiteral("Installing USB driver"));
    QVERIFY(clickNext(dialog)); // returns when the installer has ended

    const QStringList common = { "Welcome screen", "Start", "Disconnect", "AIS driver install" };
    if (!succeeds) {
        QCOMPARE(wizardLines(dialog), common + QStringList { "AIS driver install - failed" });
        QCOMPARE(pageTitle(dialog), QStringLiteral("AIS USB driver install failed"));
        QVERIFY(ui.CopyLogButton->isVisible());
        QVERIFY(!ui.RetryButton->isVisible());
        QVERIFY(shown.isEmpty());
        QVERIFY(!ui.ProgressBar->isVisible());
        QCOMPARE(ui.NextStepButton->text(), QStringLiteral("Close"));
        QVERIFY(clickNext(dialog));
        QCOMPARE(wizardLines(dialog).last(), QStringLiteral("Driver install failed"));
        QCOMPARE(dialog.result(), 13);
        QVERIFY(!dialog.isVisible());
        return;
    }

    QCOMPARE(wizardLines(dialog), common + QStringList { "AIS driver install - successful" });
    QCOMPARE(pageTitle(dialog), QStringLiteral("AIS USB driver installed"));
    QVERIFY(!ui.CopyLogButton->isVisible());

    QFile args(work.path() + QStringLiteral("/args.txt"));
    QVERIFY(args.open(QIODevice::ReadOnly));
    QCOMPARE(args.readAll(), "/S\n" + QFile::encodeName(QDir(work.path()).canonicalPath()) + "\n");

    int steps = -1;
    for (int n = 0; n <= 200 && steps < 0; ++n) {
        if (expectedSteps(initial, n) == shown)
            steps = n;
    }
    QVERIFY2(steps >= 0, "the bar did not rise, fall and fill in the installer's pattern");
    QVERIFY2(steps >= minSteps && steps <= maxSteps, qPrintable(QString::number(steps)));
    QVERIFY(ui.ProgressBar->isVisible());
    QCOMPARE(ui.ProgressBar->value(), 100);
    QCOMPARE(ui.ProgressBar->maximum(), 100);
    QVERIFY(!ui.ProgressBar->invertedAppearance());

    // Back to detection, with a fresh budget.
    QVERIFY(clickNext(dialog));
    QCOMPARE(wizardLines(dialog).last(), QStringLiteral("Connect"));
    QCOMPARE(pageTitle(dialog), QStringLiteral("Connect your AIS device"));
    QVERIFY(!ui.ProgressBar->isVisible());
    QCOMPARE(QuaymendProbe::wizardState(dialog), StateDetect);
}

QTEST_MAIN(tst_WizardDriver)
#include "tst_wizarddriver.moc"
