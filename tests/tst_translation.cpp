#include "app/highdpi.h"
#include "app/quaymend.h"
#include "app/translation.h"
#include "builtprogram.h"
#include "probe.h"
#include "simulator.h"
#include "viewchanges.h"
#include "app/pages.h"
#include "wizardharness.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTranslator>
#include <QXmlStreamReader>

#include <cstdio>
#include <memory>

using namespace wizardtest;

// The translations: which one the user's languages choose, that the German one is complete and
// keeps the source's markup, that every page fits the fixed dialog in English and German, and that
// the update log does not change with the language.
class tst_Translation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pickTranslation_data();
    void pickTranslation();
    void tsFileComplete_data();
    void tsFileComplete();
    void pagesFit_data();
    void pagesFit();
    void updateLogStaysEnglish();

private:
    QTemporaryDir m_tmp;
};

namespace {

const QString tsDirectory = QStringLiteral(QUAYMEND_SOURCE_DIR "/translations");

// "%1" and the like, and every HTML tag (opening or closing, with its attributes), sorted: a
// translation may reorder them but must keep each one.
QStringList placeholdersAndTags(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("%L?\\d+|<[^>]*>"));
    QStringList found;
    for (auto it = pattern.globalMatch(text); it.hasNext();)
        found << it.next().captured();
    found.sort();
    return found;
}

// Timing decides how often a port is polled or how many "U"s the boot loader answers before its
// "C": a block of up to three lines repeated right after itself counts once.
QStringList withoutRepeats(const QStringList &lines)
{
    QStringList kept;
    for (const QString &line : lines) {
        kept << line;
        for (int n = 1; n <= 3; ++n) {
            if (kept.size() >= 2 * n && kept.mid(kept.size() - n) == kept.mid(kept.size() - 2 * n, n)) {
                kept.remove(kept.size() - n, n);
                break;
            }
        }
    }
    return kept;
}

// Forwards to the real translator and notes every text of the program's own it has no
// translation for.
class cRecordingTranslator : public QTranslator
{
public:
    QStringList missing;
    QTranslator real;

    QString translate(const char *context, const char *sourceText, const char *disambiguation,
                      int n) const override
    {
        const QString result = real.translate(context, sourceText, disambiguation, n);
        const QByteArray own(context);
        if (result.isEmpty() && (own == "Quaymend" || own == "UpdateWizard"))
            const_cast<cRecordingTranslator *>(this)->missing
                << QString::fromUtf8(context) + QStringLiteral(": ") + QString::fromUtf8(sourceText);
        return result;
    }
    bool isEmpty() const override { return false; }
};

Identification device(const char *description, const QByteArray &reply, const QString &updateVersion)
{
    Identification found;
    found.outcome = DetectionOutcome::UpdateRequired;
    found.description = QCoreApplication::translate("Quaymend", description);
    found.reply = reply;
    found.updateVersion = updateVersion;
    return found;
}

// A page with what the wizard shows beside it at most: the progress bar under the text (busy
// pages, and the pages that follow the driver installation or the transfer) and Copy Log beside
// the prompt buttons (the failure pages).
struct NamedPage
{
    const char *name;
    PageText page;
    bool progressBar;
    bool copyLog;
};

// Every page of the catalogue, with the device texts it can carry.
QList<NamedPage> catalogue()
{
    const Identification cs = device("AIS Class B CS Transceiver", "730400.03.00.00", "730400.03.00.01");
    const Identification so = device("AIS Class B SO Transceiver", "750400.01.02.03", "750400.01.02.04");
    const Identification boot = device("AIS Class B Transceiver", "NOAPP", "750400.01.02.04");
    return {
        { "disconnect", pageDisconnect(), false, false },
        { "install prompt", pageInstallPrompt(), false, false },
        { "installing", pageInstalling(), true, false },
        { "driver installed", pageDriverInstalled(), true, false },
        { "driver failed", pageDriverFailed(), true, true },
        { "connect", pageConnect(), false, false },
        { "detecting", pageDetecting(), true, false },
        { "up to date CS", pageUpToDate(cs), false, false },
        { "up to date SO", pageUpToDate(so), false, false },
        { "update required CS", pageUpdateRequired(cs), false, false },
        { "update required SO", pageUpdateRequired(so), false, false },
        { "update required boot loader", pageUpdateRequired(boot), false, false },
        { "no update file SO", pageNoUpdateFile(so), false, false },
        { "no update file boot loader", pageNoUpdateFile(boot), false, false },
        { "not found", pageNotFound(), false, true },
        { "switching", pageSwitching(), true, false },
        { "connecting", pageConnecting(), true, false },
        { "update in progress", pageUpdateInProgress(), true, false },
        { "connect failed", pageConnectFailed(), false, true },
        { "update failed", pageUpdateFailed(), false, true },
        { "restarting", pageRestarting(), true, false },
        { "port error", pagePortError(), false, true },
        { "file error", pageFileError(), false, true },
        { "update complete", pageUpdateComplete(), true, false },
        { "confirming", pageConfirming(), true, false },
        { "update complete, confirmed", pageUpdateComplete(QStringLiteral("730400.03.00.01")), true, false },
        { "update not confirmed", pageNotConfirmed(QStringLiteral("730400.03.00.00"), QStringLiteral("730400.03.00.01")),
          false, true },
        { "no confirmation", pageNoConfirmation(), false, true },
    };
}

