#include "app/highdpi.h"
#include "app/pagehtml.h"
#include "app/pages.h"
#include "app/pageview.h"
#include "app/quaymend.h"
#include "builtprogram.h"
#include "fakelogind.h"
#include "probe.h"
#include "simulator.h"
#include "viewchanges.h"
#include "wizardharness.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QMetaEnum>
#include <QMetaMethod>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QtMath>

#include <iterator>
#include <memory>

namespace {

// Restated here on purpose: a change to the page markup must show up as a failing test.
const QString kStyle = QStringLiteral(" margin-top:0px; margin-bottom:0px; margin-left:0px; "
                                      "margin-right:0px; -qt-block-indent:0; text-indent:0px;");
const QString kHead = QStringLiteral("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" "
                                     "\"http://www.w3.org/TR/REC-html40/strict.dtd\">")
    + QString(25, ' ') + "<html><head><meta name=\"qrichtext\" content=\"1\" /><style type=\"text/css\">"
    + QString(25, ' ') + "p, li { white-space: pre-wrap; }" + QString(25, ' ')
    + "</style></head><body style=\" font-family:'MS Shell Dlg 2'; font-size:8.25pt; font-weight:400; "
      "font-style:normal;\">"
    + QString(25, ' ') + "<p align=\"center\" style=\"" + kStyle + "\"><span style=\" font-size:16pt;\">";
const QString kSpacer = "<p style=\"" + kStyle + "\"><span style=\" font-size:6pt;\"> </span></p>";
const QString kBody = kSpacer + QString(43, ' ') + "<p align=\"left\" style=\"" + kStyle
    + "\"><span style=\" font-size:10pt;\">";
const QString kPrompt = "\n<p align=\"center\" style=\"" + kStyle
    + "\"><span style=\" font-size:10pt;\">__________________________________</span></p>" + QString(24, ' ')
    + kSpacer + QString(24, ' ') + "<p align=\"center\" style=\"" + kStyle
    + "\"><span style=\" font-size:10pt;\">Click  </span><span style=\" font-size:10pt; font-weight:600;\">";

const PageText kStartPage { "Welcome", "one", "two", "Start", "to proceed", "", "" };
const PageText kRetryPage { "Failed", "one", "two", "Cancel", "to abort or ", "Retry", "to try again." };
const PageText kBusyPage { "Detecting", "one", "two", "", "", "", "" };

// Counts the events of each type that reach it; installed on the dialog before busy mode's filter,
// so it runs after it and sees only what the busy filter lets through.
class cInputRecorder : public QObject
{
public:
    QHash<int, int> seen;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        ++seen[event->type()];
        return false;
    }
};

int overrideCursorDepth()
{
    int depth = 0;
    while (QGuiApplication::overrideCursor()) {
        QGuiApplication::restoreOverrideCursor();
        ++depth;
    }
    return depth;
}

bool hasBoldText(QTextDocument *document, const QString &text)
{
    const QTextCursor found = document->find(text);
    return !found.isNull() && found.charFormat().fontWeight() >= QFont::DemiBold;
}

// The sizes that a freshly shown dialog reports, from a child run of this program, so each run
// reads the DPI settings of its own environment at start-up.
int sizeProbeMain(int argc, char **argv)
{
    useWholeScaleFactors(); // as main() does
    QApplication app(argc, argv);
    QTemporaryDir tmp;
    qputenv("TMPDIR", tmp.path().toLocal8Bit());
    Quaymend dialog;
    dialog.show();
    QCoreApplication::processEvents();
    Ui::UpdateWizard &ui = QuaymendProbe::ui(dialog);
    const qreal ratio = dialog.devicePixelRatioF();
    QJsonObject out { { "dpi", dialog.logicalDpiX() },
                      { "ratio", ratio },
                      { "width", qRound(dialog.width() * ratio) },
                      { "height", qRound(dialog.height() * ratio) },
                      { "title", dialog.windowTitle() },
                      { "copyLogLabel", qRound(ui.CopyLogButton->sizeHint().width() * ratio) } };
    for (QPushButton *button : { ui.NextStepButton, ui.RetryButton, ui.CopyLogButton })
        out.insert(button->objectName(),
                   QStringLiteral("%1x%2")
                       .arg(qRound(button->width() * ratio))
                       .arg(qRound(button->height() * ratio)));
    std::fputs(QJsonDocument(out).toJson(QJsonDocument::Compact).constData(), stdout);
    return 0;
}

