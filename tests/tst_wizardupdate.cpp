#include "flowwatch.h"
#include "simulator.h"
#include "wizardharness.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace wizardtest;
using Page = cUpdateFlow::Page;
using Ending = cUpdateFlow::Ending;
using Progress = cUpdateFlow::Progress;

Q_DECLARE_METATYPE(Page)
Q_DECLARE_METATYPE(Ending)

// One run of the flow against the simulated device: what detection concludes, the whole road of
// an update with every line the device link writes, and the transfers that end without data on
// the device.
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

// Start on the Welcome page, Next on the connect page; true when detection ended on page.
bool detect(cFlowWatch &watch, Page page)
{
    watch.flow.start();
    if (!watch.next() || watch.page() != Page::Connect || !watch.next())
        return false;
    return watch.waitFor(page, 10000);
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
    QTest::addColumn<Page>("page");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("versionLine");
    QTest::addColumn<QString>("outcomeLine");

    QTest::newRow("update required")
        << QStringList() << "730400_03_00_01.hex" << Page::UpdateRequired << "AIS Class B CS Transceiver"
        << deviceVersion << "730400.03.00.01" << "Detecting AIS - update required";
    QTest::newRow("up to date") << QStringList { "--version", "750400.01.00.00" } << "750400_01_00_00.img"
                                << Page::UpToDate << "AIS Class B SO Transceiver"
                                << "750400.01.00.00"
                                << "750400.01.00.00"
                                << "Detecting AIS - up-to-date";
    // A file for the other device type does not count; the version line is then empty.
    QTest::newRow("no update file")
        << QStringList() << "750400_09_00_00.hex" << Page::NoUpdateFile << "AIS Class B CS Transceiver"
        << deviceVersion << "" << "Detecting AIS - No update file";
}

void tst_WizardUpdate::detection()
{
    QFETCH(QStringList, simulatorArgs);
    QFETCH(QString, updateFile);
    QFETCH(Page, page);
    QFETCH(QString, description);
    QFETCH(QString, reply);
    QFETCH(QString, versionLine);
    QFETCH(QString, outcomeLine);

    QTemporaryDir files;
    QVERIFY(!writeUpdateFile(files.filePath(updateFile), 1500).isNull());
    cSimulator simulator(simulatorArgs);
    QVERIFY(simulator.start());
    cUpdateFlow flow;
    flow.setUpdateSource(UpdateSource(files.path()));
    cFlowWatch watch(flow);

    QVERIFY(detect(watch, page));
    QCOMPARE(watch.ownLines({ reply, versionLine }),
             QStringList({ "Welcome screen", "Connect", "Detecting AIS", "Detecting AIS - found", reply,
                           versionLine, outcomeLine }));
    QCOMPARE(watch.facts.device.description, description);
    QCOMPARE(watch.facts.device.reply, reply.toLatin1());
    QCOMPARE(watch.facts.device.updateVersion, versionLine);
    QCOMPARE(watch.progress, Progress::Hidden);
    QVERIFY(watch.closable && watch.closeButton);
    // No timer may be pending: the page waits for the user.
    const QTimer *timer = flow.findChild<QTimer *>();
    QVERIFY(timer && !timer->isActive());

    if (page == Page::UpdateRequired) {
        QVERIFY(watch.endings.isEmpty());
        QVERIFY(!watch.retry());
        return;
    }
    QCOMPARE(watch.endings, QList<Ending> { page == Page::UpToDate ? Ending::UpToDate : Ending::NoUpdateFile });
    QVERIFY(!watch.retry());
    QVERIFY(watch.next()); // Close
    QCOMPARE(watch.ownLines().last(), QStringLiteral("Complete"));
    QCOMPARE(watch.result, 0);
}