// What does not fit on the page now shown, one line per fault.
QStringList faultsOnScreen(Quaymend &dialog, const QString &page)
{
    Ui::UpdateWizard &ui = QuaymendProbe::ui(dialog);
    dialog.layout()->activate();
    ui.buttons->layout()->activate();
    ui.information->layout()->activate();
    QCoreApplication::processEvents();

    QStringList faults;
    QTextEdit *text = ui.InfoText;
    const qreal textHeight = text->document()->size().height();
    if (text->verticalScrollBar()->isVisible() || textHeight > text->viewport()->height())
        faults << QStringLiteral("%1: text %2 px high in %3 px")
                      .arg(page)
                      .arg(textHeight)
                      .arg(text->viewport()->height());
    if (text->horizontalScrollBar()->isVisible())
        faults << QStringLiteral("%1: text wider than its area").arg(page);

    // Once laid out, the page stays as it is: a scroll bar that comes and goes, or a text area
    // resized again and again, is a layout that never ends (the wizard would hang on this page).
    const cViewChanges changes(text);
    for (int round = 0; round < 5; ++round)
        QCoreApplication::processEvents();
    if (changes.barShownOrHidden + changes.viewportResized > 0)
        faults << QStringLiteral("%1: the layout has not settled (%2 changes)")
                      .arg(page)
                      .arg(changes.barShownOrHidden + changes.viewportResized);

    const QRect row = ui.buttons->contentsRect();
    QList<QPushButton *> shown;
    for (QPushButton *button : { ui.CopyLogButton, ui.RetryButton, ui.NextStepButton }) {
        if (!button->isVisible())
            continue;
        const QString name = page + QStringLiteral(", ") + button->text();
        if (button->sizeHint().width() > button->width())
            faults << QStringLiteral("%1: label needs %2 px, button is %3 px")
                          .arg(name)
                          .arg(button->sizeHint().width())
                          .arg(button->width());
        if (!row.contains(button->geometry()))
            faults << QStringLiteral("%1: button outside its row").arg(name);
        for (QPushButton *other : shown) {
            if (other->geometry().intersects(button->geometry()))
                faults << QStringLiteral("%1: button overlaps %2").arg(name, other->text());
        }
        shown << button;
    }
    return faults;
}

// Run in a child process, so the DPI and language settings of its environment count from the
// start: shows every page with what the wizard shows beside it and prints what does not fit, and
// any text of the program's the translation lacks.
int fitProbeMain(int argc, char **argv)
{
    useWholeScaleFactors(); // as main() does
    QApplication app(argc, argv);
    installTranslations(app); // as main() does
    QTemporaryDir tmp;
    qputenv("TMPDIR", tmp.path().toLocal8Bit());

    // Every text is looked up through this one, so a text without translation shows.
    const QString language = pickTranslation(QLocale::system().uiLanguages());
    cRecordingTranslator recorder;
    if (!language.isEmpty()) {
        if (!recorder.real.load(QStringLiteral(":/i18n/quaymend_") + language))
            return 3;
        QCoreApplication::installTranslator(&recorder);
    }

    Quaymend dialog;
    dialog.show();
    Ui::UpdateWizard &ui = QuaymendProbe::ui(dialog);
    QStringList faults = faultsOnScreen(dialog, QStringLiteral("welcome"));
    std::printf("welcome: %s\n", qPrintable(wizardtest::pageTitle(dialog)));
    // A button of Qt's own standard dialogs, as the About box has one.
    std::printf("Qt: %s\n", qPrintable(QCoreApplication::translate("QPlatformTheme", "Cancel")));

    ui.ProgressBar->setValue(50);
    for (const NamedPage &entry : catalogue()) {
        dialog.showPage(entry.page);
        ui.ProgressBar->setVisible(entry.progressBar);
        ui.CopyLogButton->setVisible(entry.copyLog);
        faults << faultsOnScreen(dialog, QString::fromLatin1(entry.name));
    }
    recorder.missing.removeDuplicates();
    for (const QString &text : recorder.missing)
        faults << QStringLiteral("no translation: ") + text;
    for (const QString &fault : faults)
        std::printf("FAULT %s\n", qPrintable(fault));
    return 0;
}

} // namespace