// How high a text is when laid out at a width.
qreal textHeight(const QString &html, int width)
{
    QTextDocument document;
    document.setHtml(html);
    document.setTextWidth(width);
    return document.size().height();
}

// Whether every line of the view's text can be scrolled to.
bool allTextReachable(const QTextEdit *view)
{
    return view->document()->size().height()
        <= view->viewport()->height() + view->verticalScrollBar()->maximum() + 1;
}

// A paragraph that needs less height when narrower: at full width a tall word ends its first line,
// narrowed by a scroll bar the word moves down onto a line that is taller still. Found by trying
// the count of short words in front of it; empty if the fonts at hand never give such a text.
QString narrowerIsShorter(int width, int narrowedBy)
{
    for (int words = 1; words < 60; ++words) {
        QString html = QStringLiteral("<p><span style=\"font-size:10pt\">");
        for (int i = 0; i < words; ++i)
            html += QStringLiteral("word ");
        html += QStringLiteral(
            "</span><span style=\"font-size:28pt\">X</span> <span style=\"font-size:36pt\">Y</span>"
            "<span style=\"font-size:10pt\"> tail</span></p>");
        if (textHeight(html, width - narrowedBy) < textHeight(html, width))
            return html;
    }
    return QString();
}

} // namespace

Q_DECLARE_METATYPE(PageText)
Q_DECLARE_METATYPE(cUpdateFlow::Page)

class tst_Dialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void pageHtml_data();
    void pageHtml();
    void pageRendering_data();
    void pageRendering();
    void flowPages_data();
    void flowPages();
    void keyboard();
    void busyModeSwallowsInput();
    void busyModeCursor();
    void sizesOnScreen_data();
    void sizesOnScreen();
    void scrollBarSettles_data();
    void scrollBarSettles();
    void pageTextStaysReachable();
    void initialState();
    void slotTable();
    void progressBar();
    void closeRefusedWhileUnderWay();
    void copylogAfterConstruction();
    void copyLogButtonActsOnRelease();
    void aboutNamesTheRunningToolkit();
    void resourcesAreLinkedIn();
    void eventLoopResultIsZero_data();
    void eventLoopResultIsZero();

private:
    QTemporaryDir tmp;
};

void tst_Dialog::initTestCase()
{
    QVERIFY(tmp.isValid());
    qputenv("TMPDIR", tmp.path().toLocal8Bit());
}

void tst_Dialog::cleanup()
{
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
}

void tst_Dialog::pageHtml_data()
{
    QTest::addColumn<PageText>("page");
    QTest::addColumn<QString>("expected");

    QTest::newRow("one button") << kStartPage
                                << kHead + "Welcome</span></p>" + kBody + "one</span></p>" + kBody
            + "two</span></p>" + kPrompt + "Start </span><span style=\" font-size:10pt;\">to proceed</span>"
            + "</p></body></html>";
    QTest::newRow("two buttons") << kRetryPage
                                 << kHead + "Failed</span></p>" + kBody + "one</span></p>" + kBody
            + "two</span></p>" + kPrompt
            + "Cancel </span><span style=\" font-size:10pt;\">to abort or </span>"
            + "<span style=\" font-size:10pt; font-weight:600;\">Retry </span>"
            + "<span style=\" font-size:10pt;\">to try again.</span></p></body></html>";
    QTest::newRow("busy") << kBusyPage
                          << kHead + "Detecting</span></p>" + kBody + "one</span></p>" + kBody
            + "two</span></p>";
    QTest::newRow("markup passes unescaped")
        << PageText { "A & B", "<b>bold</b> &amp; <i>x</i>", "<p>more</p>", "", "", "", "" }
        << kHead + "A & B</span></p>" + kBody + "<b>bold</b> &amp; <i>x</i></span></p>" + kBody
            + "<p>more</p></span></p>";
}

void tst_Dialog::pageHtml()
{
    QFETCH(PageText, page);
    QFETCH(QString, expected);
    QCOMPARE(::pageHtml(page), expected);
}

void tst_Dialog::pageRendering_data()
{
    QTest::addColumn<PageText>("page");
    QTest::addColumn<bool>("nextVisible");
    QTest::addColumn<bool>("retryVisible");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<QStringList>("bold");

    QTest::newRow("one button") << kStartPage << true << false << "Click  Start to proceed"
                                << QStringList { "Start" };
    QTest::newRow("two buttons") << kRetryPage << true << true
                                 << "Click  Cancel to abort or Retry to try again."
                                 << QStringList { "Cancel", "Retry" };
    QTest::newRow("busy") << kBusyPage << false << false << QString() << QStringList();
    QTest::newRow("markup in a line")
        << PageText { "Found",     "Version <span style=\" font-weight:600;\">730400</span>",
                      "two",       "Next...",
                      "to update", "",
                      "" }
        << true << false << "Click  Next... to update" << QStringList { "730400", "Next..." };
}

