#include "app/quaymend.h"

#include "app/pagehtml.h"
#include "app/version.h"
#include "support/trace.h"
#include "update/xmodem1ksend.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QLayout>
#include <QMessageBox>
#include <QSessionManager>
#include <QTimer>

namespace {

// The form's design size, and the size a button has before any layout has touched it; both are
// scaled as whole multiples on screens of 192 dpi and more.
constexpr int dialogWidth = 522;
constexpr int dialogHeight = 367;
constexpr int buttonWidth = 100;
constexpr int buttonHeight = 30;
constexpr int referenceDpi = 96;

// The design size of a button at this dialog's DPI.
QSize designButtonSize(const QWidget *dialog)
{
    return QSize(buttonWidth * qMax(1, dialog->logicalDpiX() / referenceDpi),
                 buttonHeight * qMax(1, dialog->logicalDpiY() / referenceDpi));
}

// A button has its design size where its label fits and the width its label needs where it does
// not (a long label, another language, the platform's fonts): never a clipped label. Where the row
// is too narrow for every shown button at its design width (Copy Log beside Cancel and Retry), the
// row gives up design width, down to each label's own width, rather than let buttons overlap.
void fitToLabel(QPushButton *button, const QSize &designSize)
{
    const int labelWidth = button->sizeHint().width();
    button->setMinimumSize(labelWidth, designSize.height());
    button->setMaximumSize(qMax(designSize.width(), labelWidth), designSize.height());
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

} // namespace

// The library is static: without a reference from code that is linked in, the linker would drop
// the compiled-in pictures. Q_INIT_RESOURCE must be used outside any namespace.
static void initResources()
{
    static bool done = false;
    if (!done) {
        Q_INIT_RESOURCE(quaymend);
        done = true;
    }
}

Quaymend::Quaymend(QWidget *parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
    , pageView(nullptr)
    , wizardState(StateConnect)
    , retryState(StateConnect)
    , notFoundShown(false)
    , bootLoaderOnly(false)
    , timerCode(0)
    , transferThread(nullptr)
    , updateAttempts(0)
    , detectScansLeft(0)
    , bootScansLeft(0)
    , updateDirectory(QCoreApplication::applicationDirPath())
    , busy(false)
    , updateUnderWay(false)
    , keepAwakeFailureLogged(false)
    , confirmUpdate(true)
    , confirmWaitMs(confirmTimeoutMs)
{
    initResources();
    ui.setupUi(this);
    pageView = new cPageView(ui.InfoText);
    setWindowFlags(Qt::Dialog | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    // Qt scales whole device pixel ratios itself (useWholeScaleFactors) and then reports the DPI
    // left over; only that remainder enlarges the window here, so it is never scaled twice.
    const int dpiX = logicalDpiX();
    const int dpiY = logicalDpiY();
    QM_TRACE("Quaymend::Quaymend") << "DPI:" << dpiX << "x" << dpiY;
    // Below 96 dpi the division gives 0: keep the design size rather than a window of no size.
    const int fx = qMax(1, dpiX / referenceDpi);
    const int fy = qMax(1, dpiY / referenceDpi);
    setFixedSize(dialogWidth * fx, dialogHeight * fy);
    for (QPushButton *button : { ui.NextStepButton, ui.RetryButton, ui.CopyLogButton }) {
        fitToLabel(button, QSize(buttonWidth * fx, buttonHeight * fy));
        button->resize(button->maximumSize()); // hidden ones keep this size until laid out
    }

    setWindowTitle(windowTitle() + QStringLiteral(" v") + QLatin1String(programVersion));

    ui.RetryButton->hide();
    ui.ProgressBar->hide();
    ui.CopyLogButton->hide();

    showPage({ tr("Welcome"),
               tr("This software will install or update the USB device driver necessary to communicate with "
                  "your AIS device and update the AIS device firmware to ensure optimum performance."),
               tr("It is recommended that all other applications are closed before proceeding."), tr("Start"),
               tr("to proceed"), QString(), QString() });
    log("Welcome screen");

#ifndef QT_NO_SESSIONMANAGER
    // Logging out mid-update would end the program and leave the device without an application.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &manager) {
        if (updateUnderWay && manager.allowsInteraction())
            manager.cancel();
    });
#endif
}

Quaymend::~Quaymend()
{
    // The sender's destructor waits for a running transfer, which still uses serialPort.
    delete transferThread;
    transferThread = nullptr;
    if (busy) {
        while (QGuiApplication::overrideCursor())
            QGuiApplication::restoreOverrideCursor();
        removeEventFilter(&busyFilter);
    }
}

void Quaymend::showPage(const PageText &page)
{
    if (!page.nextLabel.isEmpty()) {
        if (busy) {
            // Every override cursor goes, not only ours: a prompt page must never show a wait cursor.
            while (QGuiApplication::overrideCursor())
                QGuiApplication::restoreOverrideCursor();
            removeEventFilter(&busyFilter);
        }
        busy = false;

        ui.NextStepButton->setText(page.nextLabel);
        fitToLabel(ui.NextStepButton, designButtonSize(this));
        ui.NextStepButton->show();
        if (!page.retryLabel.isEmpty()) {
            ui.RetryButton->setText(page.retryLabel);
            fitToLabel(ui.RetryButton, designButtonSize(this));
            ui.RetryButton->show();
        } else {
            ui.RetryButton->hide();
        }
    } else {
        ui.NextStepButton->hide();
        ui.RetryButton->hide();
        if (!busy) {
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
            installEventFilter(&busyFilter);
        }
        busy = true;
    }

    ui.InfoText->setText(pageHtml(page));
    pageView->settle();
    // A busy page is followed by work that holds the GUI thread (a port scan can take seconds):
    // it is drawn now, or the user would watch the previous page, buttons and all, meanwhile.
    if (busy && isVisible()) {
        if (layout())
            layout()->activate();
        repaint();
    }
}

void Quaymend::setProgressPercent(int percent)
{
    ui.ProgressBar->show();
    ui.ProgressBar->setMaximum(100);
    // QProgressBar repaints on every call of this setter, changed or not, and the transfer sets
    // the bar a hundred times a second.
    if (ui.ProgressBar->invertedAppearance() != (percent < 0))
        ui.ProgressBar->setInvertedAppearance(percent < 0);
    ui.ProgressBar->setValue(qAbs(percent));
    if (progressListener)
        progressListener(qAbs(percent));
}

void Quaymend::setProgressBusy()
{
    ui.ProgressBar->show();
    ui.ProgressBar->setMaximum(0);
    ui.ProgressBar->setMinimum(0);
    ui.ProgressBar->setValue(0);
}

void Quaymend::scheduleTimer(int delayMs, int code)
{
    timerCode = code;
    QTimer::singleShot(delayMs, this, &Quaymend::timer);
}

void Quaymend::closeEvent(QCloseEvent *event)
{
    if (updateUnderWay) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void Quaymend::reject()
{
    if (updateUnderWay)
        return;
    QDialog::reject();
}

void Quaymend::setConfirmUpdate(bool confirm)
{
    confirmUpdate = confirm;
}

void Quaymend::copylog()
{
    QGuiApplication::clipboard()->setText(logText, QClipboard::Clipboard);
}

void Quaymend::setUpdateSource(const UpdateSource &source)
{
    updateDirectory = source.directory;
    updateFileOnly = source.onlyName;
}

void Quaymend::setProgressListener(std::function<void(int percent)> listener)
{
    progressListener = std::move(listener);
}

void Quaymend::bindToDevice(const QString &serialNumber, const QString &portName)
{
    deviceFollower.bind(serialNumber, portName);
}

QString Quaymend::updateFilePath() const
{
    return updateFileName.isEmpty() ? QString() : updateDirectory + QLatin1Char('/') + updateFileName;
}

void Quaymend::about()
{
    QMessageBox::about(
        this, tr("About Quaymend"),
        tr("Version ") + QLatin1String(programVersion) + QStringLiteral("\n\n")
            + tr("This program uses the Qt toolkit, version %1.").arg(QLatin1String(qVersion()))
            + QLatin1Char('\n')
            + tr("Qt is provided under the GNU Lesser General Public License version 3 "
                 "(LGPL 3)."));
}
