#pragma once

#include "app/pagetext.h"
#include "update/identify.h"
#include "wizard/updateflow.h"

// The texts of the update's pages, one function per page. Every fixed text is translated in the
// dialog's context "Quaymend".

// The page the flow names, with the facts it gives.
PageText pageText(cUpdateFlow::Page page, const cUpdateFlow::PageFacts &facts);
// Whether a page offers "Copy Log to Clipboard": the failure pages, for support.
bool offersCopyLog(cUpdateFlow::Page page);

PageText pageWelcome();
PageText pageDisconnect();
PageText pageInstallPrompt();
PageText pageInstalling();
PageText pageDriverInstalled();
PageText pageDriverFailed();
PageText pageConnect();
PageText pageDetecting();
PageText pageUpToDate(const Identification &device);
PageText pageUpdateRequired(const Identification &device);
PageText pageNoUpdateFile(const Identification &device);
PageText pageNotFound();
PageText pageSwitching();
PageText pageConnecting();
PageText pageUpdateInProgress();
PageText pageConnectFailed();
PageText pageUpdateFailed();
PageText pageRestarting();
PageText pagePortError();
PageText pageFileError();
PageText pageUpdateComplete();
// The update complete page once the device has reported the version it now runs.
PageText pageUpdateComplete(const QString &runningVersion);
PageText pageConfirming();
PageText pageNotConfirmed(const QString &reportedVersion, const QString &expectedVersion);
PageText pageNoConfirmation();

// The title of the pages that follow an identification: "<description> found".
QString deviceTitle(const Identification &device);
// The current version on one line and the update version on the next.
QString versionText(const Identification &device);