void tst_Dialog::pageRendering()
{
    QFETCH(PageText, page);
    QFETCH(bool, nextVisible);
    QFETCH(bool, retryVisible);
    QFETCH(QString, prompt);
    QFETCH(QStringList, bold);

    Quaymend dialog;
    dialog.show();
    Ui::UpdateWizard &ui = QuaymendProbe::ui(dialog);
    // Start from the opposite button state, so a page that leaves a button alone is caught.
    dialog.showPage(nextVisible ? kBusyPage : kRetryPage);
    dialog.showPage(page);

    QCOMPARE(ui.NextStepButton->isVisible(), nextVisible);
    QCOMPARE(ui.RetryButton->isVisible(), retryVisible);
    if (nextVisible)
        QCOMPARE(ui.NextStepButton->text(), page.nextLabel);
    if (retryVisible)
        QCOMPARE(ui.RetryButton->text(), page.retryLabel);

    const QString plain = ui.InfoText->toPlainText();
    QVERIFY2(plain.contains(page.title), qPrintable(plain));
    QVERIFY2(!plain.contains('<'), qPrintable(plain));
    if (prompt.isEmpty())
        QVERIFY(!plain.contains("Click"));
    else
        QVERIFY2(plain.trimmed().endsWith(prompt), qPrintable(plain));
    for (const QString &text : bold)
        QVERIFY2(hasBoldText(ui.InfoText->document(), text), qPrintable(text));
    QVERIFY(!hasBoldText(ui.InfoText->document(), "Click"));
}

void tst_Dialog::flowPages_data()
{
    QTest::addColumn<cUpdateFlow::Page>("page");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("next"); // empty: a busy page
    QTest::addColumn<bool>("retry");
    QTest::addColumn<bool>("copyLog");

    using Page = cUpdateFlow::Page;
    const struct
    {
        Page page;
        const char *title, *next;
        bool retry, copyLog;
    } rows[] = {
        { Page::Welcome, "Welcome", "Start", false, false },
        { Page::Disconnect, "Disconnect AIS", "Next...", false, false },
        { Page::InstallPrompt, "Installing USB driver", "Next...", false, false },
        { Page::Installing, "Installing AIS USB driver", "", false, false },
        { Page::DriverInstalled, "AIS USB driver installed", "Next...", false, false },
        { Page::DriverFailed, "AIS USB driver install failed", "Close", false, true },
        { Page::Connect, "Connect your AIS device", "Next...", false, false },
        { Page::Detecting, "Detecting your AIS device", "", false, false },
        { Page::UpToDate, "AIS Class B CS Transceiver found", "Close", false, false },
        { Page::UpdateRequired, "AIS Class B CS Transceiver found", "Next...", false, false },
        { Page::NoUpdateFile, "AIS Class B CS Transceiver found", "Close", false, false },
        { Page::NotFound, "No AIS device found", "Cancel", true, true },
        { Page::Switching, "Updating AIS device", "", false, false },
        { Page::Connecting, "Updating AIS device", "", false, false },
        { Page::UpdateInProgress, "Updating AIS device", "", false, false },
        { Page::ConnectFailed, "Failed to connect for update", "Cancel", true, false },
        { Page::UpdateFailed, "Update failed", "Cancel", true, true },
        { Page::Restarting, "Updating AIS device", "", false, false },
        { Page::PortError, "Update incomplete", "Close", false, true },
        { Page::FileError, "Update incomplete", "Close", false, true },
        { Page::UpdateComplete, "Update complete", "Close", false, false },
        { Page::Confirming, "Updating AIS device", "", false, false },
        { Page::NotConfirmed, "Update not confirmed", "Cancel", true, true },
        { Page::NoConfirmation, "No answer from your AIS device", "Close", true, true },
    };
    QCOMPARE(int(std::size(rows)), QMetaEnum::fromType<Page>().keyCount());
    for (const auto &row : rows)
        QTest::newRow(QMetaEnum::fromType<Page>().valueToKey(int(row.page)))
            << row.page << row.title << row.next << row.retry << row.copyLog;
}

