#include "app/pages.h"

#include <QCoreApplication>

namespace {

// The page HTML is not escaped by showPage, so the second body paragraph is opened here.
constexpr char bodyParagraph[]
    = "<p align=\"left\" style=\" margin-top:0px; margin-bottom:0px; margin-left:0px; "
      "margin-right:0px; -qt-block-indent:0; text-indent:0px;\"><span style=\" "
      "font-size:10pt;\">";
constexpr char boldOpen[] = "<span style=\" font-weight:600;\">";
constexpr char spanClose[] = "</span>";

PageText closePage(const QString &title, const QString &line1 = {}, const QString &line2 = {})
{
    return { title,
             line1,
             line2,
             QCoreApplication::translate("Quaymend", "Close"),
             QCoreApplication::translate("Quaymend", "to exit."),
             {},
             {} };
}

PageText nextPage(const QString &title, const QString &line1 = {}, const QString &line2 = {})
{
    return { title,
             line1,
             line2,
             QCoreApplication::translate("Quaymend", "Next..."),
             QCoreApplication::translate("Quaymend", "to continue."),
             {},
             {} };
}

PageText busyPage(const QString &title, const QString &line1 = {}, const QString &line2 = {})
{
    return { title, line1, line2, {}, {}, {}, {} };
}

PageText retryPage(const QString &title, const QString &line1, const QString &line2 = {})
{
    return { title,
             line1,
             line2,
             QCoreApplication::translate("Quaymend", "Cancel"),
             QCoreApplication::translate("Quaymend", "to abort or "),
             QCoreApplication::translate("Quaymend", "Retry"),
             QCoreApplication::translate("Quaymend", "to try again.") };
}

QString installLine1()
{
    return QCoreApplication::translate(
        "Quaymend",
        "This may take a few minutes. Windows may request confirmation to allow installation of the "
        "driver; you must allow installation to complete the update.");
}

QString installLine2()
{
    return QCoreApplication::translate(
        "Quaymend",
        "During the installation, you may be requested to restart your PC.  If this happens, do so "
        "then run Quaymend again to complete the process.");
}

} // namespace

QString deviceTitle(const Identification &device)
{
    return device.description + QCoreApplication::translate("Quaymend", " found");
}

QString versionText(const Identification &device)
{
    // The reply comes from the device and the version from a file name; neither may inject markup.
    return QCoreApplication::translate("Quaymend", "Current version: ")
        + QString::fromLatin1(device.reply).toHtmlEscaped() + QLatin1String(".") + QLatin1Char('\n')
        + QLatin1String(bodyParagraph) + QCoreApplication::translate("Quaymend", "Update version: ")
        + device.updateVersion.toHtmlEscaped() + QLatin1String(".");
}

PageText pageWelcome()
{
    return { QCoreApplication::translate("Quaymend", "Welcome"),
             QCoreApplication::translate(
                 "Quaymend",
                 "This software will install or update the USB device driver necessary to communicate with "
                 "your AIS device and update the AIS device firmware to ensure optimum performance."),
             QCoreApplication::translate("Quaymend",
                                         "It is recommended that all other applications are closed before proceeding."),
             QCoreApplication::translate("Quaymend", "Start"),
             QCoreApplication::translate("Quaymend", "to proceed"),
             QString(),
             QString() };
}

PageText pageDisconnect()
{
    return nextPage(QCoreApplication::translate("Quaymend", "Disconnect AIS"),
                    QCoreApplication::translate(
                        "Quaymend", "Disconnect all AIS devices from this PC before continuing."));
}

PageText pageInstallPrompt()
{
    return nextPage(QCoreApplication::translate("Quaymend", "Installing USB driver"), installLine1(),
                    installLine2());
}

PageText pageInstalling()
{
    return busyPage(QCoreApplication::translate("Quaymend", "Installing AIS USB driver"), installLine1(),
                    installLine2());
}

PageText pageDriverInstalled()
{
    return nextPage(QCoreApplication::translate("Quaymend", "AIS USB driver installed"));
}

PageText pageDriverFailed()
{
    return closePage(QCoreApplication::translate("Quaymend", "AIS USB driver install failed"),
                     QCoreApplication::translate("Quaymend", "Contact your supplier for support."));
}

