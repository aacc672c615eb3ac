#include "app/batchrun.h"
#include "app/quaymend.h"
#include "fakelogind.h"
#include "probe.h"
#include "simulator.h"
#include "wizardharness.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace wizardtest;

namespace {

const QString updateName = QStringLiteral("730400_03_00_01.hex");
const QString oldVersion = QStringLiteral("730400.03.00.00");
const QString newVersion = QStringLiteral("730400.03.00.01");

enum class Hook { None, InterruptWhileConnecting };

// What the inhibitor looked like when the wizard wrote each of its lines.
struct InhibitorTrace
{
    QMap<QString, int> heldAt; // the last time each line was written
    int refusedCloses = 0;
    int closeRequests = 0;
};

// Follows the wizard's lines: notes the inhibitor at each, and asks the window to close (as the
// window manager would, and with Escape's reject) at the lines where it must stay.
void traceLine(Quaymend *dialog, const cFakeLogind &logind, InhibitorTrace &trace, const QByteArray &text)
{
    trace.heldAt[QString::fromUtf8(text)] = logind.held();
    if (text != "Connecting" && text != "Updating" && text != "Confirming")
        return;
    QTimer::singleShot(0, dialog, [dialog, &trace] {
        trace.closeRequests += 2;
        const bool wasVisible = dialog->isVisible();
        if (!dialog->close() && dialog->isVisible() == wasVisible)
            ++trace.refusedCloses;
        dialog->reject();
        if (dialog->isVisible() == wasVisible)
            ++trace.refusedCloses;
    });
}

} // namespace

Q_DECLARE_METATYPE(Hook)

// How an update ends once the file is sent: the device's own answer decides, in the window and
// unattended alike. Over the whole update the computer is kept awake and the window stays.
class tst_Confirm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void endings_data();
    void endings();

private:
    QTemporaryDir m_tmp;
    QString m_files;
    QByteArray m_update;
    cFakeLogind m_logind;
};

void tst_Confirm::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
    m_files = m_tmp.path() + QStringLiteral("/files");
    QVERIFY(QDir().mkpath(m_files));
    m_update = writeUpdateFile(m_files + u'/' + updateName, 3 * 1024 + 100);
    QString why;
    QVERIFY2(m_logind.start(why), qPrintable(why));
}

void tst_Confirm::endings_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<bool>("confirm");     // false: --no-confirm
    QTest::addColumn<int>("boundMs");      // how long the device has to answer
    QTest::addColumn<bool>("window");      // also run through the window
    QTest::addColumn<int>("timeout");      // the batch run's --timeout; 0: none
    QTest::addColumn<Hook>("hook");
    QTest::addColumn<QString>("title");    // the page the window ends on
    QTest::addColumn<QStringList>("shown"); // lines that page shows
    QTest::addColumn<QStringList>("lastLines"); // the wizard's lines from the end of the transfer on
    QTest::addColumn<QString>("afterRetry"); // the page Retry leads to; empty: no Retry
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outcome");

    const QStringList sent { "Updating - complete", "Confirming" };
    const QStringList safe { "The update has completed successfully.",
                             "Your AIS device now runs version 730400.03.00.01.",
                             "It is now safe to disconnect your AIS device from the PC." };
    const QStringList restarts { "--new-version", newVersion };
    const QStringList noRestart { "--new-version", newVersion, "--no-restart" };

    QTest::newRow("restarts with the new version")
        << restarts << true << 20000 << true << 0 << Hook::None << "Update complete" << safe
        << (sent + QStringList { "Confirming - confirmed 730400.03.00.01" }) << "" << 0 << "updated";
    QTest::newRow("started in its boot loader, restarts with the new version")
        << (restarts + QStringList { "--no-app" }) << true << 20000 << true << 0 << Hook::None << "Update complete"
        << safe << (sent + QStringList { "Confirming - confirmed 730400.03.00.01" }) << "" << 0 << "updated";
    QTest::newRow("rejects the image, restarts with the old version")
        << QStringList() << true << 20000 << true << 0 << Hook::None << "Update not confirmed"
        << QStringList { "Your AIS device reports version 730400.03.00.00 instead of 730400.03.00.01." }
        << (sent + QStringList { "Confirming - device reports 730400.03.00.00, expected 730400.03.00.01" })
        << "AIS Class B CS Transceiver found" << 8 << "not-confirmed";
    QTest::newRow("stays in its boot loader")
        << noRestart << true << 3000 << true << 0 << Hook::None << "No answer from your AIS device"
        << QStringList { "The update file was sent, but the AIS device has not reported back yet.",
                         "Do not disconnect or power down the AIS device yet." }
        << (sent + QStringList { "Confirming - no answer" }) << "No answer from your AIS device" << 8
        << "not-confirmed";
    QTest::newRow("not asked")
        << noRestart << false << 3000 << false << 0 << Hook::None << "Update complete"
        << QStringList { "The update has completed successfully." } << QStringList { "Updating - complete" } << ""
        << 0 << "sent";
    QTest::newRow("time bound ends the wait")
        << noRestart << true << confirmTimeoutMs << false << 12 << Hook::None << "" << QStringList()
        << sent << "" << 8 << "not-confirmed";
    QTest::newRow("interrupted while connecting")
        << (restarts + QStringList { "--boot-delay", "1500" }) << true << 20000 << false << 0
        << Hook::InterruptWhileConnecting << "" << QStringList() << QStringList { "Booting", "Connecting" } << ""
        << 130 << "interrupted";
}

