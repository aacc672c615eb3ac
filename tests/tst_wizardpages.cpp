#include "app/pages.h"

#include <QTest>
#include <QTextDocument>

// The page catalogue: which pages are busy, which offer Retry, and the composed texts built from
// what the device said.
class tst_WizardPages : public QObject
{
    Q_OBJECT

private slots:
    void installingIsThePromptMadeBusy();
    void deviceTitle_data();
    void deviceTitle();
    void versionTextShowsBothVersions();
    void deviceTextsCannotInjectMarkup();
    void warningLineIsBold();
};

namespace {

Identification device(const char *description, const QByteArray &reply, const QString &updateVersion)
{
    Identification found;
    found.outcome = DetectionOutcome::UpdateRequired;
    found.description = QString::fromLatin1(description);
    found.reply = reply;
    found.updateVersion = updateVersion;
    return found;
}

QString plain(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    return document.toPlainText();
}

} // namespace

void tst_WizardPages::installingIsThePromptMadeBusy()
{
    // Which pages are busy, the window's tests tell page by page; a stray hint would be rendered
    // as a prompt without a button to click.
    QVERIFY(pageInstalling().nextHint.isEmpty() && pageInstalling().retryHint.isEmpty());
    QCOMPARE(pageInstalling().line1, pageInstallPrompt().line1);
    QCOMPARE(pageInstalling().line2, pageInstallPrompt().line2);
    QVERIFY(pageInstallPrompt().line2.contains(QLatin1String("PC.  If")));
    QCOMPARE(pageInstalling().title, QStringLiteral("Installing AIS USB driver"));
}

void tst_WizardPages::deviceTitle_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("title");

    QTest::newRow("CS") << "AIS Class B CS Transceiver" << QByteArray("730400.03.00.00")
                        << "AIS Class B CS Transceiver found";
    QTest::newRow("SO") << "AIS Class B SO Transceiver" << QByteArray("750400.01.02.03")
                        << "AIS Class B SO Transceiver found";
    QTest::newRow("boot loader only")
        << "AIS Class B Transceiver" << QByteArray("NOAPP") << "AIS Class B Transceiver found";
}

void tst_WizardPages::deviceTitle()
{
    QFETCH(QString, description);
    QFETCH(QByteArray, reply);
    QFETCH(QString, title);

    Identification found = device("", reply, QStringLiteral("730400.03.00.01"));
    found.description = description;
    for (const PageText &page : { pageUpToDate(found), pageUpdateRequired(found), pageNoUpdateFile(found) })
        QCOMPARE(page.title, title);
    // The reply is shown as the current version, whatever it is (NOAPP included).
    QVERIFY(
        plain(pageUpdateRequired(found).line1).startsWith(QStringLiteral("Current version: ") + reply + "."));
    // Without a file there is no version to show.
    QCOMPARE(pageNoUpdateFile(found).line1,
             QStringLiteral("No update available for this device. Contact your supplier for support."));
    QVERIFY(pageNoUpdateFile(found).line2.isEmpty());
}

void tst_WizardPages::versionTextShowsBothVersions()
{
    const Identification found = device("AIS Class B SO Transceiver", "750400.01.02.03", "750400.01.02.04");
    const QString paragraph = QStringLiteral(
        "<p align=\"left\" style=\" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; "
        "-qt-block-indent:0; text-indent:0px;\"><span style=\" font-size:10pt;\">");
    const QString expected = QStringLiteral("Current version: 750400.01.02.03.\n") + paragraph
        + QStringLiteral("Update version: 750400.01.02.04.");
    QCOMPARE(pageUpdateRequired(found).line1, expected);
    QCOMPARE(pageUpToDate(found).line1, expected);
    QCOMPARE(pageUpToDate(found).line2, QStringLiteral("Current version is up to date."));
    QCOMPARE(pageUpdateRequired(found).line2, QStringLiteral("The connected AIS device will be updated."));
}

void tst_WizardPages::deviceTextsCannotInjectMarkup()
{
    // The reply comes off the wire and the version from a file name; the page shows them as text.
    const Identification found = device("AIS Class B CS Transceiver", "7304<b>x</b>&", "7304<i>.0");
    const QString shown = plain(pageUpdateRequired(found).line1);
    QVERIFY2(shown.contains(QStringLiteral("Current version: 7304<b>x</b>&.")), qPrintable(shown));
    QVERIFY2(shown.contains(QStringLiteral("Update version: 7304<i>.0.")), qPrintable(shown));
}

void tst_WizardPages::warningLineIsBold()
{
    const QString line2 = pageUpdateInProgress().line2;
    QVERIFY(line2.startsWith(QStringLiteral("<span style=\" font-weight:600;\">")));
    QVERIFY(line2.endsWith(QStringLiteral("</span>")));
    QCOMPARE(plain(line2),
             QStringLiteral("IMPORTANT: Do not terminate Quaymend, disconnect or power down the AIS "
                            "device during the update."));
}

QTEST_MAIN(tst_WizardPages)
#include "tst_wizardpages.moc"
