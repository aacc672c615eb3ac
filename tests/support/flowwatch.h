#pragma once

#include "wizard/updateflow.h"

#include <QList>
#include <QObject>
#include <QStringList>

// Follows one flow as a view does, from its signals alone: the pages it named, the progress bar,
// whether the run may be left, its endings and its result; and answers its pages as a user would.
class cFlowWatch : public QObject
{
public:
    using Page = cUpdateFlow::Page;
    using Ending = cUpdateFlow::Ending;
    using Progress = cUpdateFlow::Progress;

    explicit cFlowWatch(cUpdateFlow &flow);

    cUpdateFlow &flow;
    QList<Page> pages;
    cUpdateFlow::PageFacts facts; // of the last page
    QList<Ending> endings;
    Progress progress = Progress::Hidden;
    QList<int> percents; // every share the bar was set to, negative ones as told
    bool closable = true;
    bool closeButton = true;
    int result = -1; // finished()'s, once the last page was answered

    Page page() const { return flow.page(); }
    // Until the flow shows page; processes events meanwhile.
    bool waitFor(Page page, int timeoutMs);
    // The page's own buttons, pressed: false when the flow refused (every step a press starts
    // names a page or writes a line), so a test cannot answer a page it did not expect.
    bool next();
    bool retry();
    // The update log of the run, timestamps stripped; and the lines the state machine writes itself.
    QStringList lines() const;
    QStringList ownLines(const QStringList &extra = {}) const;
};
