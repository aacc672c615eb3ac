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
#include <QHash>
#include <QLibraryInfo>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTranslator>
#include <QXmlStreamReader>

#include <cstdio>
#include <memory>

using namespace wizardtest;

// The translations: which one the user's languages choose, that each is complete and keeps the
// source's markup, that every page fits the fixed dialog in every language and names its buttons as
// they read, and that the update log does not change with the language.
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
    void updateLogStaysEnglish_data();
    void updateLogStaysEnglish();

private:
    QTemporaryDir m_tmp;
    // The English run's log, made once for every language's row to be compared with.
    QStringList m_englishLog;
};

namespace {

const QString tsDirectory = QStringLiteral(QUAYMEND_SOURCE_DIR "/translations");

// Every translation the program ships; a file lost from translations/ would otherwise just drop
// its rows.
const QStringList shippedLanguages { "de", "es", "fr", "nl", "sv" };

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

// A button's label as the user reads it: without the accelerator's "&", "&&" as one "&".
QString readLabel(const QPushButton *button)
{
    QString label = button->text();
    label.replace(QLatin1String("&&"), QChar(0x1))
        .remove(QLatin1Char('&'))
        .replace(QChar(0x1), QLatin1Char('&'));
    return label;
}

// The bold words of the "Click ..." sentence, the last paragraph of the page: the buttons' names.
QStringList boldNamesInPrompt(const QTextDocument *document)
{
    QStringList names;
    for (auto it = document->lastBlock().begin(); !it.atEnd(); ++it) {
        if (it.fragment().charFormat().fontWeight() >= QFont::DemiBold)
            names << it.fragment().text().trimmed();
    }
    return names;
}

// The page with the least room left under its text, over all pages shown: "<page> <text height>
// of <viewport height> px".
struct Tightest
{
    QString page;
    qreal textHeight = 0;
    int viewportHeight = 1;
} tightest;

// What does not fit on the page now shown, or names a button otherwise than it reads, one line
// per fault.
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
    if (textHeight / text->viewport()->height() > tightest.textHeight / tightest.viewportHeight)
        tightest = { page, textHeight, text->viewport()->height() };

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