void tst_Confirm::endings()
{
    QFETCH(QStringList, simulator);
    QFETCH(bool, confirm);
    QFETCH(int, boundMs);
    QFETCH(bool, window);
    QFETCH(int, timeout);
    QFETCH(Hook, hook);
    QFETCH(QString, title);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, lastLines);
    QFETCH(QString, afterRetry);
    QFETCH(int, exitCode);
    QFETCH(QString, outcome);

    const int inhibitorsBefore = int(m_logind.calls().size());
    const QStringList heldLines { "Connecting - connected", "Updating" };

    if (window) {
        cSimulator device(simulator);
        QVERIFY(device.start());
        Quaymend dialog;
        QuaymendProbe::updateDirectory(dialog) = m_files;
        QuaymendProbe::confirmWaitMs(dialog) = boundMs;
        dialog.setConfirmUpdate(confirm);
        InhibitorTrace trace;
        Quaymend::setLogListener([&](const QDateTime &, const QString &, const QByteArray &text) {
            traceLine(&dialog, m_logind, trace, text);
        });
        dialog.show();
        QVERIFY(clickNext(dialog) && clickNext(dialog));
        QVERIFY(QTest::qWaitFor([&] { return clickNext(dialog); }, 15000)); // "Next..." starts the update
        QVERIFY2(QTest::qWaitFor([&] { return pageTitle(dialog) == title; }, 30000 + boundMs),
                 qPrintable(pageText(dialog)));
        Quaymend::setLogListener({});

        QCOMPARE(wizardLines(dialog).mid(wizardLines(dialog).indexOf(lastLines.first())), lastLines);
        for (const QString &line : shown)
            QVERIFY2(pageText(dialog).contains(line), qPrintable(pageText(dialog)));
        QCOMPARE(readFile(device.imagePath()), padToBlocks(m_update));
        // The record names the file that was sent, before the transfer began.
        const QString record = QStringLiteral("Update file: %1, %2 bytes, SHA-256 %3")
                                   .arg(updateName)
                                   .arg(m_update.size())
                                   .arg(QString::fromLatin1(QCryptographicHash::hash(m_update, QCryptographicHash::Sha256).toHex()));
        QVERIFY(logLines(dialog).indexOf(record) >= 0);
        QVERIFY(logLines(dialog).indexOf(record) < logLines(dialog).indexOf("Updating"));

        // Held from the boot command (or the boot loader's port) to the end of the confirmation, and
        // every request to close meanwhile refused.
        for (const QString &line : heldLines + (confirm ? QStringList { "Confirming" } : QStringList()))
            QVERIFY2(trace.heldAt.value(line) == 1, qPrintable(line));
        QCOMPARE(trace.heldAt.value("Detecting AIS - update required"), 0);
        QCOMPARE(trace.heldAt.value(lastLines.last()), 0);
        QCOMPARE(m_logind.held(), 0);
        QVERIFY(trace.closeRequests >= 4);
        QCOMPARE(trace.refusedCloses, trace.closeRequests);
        QCOMPARE(m_logind.calls().value(inhibitorsBefore), QStringLiteral("sleep:idle:handle-lid-switch|Quaymend|block"));
        QVERIFY(hasCloseButton(dialog));

        if (!afterRetry.isEmpty()) {
            QVERIFY(clickRetry(dialog));
            QVERIFY2(QTest::qWaitFor([&] { return pageTitle(dialog) == afterRetry; }, 30000 + boundMs),
                     qPrintable(pageText(dialog)));
            QCOMPARE(m_logind.held(), 0);
        }
        if (afterRetry.isEmpty() || afterRetry == title) {
            QVERIFY(clickNext(dialog));
            QCOMPARE(wizardLines(dialog).last(), QStringLiteral("Complete"));
            QVERIFY(!dialog.isVisible());
        }
    }

    // The same ending unattended.
    const int inhibitorsBeforeBatch = int(m_logind.calls().size());
    cSimulator device(simulator);
    QVERIFY(device.start());
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    {
        cBatchRun::Options options;
        options.json = true;
        options.noConfirm = !confirm;
        options.timeoutSeconds = timeout;
        cBatchRun run(options, UpdateSource(m_files, updateName), &out);
        QuaymendProbe::confirmWaitMs(run.dialog()) = boundMs;
        connect(&run, &cBatchRun::lineLogged, &run, [&](const QByteArray &text) {
            if (hook == Hook::InterruptWhileConnecting && text == "Connecting")
                QTimer::singleShot(0, &run, &cBatchRun::interrupt);
        });
        QCOMPARE(run.run(), exitCode);
        QCOMPARE(run.outcome(), outcome);
    }
    // Every ending lets go, the program's own end included.
    QCOMPARE(m_logind.held(), 0);
    QVERIFY(m_logind.calls().size() > inhibitorsBeforeBatch);

    const QList<QByteArray> printed = out.data().trimmed().split('\n');
    QStringList texts;
    for (const QByteArray &line : printed) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (object.value("event") == QLatin1String("log"))
            texts << object.value("text").toString();
    }
    // The run presses the last page's button as a user would, unless it was cut short.
    const QStringList expected = lastLines + (timeout == 0 && hook == Hook::None ? QStringList { "Complete" } : QStringList());
    const QStringList own = ownLinesOf(texts);
    QCOMPARE(own.mid(own.size() - expected.size()), expected);

    const QJsonObject result = QJsonDocument::fromJson(printed.last()).object();
    QCOMPARE(result.value("outcome").toString(), outcome);
    QCOMPARE(result.value("exit").toInt(), exitCode);
    QCOMPARE(result.value("versionBefore").toString(),
             simulator.contains("--no-app") ? QStringLiteral("NOAPP") : oldVersion);
    QCOMPARE(result.value("device").toString(),
             simulator.contains("--no-app") ? QStringLiteral("AIS Class B Transceiver")
                                            : QStringLiteral("AIS Class B CS Transceiver"));
    QCOMPARE(result.value("versionAfter").toString(), outcome == QLatin1String("updated") ? newVersion : QString());
    QVERIFY(result.value("seconds").toDouble() > 0);
    if (hook == Hook::None) {
        const QJsonObject file = result.value("updateFile").toObject();
        QCOMPARE(file.value("path").toString(), m_files + u'/' + updateName);
        QCOMPARE(file.value("size").toInt(), m_update.size());
        QCOMPARE(file.value("sha256").toString(),
                 QString::fromLatin1(QCryptographicHash::hash(m_update, QCryptographicHash::Sha256).toHex()));
        QCOMPARE(result.value("attempts").toInt(), 1);
        QCOMPARE(readFile(device.imagePath()), padToBlocks(m_update));
    }
}

QTEST_MAIN(tst_Confirm)
#include "tst_confirm.moc"