// Each page the flow names, drawn with its buttons; from a page with every button shown before.
void tst_Dialog::flowPages()
{
    QFETCH(cUpdateFlow::Page, page);
    QFETCH(QString, title);
    QFETCH(QString, next);
    QFETCH(bool, retry);
    QFETCH(bool, copyLog);

    Quaymend dialog;
    dialog.show();
    Ui::UpdateWizard &ui = QuaymendProbe::ui(dialog);
    QuaymendProbe::showPage(dialog, cUpdateFlow::Page::NotConfirmed);
    cUpdateFlow::PageFacts facts;
    facts.device.description = QStringLiteral("AIS Class B CS Transceiver");
    QuaymendProbe::showPage(dialog, page, facts);

    QCOMPARE(wizardtest::pageTitle(dialog), title);
    QCOMPARE(ui.NextStepButton->isVisible(), !next.isEmpty());
    if (!next.isEmpty())
        QCOMPARE(ui.NextStepButton->text(), next);
    QCOMPARE(ui.RetryButton->isVisible(), retry);
    QCOMPARE(ui.CopyLogButton->isVisible(), copyLog);
    // The flow answers only the buttons its page has.
    QCOMPARE(cUpdateFlow::offersNext(page), !next.isEmpty());
    QCOMPARE(cUpdateFlow::offersRetry(page), retry);
    QCOMPARE(QGuiApplication::overrideCursor() != nullptr, next.isEmpty());

    // For a screen reader: the view is named after the page and described by its first sentence,
    // as clean text; the focus is on the page's step (the view on a busy page), which is also the
    // default button and carries the page's words.
    QCOMPARE(ui.InfoText->accessibleName(), title);
    const QString description = ui.InfoText->accessibleDescription();
    QCOMPARE(description, description.simplified());
    QVERIFY(!description.contains('<'));
    QCOMPARE(description.isEmpty(), page == cUpdateFlow::Page::DriverInstalled);
    QCOMPARE(dialog.focusWidget(), next.isEmpty() ? static_cast<QWidget *>(ui.InfoText) : ui.NextStepButton);
    QVERIFY(ui.NextStepButton->isDefault());
    if (!next.isEmpty())
        QCOMPARE(ui.NextStepButton->accessibleDescription(),
                 description.isEmpty() ? title : title + ". " + description);
}

// Enter takes the page's step from the button and from the text view; Tab goes through the text
// and the shown buttons from left to right, and back to the step.
void tst_Dialog::keyboard()
{
    wizardtest::useEmptyPortsFile(tmp.path());
    Quaymend dialog;
    dialog.flow().setLimits({ 1 }); // one detection scan: no device at once
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    Ui::UpdateWizard &ui = QuaymendProbe::ui(dialog);

    QCOMPARE(QApplication::focusWidget(), ui.NextStepButton);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(dialog.flow().page(), cUpdateFlow::Page::Connect);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), ui.InfoText);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), ui.NextStepButton); // the hidden buttons are passed over
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter); // from the view
    QCOMPARE(dialog.flow().page(), cUpdateFlow::Page::NotFound);
    QCOMPARE(QApplication::focusWidget(), ui.NextStepButton);
    QList<QWidget *> stops;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        stops << QApplication::focusWidget();
    }
    QCOMPARE(stops, (QList<QWidget *> { ui.InfoText, ui.CopyLogButton, ui.RetryButton, ui.NextStepButton }));
    // Enter on a button that has been tabbed to takes that one.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), ui.RetryButton);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(dialog.flow().page(), cUpdateFlow::Page::Connect); // retried, not cancelled by the default
    QVERIFY(dialog.isVisible());
}

