#include "flowwatch.h"

#include "wizardharness.h"

#include <QTest>

cFlowWatch::cFlowWatch(cUpdateFlow &watched)
    : flow(watched)
{
    connect(&flow, &cUpdateFlow::pageChanged, this, [this](Page page, const cUpdateFlow::PageFacts &pageFacts) {
        pages << page;
        facts = pageFacts;
    });
    connect(&flow, &cUpdateFlow::ended, this, [this](Ending ending) { endings << ending; });
    connect(&flow, &cUpdateFlow::progressChanged, this, [this](Progress shown, int percent) {
        progress = shown;
        if (shown == Progress::Percent)
            percents << percent;
    });
    connect(&flow, &cUpdateFlow::closableChanged, this, [this](bool mayClose, bool button) {
        closable = mayClose;
        closeButton = button;
    });
    connect(&flow, &cUpdateFlow::finished, this, [this](int code) { result = code; });
}

bool cFlowWatch::waitFor(Page wanted, int timeoutMs)
{
    return QTest::qWaitFor([&] { return flow.page() == wanted; }, timeoutMs);
}

bool cFlowWatch::next()
{
    const qsizetype heard = pages.size() + flow.copyLog().size();
    flow.next();
    return pages.size() + flow.copyLog().size() > heard;
}

bool cFlowWatch::retry()
{
    const qsizetype heard = pages.size() + flow.copyLog().size();
    flow.retry();
    return pages.size() + flow.copyLog().size() > heard;
}

QStringList cFlowWatch::lines() const
{
    return wizardtest::linesOf(flow.copyLog());
}

QStringList cFlowWatch::ownLines(const QStringList &extra) const
{
    return wizardtest::ownLinesOf(lines(), extra);
}