void tst_Translation::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
}

void tst_Translation::pickTranslation_data()
{
    QTest::addColumn<QStringList>("uiLanguages");
    QTest::addColumn<QString>("translation");

    QTest::newRow("German") << QStringList { "de-DE", "de" } << "de";
    QTest::newRow("Austrian German") << QStringList { "de-AT" } << "de";
    QTest::newRow("underscore form") << QStringList { "de_CH" } << "de";
    QTest::newRow("second choice") << QStringList { "fr-FR", "fr", "de-DE" } << "de";
    QTest::newRow("English first") << QStringList { "en-GB", "de-DE" } << "";
    QTest::newRow("English") << QStringList { "en-US", "en" } << "";
    QTest::newRow("no translation") << QStringList { "fr-FR", "fr" } << "";
    QTest::newRow("C locale") << QStringList { "C" } << "";
    QTest::newRow("nothing") << QStringList() << "";
    QTest::newRow("not a prefix") << QStringList { "dsb-DE" } << "";
}

void tst_Translation::pickTranslation()
{
    QFETCH(QStringList, uiLanguages);
    QFETCH(QString, translation);
    QCOMPARE(::pickTranslation(uiLanguages), translation);
}

void tst_Translation::tsFileComplete_data()
{
    QTest::addColumn<QString>("path");
    const QStringList files = QDir(tsDirectory).entryList({ QStringLiteral("quaymend_*.ts") }, QDir::Files);
    QVERIFY(files.contains(QStringLiteral("quaymend_de.ts")));
    for (const QString &name : files)
        QTest::newRow(qPrintable(name)) << QDir(tsDirectory).filePath(name);
}

void tst_Translation::tsFileComplete()
{
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    QXmlStreamReader xml(&file);
    QString context, source;
    int messages = 0;
    QStringList faults;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            ++messages;
            const QString type = xml.attributes().value(QLatin1String("type")).toString();
            const QString translation = xml.readElementText();
            const QString where = context + QStringLiteral(": \"") + source + QStringLiteral("\": ");
            if (!type.isEmpty() || translation.trimmed().isEmpty())
                faults << where + QStringLiteral("not finished (%1)").arg(type);
            if (placeholdersAndTags(translation) != placeholdersAndTags(source))
                faults << where + QStringLiteral("placeholders or tags differ");
            // Texts are joined to others: " found", "to abort or " and "Click  " rely on their spaces.
            static const QRegularExpression edges(QStringLiteral("^(\\s*).*?(\\s*)$"),
                                                  QRegularExpression::DotMatchesEverythingOption);
            const auto a = edges.match(source), b = edges.match(translation);
            if (a.captured(1) != b.captured(1) || a.captured(2) != b.captured(2))
                faults << where + QStringLiteral("leading or trailing spaces differ");
            if (source.contains(QLatin1String("  ")) && !translation.contains(QLatin1String("  ")))
                faults << where + QStringLiteral("double space lost");
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QVERIFY(messages > 50);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

void tst_Translation::pagesFit_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("welcome");

    const QStringList dpi96 { "QT_FONT_DPI=96" };
    const QStringList dpi192 { "QT_FONT_DPI=192" };
    const QStringList dpi192Unscaled { "QT_ENABLE_HIGHDPI_SCALING=0", "QT_FONT_DPI=192" };
    QTest::newRow("English, 96 dpi") << dpi96 + QStringList { "LANGUAGE=en" } << "Welcome";
    QTest::newRow("English, 192 dpi") << dpi192 + QStringList { "LANGUAGE=en" } << "Welcome";
    QTest::newRow("English, 192 dpi, Qt not scaling")
        << dpi192Unscaled + QStringList { "LANGUAGE=en" } << "Welcome";
    QTest::newRow("German, 96 dpi") << dpi96 + QStringList { "LANGUAGE=de" } << "Willkommen";
    QTest::newRow("German, 192 dpi") << dpi192 + QStringList { "LANGUAGE=de_DE" } << "Willkommen";
    QTest::newRow("German, 192 dpi, Qt not scaling")
        << dpi192Unscaled + QStringList { "LANGUAGE=de" } << "Willkommen";
    QTest::newRow("German from LANG") << dpi96 + QStringList { "LANG=de_DE.UTF-8" } << "Willkommen";
    // A scale factor Qt applies as it is: every length in fractions of a pixel.
    QTest::newRow("English, scaled by 1.25") << QStringList { "QT_SCALE_FACTOR=1.25", "LANGUAGE=en" } << "Welcome";
}

