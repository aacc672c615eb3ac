#pragma once

#include "app/busyfilter.h"
#include "app/pagetext.h"
#include "app/pageview.h"
#include "wizard/updateflow.h"

#include "ui_updatewizard.h"

#include <QDialog>

// The program's one window: a view of the update's flow. It draws the page the flow names, its
// buttons answer the flow, and it stays while the flow says the run must not be left.
class Quaymend : public QDialog
{
    Q_OBJECT

public:
    explicit Quaymend(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~Quaymend() override;

    cUpdateFlow &flow() { return m_flow; }

    // Page presentation and progress bar.
    void showPage(const PageText &page);
    void setProgressPercent(int percent);
    void setProgressBusy();

protected:
    // From the boot command until the update is confirmed, the window cannot be closed: not by the
    // window manager, Alt+F4, Escape or the end of the desktop session.
    void closeEvent(QCloseEvent *event) override;

public:
    // Escape, and any other rejection: refused like a close while the update is under way.
    void reject() override;

public slots:
    void about();
    void stepWizard();
    void retry();
    void copylog();

private:
    // The window tests reach the form through this one door.
    friend struct QuaymendProbe;

    void onPage(cUpdateFlow::Page page, const cUpdateFlow::PageFacts &facts);
    void onProgress(cUpdateFlow::Progress progress, int percent);
    void onClosable(bool closable, bool closeButton);
    // The page's name and description for assistive technology, and the focus on its step.
    void presentToScreenReader(const PageText &page);

    Ui::UpdateWizard ui;
    cPageView *pageView;
    cBusyFilter busyFilter;
    bool busy;
    cUpdateFlow m_flow;
};