PageText pageConnect()
{
    return { QCoreApplication::translate("Quaymend", "Connect your AIS device"),
             QCoreApplication::translate("Quaymend", "Connect your AIS device to your PC via its USB cable."),
             {},
             QCoreApplication::translate("Quaymend", "Next..."),
             QCoreApplication::translate("Quaymend", "when you have connected your AIS."),
             {},
             {} };
}

PageText pageDetecting()
{
    return busyPage(QCoreApplication::translate("Quaymend", "Detecting your AIS device"),
                    QCoreApplication::translate("Quaymend", "Please wait..."));
}

PageText pageUpToDate(const Identification &device)
{
    return closePage(deviceTitle(device), versionText(device),
                     QCoreApplication::translate("Quaymend", "Current version is up to date."));
}

PageText pageUpdateRequired(const Identification &device)
{
    return { deviceTitle(device),
             versionText(device),
             QCoreApplication::translate("Quaymend", "The connected AIS device will be updated."),
             QCoreApplication::translate("Quaymend", "Next..."),
             QCoreApplication::translate("Quaymend", "to start AIS update."),
             {},
             {} };
}

PageText pageNoUpdateFile(const Identification &device)
{
    return closePage(
        deviceTitle(device),
        QCoreApplication::translate(
            "Quaymend", "No update available for this device. Contact your supplier for support."));
}

PageText pageNotFound()
{
    return retryPage(QCoreApplication::translate("Quaymend", "No AIS device found"),
                     QCoreApplication::translate(
                         "Quaymend", "If the AIS device is connected, disconnect it before proceeding."));
}

PageText pageSwitching()
{
    return busyPage(QCoreApplication::translate("Quaymend", "Updating AIS device"),
                    QCoreApplication::translate("Quaymend", "Switching AIS to update mode..."));
}

PageText pageConnecting()
{
    return busyPage(QCoreApplication::translate("Quaymend", "Updating AIS device"),
                    QCoreApplication::translate("Quaymend", "Connecting to AIS in update mode..."));
}

PageText pageUpdateInProgress()
{
    return busyPage(QCoreApplication::translate("Quaymend", "Updating AIS device"),
                    QCoreApplication::translate("Quaymend", "Update in progress..."),
                    QLatin1String(boldOpen)
                        + QCoreApplication::translate(
                            "Quaymend",
                            "IMPORTANT: Do not terminate Quaymend, disconnect or power down the AIS device "
                            "during the update.")
                        + QLatin1String(spanClose));
}

PageText pageConnectFailed()
{
    return retryPage(
        QCoreApplication::translate("Quaymend", "Failed to connect for update"),
        QCoreApplication::translate("Quaymend", "It has not been possible to update your AIS."),
        QCoreApplication::translate("Quaymend", "You may retry, or contact your supplier for support."));
}

PageText pageUpdateFailed()
{
    return retryPage(
        QCoreApplication::translate("Quaymend", "Update failed"),
        QCoreApplication::translate("Quaymend", "It has not been possible to update your AIS."),
        QCoreApplication::translate("Quaymend", "You may retry, or contact your supplier for support."));
}

PageText pageRestarting()
{
    return busyPage(QCoreApplication::translate("Quaymend", "Updating AIS device"),
                    QCoreApplication::translate("Quaymend", "Restarting connection..."));
}

PageText pagePortError()
{
    return closePage(QCoreApplication::translate("Quaymend", "Update incomplete"),
                     QCoreApplication::translate("Quaymend", "Unable to access update port."),
                     QCoreApplication::translate("Quaymend", "Contact your supplier for support."));
}

PageText pageFileError()
{
    return closePage(QCoreApplication::translate("Quaymend", "Update incomplete"),
                     QCoreApplication::translate("Quaymend", "Unable to access update file."),
                     QCoreApplication::translate("Quaymend", "Contact your supplier for support."));
}

PageText pageUpdateComplete()
{
    return closePage(
        QCoreApplication::translate("Quaymend", "Update complete"),
        QCoreApplication::translate("Quaymend", "The update has completed successfully."),
        QCoreApplication::translate("Quaymend", "It is now safe to disconnect your AIS device from the PC."));
}