void tst_Translation::pagesFit()
{
    QFETCH(QStringList, environment);
    QFETCH(QString, welcome);

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name :
         { "QT_FONT_DPI", "QT_SCALE_FACTOR", "QT_ENABLE_HIGHDPI_SCALING", "QT_SCALE_FACTOR_ROUNDING_POLICY",
           "QT_SCREEN_SCALE_FACTORS", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG" })
        env.remove(name);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TST_TRANSLATION_FIT_PROBE", "1");
    for (const QString &setting : environment)
        env.insert(setting.section('=', 0, 0), setting.section('=', 1));
    child.setProcessEnvironment(env);
    startBuilt(child, QCoreApplication::applicationFilePath());
    QVERIFY(child.waitForFinished(30000));
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             qPrintable(output + QString::fromUtf8(child.readAllStandardError())));
    QVERIFY2(output.startsWith(QStringLiteral("welcome: ") + welcome + QLatin1Char('\n')),
             qPrintable(output));
    // Qt's own German comes from the system (Debian's qt6-translations-l10n) where it is installed.
    const bool qtGerman = welcome != QLatin1String("Welcome")
        && QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath)
                         + QStringLiteral("/qtbase_de.qm"));
    QVERIFY2(output.contains(QStringLiteral("\nQt: ")
                             + (qtGerman ? QStringLiteral("Abbrechen") : QStringLiteral("Cancel"))
                             + QLatin1Char('\n')),
             qPrintable(output));
    QVERIFY2(!output.contains(QLatin1String("FAULT")), qPrintable(output));
}

void tst_Translation::updateLogStaysEnglish()
{
    // The same short update twice, in English and in German: support reads the log, so it must
    // not change by a byte (timestamps and the simulator's port names aside).
    const auto run = [](QStringList &lines, QString &lastTitle) {
        QTemporaryDir files;
        QVERIFY(!writeUpdateFile(files.filePath(QStringLiteral("730400_03_00_01.hex")), 2500).isNull());
        cSimulator simulator({ "--new-version", "730400.03.00.01" });
        QVERIFY(simulator.start());
        Quaymend dialog;
        QuaymendProbe::updateDirectory(dialog) = files.path();
        dialog.show();
        const auto reached = [&](const char *line, int timeoutMs) {
            return QTest::qWaitFor([&] { return wizardLines(dialog).contains(QLatin1String(line)); },
                                   timeoutMs);
        };
        QVERIFY(clickNext(dialog)); // Welcome
        QVERIFY(clickNext(dialog)); // connect
        QVERIFY(reached("Detecting AIS - update required", 10000));
        QVERIFY(clickNext(dialog));
        QVERIFY(reached("Confirming - confirmed 730400.03.00.01", 30000));
        lastTitle = pageTitle(dialog);
        QVERIFY(clickNext(dialog)); // Close
        QCOMPARE(wizardLines(dialog).last(), QStringLiteral("Complete"));
        lines = logLines(dialog);
        // The simulator's ports are links in its own directory, named after its process.
        const QRegularExpression port(
            QRegularExpression::escape(QFileInfo(simulator.portsFile()).absolutePath())
            + QStringLiteral("/\\S*"));
        for (QString &line : lines)
            line.replace(port, QStringLiteral("<port>"));
        lines = withoutRepeats(lines);
    };

    QStringList english, german;
    QString englishTitle, germanTitle;
    run(english, englishTitle);
    if (QTest::currentTestFailed())
        return;

    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/i18n/quaymend_de.qm")));
    QVERIFY(QCoreApplication::installTranslator(&translator));
    run(german, germanTitle);
    QCoreApplication::removeTranslator(&translator);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(englishTitle, QStringLiteral("Update complete"));
    QCOMPARE(germanTitle, QStringLiteral("Update abgeschlossen"));
    QVERIFY2(english.size() > 10, qPrintable(english.join(QLatin1Char('\n'))));
    QVERIFY2(german == english,
             qPrintable(QStringLiteral("English:\n%1\nGerman:\n%2").arg(english.join('\n'), german.join('\n'))));
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("TST_TRANSLATION_FIT_PROBE"))
        return fitProbeMain(argc, argv);
    QApplication app(argc, argv);
    tst_Translation test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_translation.moc"