void tst_Dialog::busyModeSwallowsInput()
{
    Quaymend dialog;
    cInputRecorder recorder;
    dialog.installEventFilter(&recorder);
    dialog.setMouseTracking(true); // else button-less moves skip the object filters
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    // Every mouse button and key event is swallowed while busy; the pointer's moves still pass.
    const QList<QEvent::Type> swallowed { QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                          QEvent::MouseButtonDblClick, QEvent::KeyPress, QEvent::KeyRelease };
    for (bool busy : { true, false }) {
        dialog.showPage(busy ? kBusyPage : kStartPage);
        recorder.seen.clear();
        for (QEvent::Type type : swallowed + QList<QEvent::Type> { QEvent::MouseMove }) {
            const QPointF at(5, 5);
            const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
            std::unique_ptr<QEvent> event;
            if (type == QEvent::KeyPress || type == QEvent::KeyRelease)
                event = std::make_unique<QKeyEvent>(type, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
            else
                event = std::make_unique<QMouseEvent>(type, at, at, at, button, button, Qt::NoModifier);
            QCoreApplication::sendEvent(&dialog, event.get());
        }
        for (QEvent::Type type : swallowed)
            QVERIFY2(recorder.seen.value(type) == (busy ? 0 : 1),
                     qPrintable(QStringLiteral("event type %1, busy %2").arg(type).arg(busy)));
        QCOMPARE(recorder.seen.value(QEvent::MouseMove), 1);
        if (busy) {
            QTest::keyClick(&dialog, Qt::Key_Escape);
            QVERIFY2(dialog.isVisible(), "Escape closed the dialog while busy");
        }
    }
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY2(!dialog.isVisible(), "Escape no longer closes the dialog after busy mode");
}

void tst_Dialog::busyModeCursor()
{
    Quaymend dialog;
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

    dialog.showPage(kBusyPage);
    QVERIFY(QGuiApplication::overrideCursor());
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    dialog.showPage(kBusyPage);
    // Count the stack by emptying it, then put back what the dialog believes it pushed.
    QCOMPARE(overrideCursorDepth(), 1);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);

    // Someone else's cursor on top of ours: the prompt page must leave none behind.
    QGuiApplication::setOverrideCursor(Qt::CrossCursor);
    dialog.showPage(kRetryPage);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

    // A prompt page while not busy pops nothing that belongs to others.
    QGuiApplication::setOverrideCursor(Qt::CrossCursor);
    dialog.showPage(kStartPage);
    QCOMPARE(overrideCursorDepth(), 1);

    // Entering busy mode again pushes again.
    dialog.showPage(kBusyPage);
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
}

void tst_Dialog::sizesOnScreen_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QString>("button");

    // Sizes in device pixels, whoever does the scaling: Qt (device pixel ratio) or the dialog
    // (logical DPI), never both.
    QTest::newRow("96 dpi") << QStringList { "QT_FONT_DPI=96" } << 522 << 367 << "100x30";
    QTest::newRow("120 dpi") << QStringList { "QT_FONT_DPI=120" } << 522 << 367 << "100x30";
    QTest::newRow("144 dpi") << QStringList { "QT_FONT_DPI=144" } << 522 << 367 << "100x30";
    QTest::newRow("192 dpi") << QStringList { "QT_FONT_DPI=192" } << 1044 << 734 << "200x60";
    QTest::newRow("288 dpi") << QStringList { "QT_FONT_DPI=288" } << 1566 << 1101 << "300x90";
    QTest::newRow("scale factor 2") << QStringList { "QT_SCALE_FACTOR=2" } << 1044 << 734 << "200x60";
    QTest::newRow("144 dpi, Qt not scaling")
        << QStringList { "QT_ENABLE_HIGHDPI_SCALING=0", "QT_FONT_DPI=144" } << 522 << 367 << "100x30";
    QTest::newRow("192 dpi, Qt not scaling")
        << QStringList { "QT_ENABLE_HIGHDPI_SCALING=0", "QT_FONT_DPI=192" } << 1044 << 734 << "200x60";
}

void tst_Dialog::sizesOnScreen()
{
    QFETCH(QStringList, environment);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QString, button);

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "QT_FONT_DPI", "QT_SCALE_FACTOR", "QT_ENABLE_HIGHDPI_SCALING",
                              "QT_SCALE_FACTOR_ROUNDING_POLICY", "QT_SCREEN_SCALE_FACTORS" })
        env.remove(name);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TST_DIALOG_SIZE_PROBE", "1");
    for (const QString &setting : environment)
        env.insert(setting.section('=', 0, 0), setting.section('=', 1));
    child.setProcessEnvironment(env);
    startBuilt(child, QCoreApplication::applicationFilePath());
    QVERIFY(child.waitForFinished(20000));
    QCOMPARE(child.exitCode(), 0);
    const QByteArray output = child.readAllStandardOutput();
    const QJsonObject out = QJsonDocument::fromJson(output).object();
    QVERIFY2(!out.isEmpty(), child.readAllStandardError().constData());

    QVERIFY2(out.value("width").toInt() == width && out.value("height").toInt() == height,
             output.constData());
    QCOMPARE(out.value("NextStepButton").toString(), button);
    QCOMPARE(out.value("RetryButton").toString(), button);
    // "Copy Log to Clipboard" is wider than the design width on common fonts: the button then has
    // the width its label needs, at the design height.
    const QStringList design = button.split('x');
    QCOMPARE(out.value("CopyLogButton").toString(),
             QStringLiteral("%1x%2")
                 .arg(qMax(design[0].toInt(), out.value("copyLogLabel").toInt()))
                 .arg(design[1]));
    QCOMPARE(out.value("title").toString(), QString("Quaymend v730900.03.00.00"));
}