PageText pageUpdateComplete(const QString &runningVersion)
{
    PageText page = pageUpdateComplete();
    // The device's answer may not inject markup either.
    page.line1 += QLatin1Char('\n') + QLatin1String(bodyParagraph)
        + QCoreApplication::translate("Quaymend", "Your AIS device now runs version %1.")
              .arg(runningVersion.toHtmlEscaped());
    return page;
}

PageText pageConfirming()
{
    return busyPage(QCoreApplication::translate("Quaymend", "Updating AIS device"),
                    QCoreApplication::translate("Quaymend", "Confirming the update..."),
                    QLatin1String(boldOpen)
                        + QCoreApplication::translate(
                            "Quaymend",
                            "The AIS device is restarting with its new firmware. Do not disconnect or "
                            "power it down yet.")
                        + QLatin1String(spanClose));
}

PageText pageNotConfirmed(const QString &reportedVersion, const QString &expectedVersion)
{
    return retryPage(
        QCoreApplication::translate("Quaymend", "Update not confirmed"),
        QCoreApplication::translate("Quaymend", "Your AIS device reports version %1 instead of %2.")
            .arg(reportedVersion.toHtmlEscaped(), expectedVersion.toHtmlEscaped()),
        QCoreApplication::translate("Quaymend", "You may retry, or contact your supplier for support."));
}

PageText pageNoConfirmation()
{
    return { QCoreApplication::translate("Quaymend", "No answer from your AIS device"),
             QCoreApplication::translate(
                 "Quaymend", "The update file was sent, but the AIS device has not reported back yet."),
             QLatin1String(boldOpen)
                 + QCoreApplication::translate("Quaymend", "Do not disconnect or power down the AIS device yet.")
                 + QLatin1String(spanClose),
             QCoreApplication::translate("Quaymend", "Close"),
             QCoreApplication::translate("Quaymend", "to exit or "),
             QCoreApplication::translate("Quaymend", "Retry"),
             QCoreApplication::translate("Quaymend", "to ask it again.") };
}

PageText pageText(cUpdateFlow::Page page, const cUpdateFlow::PageFacts &facts)
{
    using Page = cUpdateFlow::Page;
    switch (page) {
    case Page::Welcome: return pageWelcome();
    case Page::Disconnect: return pageDisconnect();
    case Page::InstallPrompt: return pageInstallPrompt();
    case Page::Installing: return pageInstalling();
    case Page::DriverInstalled: return pageDriverInstalled();
    case Page::DriverFailed: return pageDriverFailed();
    case Page::Connect: return pageConnect();
    case Page::Detecting: return pageDetecting();
    case Page::UpToDate: return pageUpToDate(facts.device);
    case Page::UpdateRequired: return pageUpdateRequired(facts.device);
    case Page::NoUpdateFile: return pageNoUpdateFile(facts.device);
    case Page::NotFound: return pageNotFound();
    case Page::Switching: return pageSwitching();
    case Page::Connecting: return pageConnecting();
    case Page::UpdateInProgress: return pageUpdateInProgress();
    case Page::ConnectFailed: return pageConnectFailed();
    case Page::UpdateFailed: return pageUpdateFailed();
    case Page::Restarting: return pageRestarting();
    case Page::PortError: return pagePortError();
    case Page::FileError: return pageFileError();
    case Page::UpdateComplete:
        return facts.reportedVersion.isEmpty() ? pageUpdateComplete() : pageUpdateComplete(facts.reportedVersion);
    case Page::Confirming: return pageConfirming();
    case Page::NotConfirmed: return pageNotConfirmed(facts.reportedVersion, facts.expectedVersion);
    case Page::NoConfirmation: return pageNoConfirmation();
    }
    return {};
}

bool offersCopyLog(cUpdateFlow::Page page)
{
    using Page = cUpdateFlow::Page;
    switch (page) {
    case Page::DriverFailed:
    case Page::NotFound:
    case Page::UpdateFailed:
    case Page::PortError:
    case Page::FileError:
    case Page::NotConfirmed:
    case Page::NoConfirmation:
        return true;
    default:
        return false;
    }
}