void tst_WizardUpdate::update()
{
    QTemporaryDir files;
    const QByteArray content = writeUpdateFile(files.filePath(QStringLiteral("730400_03_00_01.hex")), 2500);
    // Flashing slows the transfer down enough to look at the run while it goes.
    cSimulator simulator({ "--flash-ms", "300", "--new-version", "730400.03.00.01" });
    QVERIFY(simulator.start());
    QVERIFY(simulator.waitForPorts(1, 5000));
    const QString applicationPort = simulator.ports().first();
    cUpdateFlow flow;
    flow.setUpdateSource(UpdateSource(files.path()));
    cFlowWatch watch(flow);

    QVERIFY(detect(watch, Page::UpdateRequired));
    QVERIFY(watch.next());
    QCOMPARE(watch.page(), Page::Switching);
    QCOMPARE(watch.progress, Progress::Busy);
    QVERIFY(!watch.closable && !watch.closeButton);
    QVERIFY(!flow.cancel());
    // Neither button does anything on a busy page.
    const int logged = watch.lines().size();
    flow.next();
    flow.retry();
    QCOMPARE(watch.page(), Page::Switching);
    QCOMPARE(watch.lines().size(), logged);

    QVERIFY(watch.waitFor(Page::UpdateInProgress, 15000));
    QTRY_VERIFY_WITH_TIMEOUT(!watch.percents.isEmpty() && watch.percents.last() > 0 && watch.percents.last() < 100, 5000);
    QVERIFY(!watch.closable);

    QVERIFY(watch.waitFor(Page::UpdateComplete, 20000));
    QCOMPARE(watch.facts.reportedVersion, QStringLiteral("730400.03.00.01"));
    QCOMPARE(watch.endings, QList<Ending> { Ending::Updated });
    QVERIFY(watch.closable && watch.closeButton);
    QCOMPARE(watch.progress, Progress::Percent);
    QCOMPARE(watch.percents.last(), 100);
    QVERIFY(std::is_sorted(watch.percents.begin(), watch.percents.end()));
    QCOMPARE(watch.pages, QList<Page>({ Page::Welcome, Page::Connect, Page::Detecting, Page::UpdateRequired,
                                        Page::Switching, Page::Connecting, Page::UpdateInProgress, Page::Confirming,
                                        Page::UpdateComplete }));

    // Every line of the run: the device link's own between the state machine's.
    QStringList lines = watch.lines();
    const qsizetype booted = lines.indexOf("Connecting");
    QVERIFY(booted > 0);
    const QString bootLoaderPort = lines.value(booted + 1).section(QStringLiteral(": "), 1);
    QVERIFY(!bootLoaderPort.isEmpty());
    QStringList walk = lines.mid(0, booted + 3);
    walk.removeAll(lines.filter(QRegularExpression("^Cannot keep the computer awake - ")).value(0));
    QCOMPARE(walk, QStringList({ "Welcome screen", "Connect", "Detecting AIS", "Application port name: " + applicationPort,
                                 "Command: $PKVR,0,0,0,2,appver,0*2D", "Response: 730400.03.00.00", "Detecting AIS - found",
                                 deviceVersion, "730400.03.00.01", "Detecting AIS - update required", "Booting",
                                 "Boot command: $PKVR,0,3,0x6D1F48A3,0,bootcmd 0x5A3C9E01,0*42", "Connecting",
                                 "Bootloader port name: " + bootLoaderPort, "Rx: U" }));
    lines = lines.mid(booted + 3);
    QCOMPARE(lines.takeFirst(), QStringLiteral("Tx: U"));
    while (lines.first() == QLatin1String("Rx: U"))
        lines.removeFirst();
    QCOMPARE(lines.mid(0, 2), QStringList({ "Rx: C", "Connecting - connected" }));
    QCOMPARE(watch.ownLines().mid(7), QStringList({ "Connecting - connected", "Updating", "Updating - complete",
                                                    "Confirming", "Confirming - confirmed 730400.03.00.01" }));
    QCOMPARE(simulator.log().count("devsim: boot command received"), 1);

    QVERIFY(simulator.waitForLog("devsim: image written", 5000));
    QFile image(simulator.imagePath());
    QVERIFY(image.open(QIODevice::ReadOnly));
    QCOMPARE(image.readAll(), padToBlocks(content));

    QVERIFY(!watch.retry());
    QVERIFY(watch.next());
    QCOMPARE(watch.ownLines().last(), QStringLiteral("Complete"));
    QCOMPARE(watch.result, 0);

    // The device runs its new application: a second run finds it up to date.
    cUpdateFlow second;
    second.setUpdateSource(UpdateSource(files.path()));
    cFlowWatch secondWatch(second);
    QVERIFY(detect(secondWatch, Page::UpToDate));
    QCOMPARE(secondWatch.facts.device.reply, QByteArray("730400.03.00.01"));
}

void tst_WizardUpdate::transferEndsWithoutRetry_data()
{
    QTest::addColumn<bool>("emptyFile");
    QTest::addColumn<QString>("line");
    QTest::addColumn<Page>("page");
    QTest::addColumn<Ending>("ending");

    // An empty file is refused before the port is used.
    QTest::newRow("port error") << true << "Updating - xmodem port error" << Page::PortError << Ending::PortError;
    QTest::newRow("file error") << false << "Updating - xmodem file error" << Page::FileError << Ending::FileError;
}

void tst_WizardUpdate::transferEndsWithoutRetry()
{
    QFETCH(bool, emptyFile);
    QFETCH(QString, line);
    QFETCH(Page, page);
    QFETCH(Ending, ending);

    QTemporaryDir files;
    const QString path = files.filePath(QStringLiteral("730400_03_00_01.hex"));
    QVERIFY(!writeUpdateFile(path, emptyFile ? 0 : 1500).isNull());
    cSimulator simulator;
    QVERIFY(simulator.start());
    cUpdateFlow flow;
    flow.setUpdateSource(UpdateSource(files.path()));
    cFlowWatch watch(flow);

    QVERIFY(detect(watch, Page::UpdateRequired));
    if (!emptyFile)
        QVERIFY(QFile::remove(path)); // gone between detection and transfer
    QVERIFY(watch.next());
    QVERIFY(watch.waitFor(page, 15000));
    QCOMPARE(watch.ownLines().mid(5),
             QStringList({ "Booting", "Connecting", "Connecting - connected", "Updating", line }));
    QCOMPARE(watch.endings, QList<Ending> { ending });
    QCOMPARE(watch.progress, Progress::Hidden);
    QVERIFY(watch.closable && watch.closeButton);
    QVERIFY(!watch.retry());
    QVERIFY(watch.next()); // Close
    QCOMPARE(watch.ownLines().last(), QStringLiteral("Complete"));
    QCOMPARE(watch.result, 0);
}

QTEST_GUILESS_MAIN(tst_WizardUpdate)
#include "tst_wizardupdate.moc"