void tst_Dialog::scrollBarSettles_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<int>("height"); // of the view, in pixels beyond the text's full-width height
    QTest::addColumn<bool>("bar");

    constexpr int width = 300;
    const int barWidth = QTextEdit().verticalScrollBar()->sizeHint().width();
    const QString shortText = QStringLiteral("<p>A few words.</p>");
    const QString longWord = QStringLiteral("<p>") + QString(120, QLatin1Char('W')) + QStringLiteral("</p>");
    const QString tallWordAtLineEnd = narrowerIsShorter(width, barWidth);
    QVERIFY2(!tallWordAtLineEnd.isEmpty(), "no text here needs less height when narrower");
    const qreal wide = textHeight(tallWordAtLineEnd, width);
    const qreal narrow = textHeight(tallWordAtLineEnd, width - barWidth);

    QTest::newRow("room to spare") << shortText << 50 << false;
    QTest::newRow("exactly as high as the text") << shortText << 0 << false;
    QTest::newRow("a pixel short") << shortText << -1 << true;
    QTest::newRow("far too short") << shortText << -15 << true;
    QTest::newRow("a word wider than the view") << longWord << 0 << false;
    // Narrowed by its bar the text would fit, at full width it does not: the bar must stay, and
    // must not come and go.
    QTest::newRow("fits only once narrowed by the bar")
        << tallWordAtLineEnd << int(std::floor((narrow - wide) / 2)) << true;
}

void tst_Dialog::scrollBarSettles()
{
    QFETCH(QString, html);
    QFETCH(int, height);
    QFETCH(bool, bar);

    constexpr int width = 300;
    QTextEdit view;
    view.setFrameShape(QFrame::NoFrame);
    auto *settler = new cPageView(&view); // owned by the view
    view.resize(width, 400);
    view.show();
    cViewChanges changes(&view);

    view.setHtml(html);
    settler->settle();
    const int textHigh = qCeil(view.document()->size().height());
    view.resize(width, textHigh + height);
    settler->settle(); // once more, as a new page would
    for (int round = 0; round < 5; ++round)
        QCoreApplication::processEvents();

    QScrollBar *vbar = view.verticalScrollBar();
    QCOMPARE(vbar->isVisible(), bar);
    QVERIFY2(changes.barShownOrHidden <= 1, qPrintable(QString::number(changes.barShownOrHidden)));
    // Every line can be scrolled to, and none is wider than the view.
    QVERIFY(allTextReachable(&view));
    QVERIFY(!view.horizontalScrollBar()->isVisible());
    QVERIFY(view.document()->size().width() <= view.viewport()->width() + 1);

    // Laid out, it stays, decided once more or not: no bar coming or going, no new width for the text.
    const cViewChanges later(&view);
    settler->settle();
    for (int round = 0; round < 5; ++round)
        QCoreApplication::processEvents();
    QCOMPARE(later.barShownOrHidden, 0);
    QCOMPARE(later.viewportResized, 0);
}

void tst_Dialog::pageTextStaysReachable()
{
    Quaymend dialog;
    dialog.show();
    Ui::UpdateWizard &ui = QuaymendProbe::ui(dialog);
    QTextEdit *view = ui.InfoText;
    const auto page = [](int words) {
        QString line;
        for (int i = 0; i < words; ++i)
            line += QStringLiteral("word ");
        return PageText { "Title", line, "", "Next", "to go on", "", "" };
    };

    dialog.showPage(page(600));
    QVERIFY(view->verticalScrollBar()->isVisible());
    QCoreApplication::processEvents();
    QVERIFY(allTextReachable(view));
    dialog.showPage(page(3));
    QVERIFY(!view->verticalScrollBar()->isVisible());

    // A text that fits above a hidden progress bar and not above a shown one: the bar comes with it.
    ui.ProgressBar->show();
    QCoreApplication::processEvents();
    const int besideBar = view->contentsRect().height();
    ui.ProgressBar->hide();
    QCoreApplication::processEvents();
    const int alone = view->contentsRect().height();
    QVERIFY(besideBar < alone);
    int words = 3;
    for (; words < 600; ++words) {
        dialog.showPage(page(words));
        const qreal high = view->document()->size().height();
        if (high > besideBar + 1 && high < alone)
            break;
    }
    QVERIFY(words < 600);
    QVERIFY(!view->verticalScrollBar()->isVisible());
    dialog.setProgressBusy();
    QVERIFY(view->verticalScrollBar()->isVisible());
    QCoreApplication::processEvents();
    QVERIFY(allTextReachable(view));
}