    // Copy Log is not named in the sentence; the prompt buttons are, in their order.
    QStringList labels;
    for (QPushButton *button : { ui.NextStepButton, ui.RetryButton }) {
        if (button->isVisible())
            labels << readLabel(button);
    }
    const QStringList named = boldNamesInPrompt(text->document());
    if (!labels.isEmpty() && named != labels)
        faults << QStringLiteral("%1: the text names \"%2\", the buttons read \"%3\"")
                      .arg(page, named.join(QLatin1String("\", \"")), labels.join(QLatin1String("\", \"")));
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
    std::printf("tightest: %s, text %.0f of %d px\n", qPrintable(tightest.page), tightest.textHeight,
                tightest.viewportHeight);
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
    QTest::newRow("French") << QStringList { "fr-FR", "fr" } << "fr";
    QTest::newRow("Canadian French") << QStringList { "fr-CA" } << "fr";
    QTest::newRow("Dutch") << QStringList { "nl-NL", "nl" } << "nl";
    QTest::newRow("Flemish") << QStringList { "nl_BE" } << "nl";
    QTest::newRow("Spanish") << QStringList { "es-ES", "es" } << "es";
    QTest::newRow("Latin American Spanish") << QStringList { "es-419" } << "es";
    QTest::newRow("Swedish") << QStringList { "sv-SE", "sv" } << "sv";
    QTest::newRow("Finland Swedish") << QStringList { "sv-FI" } << "sv";
    QTest::newRow("second choice") << QStringList { "it-IT", "it", "nl-NL" } << "nl";
    QTest::newRow("first of two translations") << QStringList { "sv-SE", "de-DE" } << "sv";
    QTest::newRow("English first") << QStringList { "en-GB", "de-DE" } << "";
    QTest::newRow("English between") << QStringList { "it-IT", "en-GB", "fr-FR" } << "";
    QTest::newRow("English") << QStringList { "en-US", "en" } << "";
    QTest::newRow("no translation") << QStringList { "it-IT", "it" } << "";
    QTest::newRow("C locale") << QStringList { "C" } << "";
    QTest::newRow("nothing") << QStringList() << "";
    QTest::newRow("not a prefix") << QStringList { "dsb-DE" } << "";
    QTest::newRow("not a prefix, French") << QStringList { "frr-DE" } << "";
    QTest::newRow("not a prefix, Spanish") << QStringList { "est-EE" } << "";
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
    for (const QString &language : shippedLanguages)
        QVERIFY2(files.contains(QStringLiteral("quaymend_%1.ts").arg(language)), qPrintable(language));
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
    // Context and source to translation: the form's buttons must read as the page texts name them.
    QHash<QString, QString> translations;
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
            translations.insert(context + QLatin1Char('\n') + source, translation);
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
    for (const char *button : { "Start", "Retry" }) {
        const QString form = translations.value(QStringLiteral("UpdateWizard\n") + QLatin1String(button));
        const QString pages = translations.value(QStringLiteral("Quaymend\n") + QLatin1String(button));
        if (form != pages)
            faults << QStringLiteral("the form's %1 button reads \"%2\", the pages name it \"%3\"")
                          .arg(QLatin1String(button), form, pages);
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

void tst_Translation::pagesFit_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("welcome");
    // Qt's own Cancel where the system has Qt's translation of the language.
    QTest::addColumn<QString>("qtLanguage");
    QTest::addColumn<QString>("qtCancel");

    const QStringList dpi96 { "QT_FONT_DPI=96" };
    const QStringList dpi192 { "QT_FONT_DPI=192" };
    const QStringList dpi192Unscaled { "QT_ENABLE_HIGHDPI_SCALING=0", "QT_FONT_DPI=192" };
    QTest::newRow("English, 96 dpi") << dpi96 + QStringList { "LANGUAGE=en" } << "Welcome" << "" << "Cancel";
    QTest::newRow("English, 192 dpi") << dpi192 + QStringList { "LANGUAGE=en" } << "Welcome" << "" << "Cancel";
    QTest::newRow("English, 192 dpi, Qt not scaling")
        << dpi192Unscaled + QStringList { "LANGUAGE=en" } << "Welcome" << "" << "Cancel";
    // A scale factor Qt applies as it is: every length in fractions of a pixel.
    QTest::newRow("English, scaled by 1.25")
        << QStringList { "QT_SCALE_FACTOR=1.25", "LANGUAGE=en" } << "Welcome" << "" << "Cancel";

    // Language, a regional form of it for the 192 dpi row, the translated Welcome, Qt's Cancel.
    const struct
    {
        const char *name, *language, *regional, *welcome, *qtCancel;
    } languages[] = {
        { "German", "de", "de_DE", "Willkommen", "Abbrechen" },
        { "French", "fr", "fr_FR", "Bienvenue", "Annuler" },
        { "Dutch", "nl", "nl_NL", "Welkom", "Annuleren" },
        { "Spanish", "es", "es_ES", "Bienvenido", "Cancelar" },
        { "Swedish", "sv", "sv_SE", "Välkommen", "Avbryt" },
    };
    for (const auto &l : languages) {
        const QString language = QLatin1String(l.language), welcome = QString::fromUtf8(l.welcome);
        const QString qtCancel = QString::fromUtf8(l.qtCancel);
        QTest::addRow("%s, 96 dpi", l.name)
            << dpi96 + QStringList { "LANGUAGE=" + language } << welcome << language << qtCancel;
        QTest::addRow("%s, 192 dpi", l.name)
            << dpi192 + QStringList { QStringLiteral("LANGUAGE=") + l.regional } << welcome << language
            << qtCancel;
        QTest::addRow("%s, 192 dpi, Qt not scaling", l.name)
            << dpi192Unscaled + QStringList { "LANGUAGE=" + language } << welcome << language << qtCancel;
        QTest::addRow("%s from LANG", l.name)
            << dpi96 + QStringList { QStringLiteral("LANG=") + l.regional + QStringLiteral(".UTF-8") }
            << welcome << language << qtCancel;
    }
    // As scripts/run.sh is started on a machine set to the C locale: LANGUAGE alone chooses.
    QTest::newRow("French from LANGUAGE, C locale")
        << dpi96 + QStringList { "LANG=C.UTF-8", "LANGUAGE=fr" } << "Bienvenue" << "fr" << "Annuler";
}

void tst_Translation::pagesFit()
{
    QFETCH(QStringList, environment);
    QFETCH(QString, welcome);
    QFETCH(QString, qtLanguage);
    QFETCH(QString, qtCancel);

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
    // Qt's own translation comes from the system (Debian's qt6-translations-l10n) where it is
    // installed; Qt has none for some languages (Swedish in Debian 12).
    const bool qtTranslated = !qtLanguage.isEmpty()
        && QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath)
                         + QStringLiteral("/qtbase_%1.qm").arg(qtLanguage));
    QVERIFY2(output.contains(QStringLiteral("\nQt: ") + (qtTranslated ? qtCancel : QStringLiteral("Cancel"))
                             + QLatin1Char('\n')),
             qPrintable(output));
    static const QRegularExpression tightestLine(QStringLiteral("\ntightest: ([^\n]*)"));
    qInfo("tightest page: %s", qPrintable(tightestLine.match(output).captured(1)));
    QVERIFY2(!output.contains(QLatin1String("FAULT")), qPrintable(output));
}

void tst_Translation::updateLogStaysEnglish_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("completeTitle");
    QTest::newRow("German") << "de" << "Update abgeschlossen";
    QTest::newRow("French") << "fr" << "Mise à jour terminée";
    QTest::newRow("Dutch") << "nl" << "Update voltooid";
    QTest::newRow("Spanish") << "es" << "Actualización completada";
    QTest::newRow("Swedish") << "sv" << "Uppdateringen är klar";
}

void tst_Translation::updateLogStaysEnglish()
{
    // The same short update in English and in the row's language: support reads the log, so it
    // must not change by a byte (timestamps and the simulator's port names aside).
    QFETCH(QString, language);
    QFETCH(QString, completeTitle);
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

    if (m_englishLog.isEmpty()) {
        QString englishTitle;
        run(m_englishLog, englishTitle);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(englishTitle, QStringLiteral("Update complete"));
        QVERIFY2(m_englishLog.size() > 10, qPrintable(m_englishLog.join(QLatin1Char('\n'))));
    }

    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/i18n/quaymend_") + language));
    QVERIFY(QCoreApplication::installTranslator(&translator));
    QStringList translated;
    QString translatedTitle;
    run(translated, translatedTitle);
    QCoreApplication::removeTranslator(&translator);
    if (QTest::currentTestFailed())
        return;

    // The title shows the translation was in force for the whole run.
    QCOMPARE(translatedTitle, completeTitle);
    QVERIFY2(translated == m_englishLog,
             qPrintable(QStringLiteral("English:\n%1\n%2:\n%3")
                            .arg(m_englishLog.join('\n'), language, translated.join('\n'))));
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
