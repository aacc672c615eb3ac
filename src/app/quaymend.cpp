#include "app/quaymend.h"

#include "app/pagehtml.h"
#include "app/pages.h"
#include "app/version.h"
#include "support/trace.h"

#include <QAccessibleWidget>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QLayout>
#include <QMessageBox>
#include <QSessionManager>
#include <QWindow>

namespace {

// The form's design size, and the size a button has before any layout has touched it; both are
// scaled as whole multiples on screens of 192 dpi and more.
constexpr int dialogWidth = 522;
constexpr int dialogHeight = 367;
constexpr int buttonWidth = 100;
constexpr int buttonHeight = 30;
constexpr int referenceDpi = 96;

// No close or minimise button while the device's flash is being written. The title and system
// menu hints are the ones the toolkit adds to a new window's flags; they are named here because the
// title bar changes in place on a shown window, where nothing adds them, and the window must get
// back the very title bar it started with.
constexpr Qt::WindowFlags transferWindowFlags = Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint;
constexpr Qt::WindowFlags normalWindowFlags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
    | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;

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

// The side picture says nothing a screen reader could read out: it is given to assistive
// technology as a picture that is not shown, which screen readers pass over, rather than as an
// empty frame they would stop at.
class cDecorationAccessible : public QAccessibleWidget
{
public:
    explicit cDecorationAccessible(QWidget *widget)
        : QAccessibleWidget(widget, QAccessible::Graphic)
    { }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.invisible = true;
        state.focusable = false;
        return state;
    }
};

QAccessibleInterface *decorationAccessible(const QString &, QObject *object)
{
    auto *frame = qobject_cast<QFrame *>(object);
    if (frame && frame->objectName() == QLatin1String("decoration")
        && qobject_cast<Quaymend *>(frame->parent()))
        return new cDecorationAccessible(frame);
    return nullptr;
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
    , busy(false)
{
    initResources();
    static const bool decorationHidden = (QAccessible::installFactory(decorationAccessible), true);
    Q_UNUSED(decorationHidden);
    ui.setupUi(this);
    pageView = new cPageView(ui.InfoText);
    setWindowFlags(normalWindowFlags);

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

    // Keyboard: Enter takes the page's step, also from the text view, and Tab goes through what
    // the page shows in reading order: its text (which may need scrolling), then the buttons from
    // left to right. The side picture is decoration: never focused, never named.
    ui.NextStepButton->setDefault(true);
    setTabOrder(ui.InfoText, ui.CopyLogButton);
    setTabOrder(ui.CopyLogButton, ui.RetryButton);
    setTabOrder(ui.RetryButton, ui.NextStepButton);
    ui.decoration->setFocusPolicy(Qt::NoFocus);
    ui.ProgressBar->setAccessibleName(tr("Update progress"));

    connect(&m_flow, &cUpdateFlow::pageChanged, this, &Quaymend::onPage);
    connect(&m_flow, &cUpdateFlow::progressChanged, this, &Quaymend::onProgress);
    connect(&m_flow, &cUpdateFlow::closableChanged, this, &Quaymend::onClosable);
    connect(&m_flow, &cUpdateFlow::finished, this, &QDialog::done);
    m_flow.start();

#ifndef QT_NO_SESSIONMANAGER
    // Logging out mid-update would end the program and leave the device without an application.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &manager) {
        if (!m_flow.closable() && manager.allowsInteraction())
            manager.cancel();
    });
#endif
}

Quaymend::~Quaymend()
{
    if (busy) {
        while (QGuiApplication::overrideCursor())
            QGuiApplication::restoreOverrideCursor();
        removeEventFilter(&busyFilter);
    }
}

void Quaymend::onPage(cUpdateFlow::Page page, const cUpdateFlow::PageFacts &facts)
{
    showPage(pageText(page, facts));
    ui.CopyLogButton->setVisible(offersCopyLog(page));
}

void Quaymend::onProgress(cUpdateFlow::Progress progress, int percent)
{
    switch (progress) {
    case cUpdateFlow::Progress::Hidden:
        ui.ProgressBar->hide();
        break;
    case cUpdateFlow::Progress::Busy:
        setProgressBusy();
        break;
    case cUpdateFlow::Progress::Percent:
        if (m_flow.page() != cUpdateFlow::Page::Installing) {
            setProgressPercent(percent);
            break;
        }
        // The installer holds the thread: the event loop draws nothing meanwhile, so each step is
        // drawn here, and the bar laid out and drawn when it first appears.
        if (ui.ProgressBar->isHidden()) {
            ui.ProgressBar->show();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            repaint();
        }
        setProgressPercent(percent);
        ui.ProgressBar->repaint();
        break;
    }
}

void Quaymend::onClosable(bool, bool closeButton)
{
    // The toolkit adds hints of its own to the flags, so only the two buttons tell the sets apart.
    const Qt::WindowFlags flags = closeButton ? normalWindowFlags : transferWindowFlags;
    const Qt::WindowFlags buttons = Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    if ((windowFlags() & buttons) == (flags & buttons))
        return;
    // A shown window is told its new title bar in place: setWindowFlags() would hide it, and shown
    // again it would come back without the keyboard, so Enter on the next page would do nothing.
    if (isVisible()) {
        overrideWindowFlags(flags);
        windowHandle()->setFlags(flags);
    } else {
        setWindowFlags(flags);
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
    presentToScreenReader(page);
    // A busy page is followed by work that holds the GUI thread (a port scan can take seconds):
    // it is drawn now, or the user would watch the previous page, buttons and all, meanwhile.
    if (busy && isVisible()) {
        if (layout())
            layout()->activate();
        repaint();
    }
}

void Quaymend::presentToScreenReader(const PageText &page)
{
    // The view is named after the page it shows; the toolkit tells the change to assistive
    // technology (name and description changed) as each is set.
    const QString name = pageAccessibleName(page);
    const QString description = pageAccessibleDescription(page);
    ui.InfoText->setAccessibleName(name);
    ui.InfoText->setAccessibleDescription(description);

    // A screen reader speaks what has the focus, and changes to the name and description of what
    // has it; a page that only changes somewhere else goes unheard. So the focus sits on the page's
    // step (the text view on a busy page, which has none), and the step carries the page's words.
    QWidget *const step = busy ? static_cast<QWidget *>(ui.InfoText) : ui.NextStepButton;
    if (!busy)
        ui.NextStepButton->setAccessibleDescription(
            description.isEmpty() ? name : name + QStringLiteral(". ") + description);
    step->setFocus(Qt::OtherFocusReason);
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
}

void Quaymend::setProgressBusy()
{
    ui.ProgressBar->show();
    ui.ProgressBar->setMaximum(0);
    ui.ProgressBar->setMinimum(0);
    ui.ProgressBar->setValue(0);
}

void Quaymend::closeEvent(QCloseEvent *event)
{
    if (!m_flow.cancel()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void Quaymend::reject()
{
    if (!m_flow.cancel())
        return;
    QDialog::reject();
}

void Quaymend::stepWizard()
{
    m_flow.next();
}

void Quaymend::retry()
{
    ui.RetryButton->hide();
    m_flow.retry();
}

void Quaymend::copylog()
{
    QGuiApplication::clipboard()->setText(m_flow.copyLog(), QClipboard::Clipboard);
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