void tst_Dialog::initialState()
{
    Quaymend dialog;
    Ui::UpdateWizard &ui = QuaymendProbe::ui(dialog);
    QCOMPARE(dialog.windowTitle(), QString("Quaymend v730900.03.00.00"));
    // Qt adds the title and system menu hints that the buttons need; nothing else may be there.
    const Qt::WindowFlags flags = dialog.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);
    QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());

    dialog.show();
    QVERIFY(ui.NextStepButton->isVisible());
    QCOMPARE(ui.NextStepButton->text(), QString("Start"));
    QVERIFY(!ui.RetryButton->isVisible());
    QVERIFY(!ui.CopyLogButton->isVisible());
    QVERIFY(!ui.ProgressBar->isVisible());
    QVERIFY(ui.InfoText->isVisible());
    QVERIFY(ui.InfoText->isReadOnly());
    QVERIFY(ui.decoration->isVisible());
    QVERIFY(ui.InfoText->toPlainText().contains("Welcome"));
    QVERIFY(ui.InfoText->toPlainText().contains("Click  Start to proceed"));
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QCOMPARE(dialog.flow().page(), cUpdateFlow::Page::Welcome);
    QVERIFY(dialog.flow().closable());
}

void tst_Dialog::slotTable()
{
    const QMetaObject &meta = Quaymend::staticMetaObject;
    QCOMPARE(meta.className(), "Quaymend");
    QStringList own;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Public);
        QCOMPARE(method.parameterCount(), 0);
        own << QString::fromLatin1(method.methodSignature());
    }
    QCOMPARE(own, (QStringList { "about()", "stepWizard()", "retry()", "copylog()" }));
}

void tst_Dialog::progressBar()
{
    Quaymend dialog;
    dialog.show();
    QProgressBar *bar = QuaymendProbe::ui(dialog).ProgressBar;

    struct Expect
    {
        int minimum, maximum, value;
        bool inverted;
    };
    const auto check = [&](const Expect &e) {
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->minimum(), e.minimum);
        QCOMPARE(bar->maximum(), e.maximum);
        QCOMPARE(bar->value(), e.value);
        QCOMPARE(bar->invertedAppearance(), e.inverted);
    };

    dialog.setProgressPercent(-30);
    check({ 0, 100, 30, true });
    dialog.setProgressPercent(100);
    check({ 0, 100, 100, false });
    dialog.setProgressBusy();
    check({ 0, 0, 0, false });
    dialog.setProgressPercent(45);
    check({ 0, 100, 45, false });
    dialog.setProgressPercent(0);
    check({ 0, 100, 0, false });
}

// From the boot command until the device has confirmed its new version, every way of closing the
// window is refused and its title bar offers no close button; the computer is kept awake meanwhile.
// Once confirmed, closing works as before.
void tst_Dialog::closeRefusedWhileUnderWay()
{
    cFakeLogind logind;
    QString why;
    QVERIFY2(logind.start(why), qPrintable(why));
    QTemporaryDir files;
    QVERIFY(!wizardtest::writeUpdateFile(files.filePath("730400_03_00_01.hex"), 3000).isNull());
    cSimulator device({ "--new-version", "730400.03.00.01", "--flash-ms", "100" });
    QVERIFY(device.start());
    Quaymend dialog;
    dialog.flow().setUpdateSource(UpdateSource(files.path()));
    dialog.show();
    int refused = 0, asked = 0;
    connect(&dialog.flow(), &cUpdateFlow::pageChanged, &dialog, [&](cUpdateFlow::Page page) {
        if (page != cUpdateFlow::Page::Switching && page != cUpdateFlow::Page::UpdateInProgress
            && page != cUpdateFlow::Page::Confirming)
            return;
        QTimer::singleShot(0, &dialog, [&] {
            asked += 2;
            refused += !dialog.close() && dialog.isVisible() && logind.held() == 1;
            dialog.reject();
            refused += dialog.isVisible() && !wizardtest::hasCloseButton(dialog)
                && !wizardtest::hasMinimiseButton(dialog);
        });
    });
    QVERIFY(wizardtest::clickNext(dialog) && wizardtest::clickNext(dialog));
    QVERIFY(
        QTest::qWaitFor([&] { return wizardtest::clickNext(dialog); }, 15000)); // "Next..." starts the update
    QTRY_COMPARE_WITH_TIMEOUT(wizardtest::pageTitle(dialog), QStringLiteral("Update complete"), 30000);
    QCOMPARE(asked, 6);
    QCOMPARE(refused, asked);
    QCOMPARE(logind.held(), 0);
    QVERIFY(wizardtest::hasCloseButton(dialog) && wizardtest::hasMinimiseButton(dialog));
    QCOMPARE(QuaymendProbe::ui(dialog).ProgressBar->value(), 100);
    QVERIFY(dialog.close());
    QVERIFY(!dialog.isVisible());
}

void tst_Dialog::copylogAfterConstruction()
{
    QGuiApplication::clipboard()->setText("stale");
    Quaymend dialog;
    dialog.copylog();
    const QString copied = QGuiApplication::clipboard()->text(QClipboard::Clipboard);
    static const QRegularExpression line(R"(^\d\d \S+ \d{4} - \d\d:\d\d:\d\d\.\d{3} : Welcome screen\n$)");
    QVERIFY2(line.match(copied).hasMatch(), qPrintable(copied));
}

void tst_Dialog::copyLogButtonActsOnRelease()
{
    Quaymend dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QPushButton *button = QuaymendProbe::ui(dialog).CopyLogButton;
    button->show();
    dialog.flow().log("marker");

    QGuiApplication::clipboard()->setText("stale");
    QTest::mousePress(button, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("stale"));
    QTest::mouseRelease(button, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), dialog.flow().copyLog());
    QVERIFY(QGuiApplication::clipboard()->text().endsWith(" : marker\n"));
}

void tst_Dialog::aboutNamesTheRunningToolkit()
{
    Quaymend dialog;
    QString title, text;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        title = box->windowTitle();
        text = box->text();
        box->accept();
    });
    // By name, as nothing in the dialog is connected to it.
    QVERIFY(QMetaObject::invokeMethod(&dialog, "about"));
    QCOMPARE(title, QString("About Quaymend"));
    QVERIFY2(text.startsWith("Version 730900.03.00.00\n\n"), qPrintable(text));
    QVERIFY2(text.contains(QLatin1String(qVersion())), qPrintable(text));
    QVERIFY2(text.contains("LGPL 3"), qPrintable(text));
    QVERIFY(!text.contains("4.8.4"));
    QVERIFY(!text.endsWith('\n'));
}

void tst_Dialog::resourcesAreLinkedIn()
{
    Quaymend dialog;
    const QImage side(":/Quaymend/setup.bmp");
    QCOMPARE(side.size(), QSize(164, 314));
    QCOMPARE(side.depth(), 32); // loaded as RGB32 from 24 bpp
    const QIcon icon(":/Quaymend/Resources/reseticon.ico");
    const QList<QSize> sizes = icon.availableSizes();
    for (int s : { 16, 32, 48 })
        QVERIFY2(sizes.contains(QSize(s, s)), qPrintable(QString::number(s)));
    QVERIFY(!dialog.windowIcon().isNull());
}

void tst_Dialog::eventLoopResultIsZero_data()
{
    QTest::addColumn<int>("result");
    QTest::newRow("complete") << 0;
    QTest::newRow("connect failed") << 12;
    QTest::newRow("driver failed") << 13;
    QTest::newRow("closed") << -1;
}

void tst_Dialog::eventLoopResultIsZero()
{
    QFETCH(int, result);
    // The same flow as main(): show the dialog and run the event loop until it ends.
    auto dialog = std::make_unique<Quaymend>();
    dialog->show();
    QTimer::singleShot(50, dialog.get(), [&] {
        if (result < 0)
            dialog->close();
        else
            dialog->done(result);
    });
    // Bounded: if the dialog's end did not end the loop, this ends it with a telling code.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    guard.start(5000);
    QCOMPARE(QApplication::exec(), 0);
    if (result >= 0)
        QCOMPARE(dialog->result(), result);
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("TST_DIALOG_SIZE_PROBE"))
        return sizeProbeMain(argc, argv);
    QApplication app(argc, argv);
    tst_Dialog test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dialog.moc"
