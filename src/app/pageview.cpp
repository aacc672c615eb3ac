#include "app/pageview.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QTextDocument>
#include <QTextEdit>
#include <QtMath>

#include <memory>

cPageView::cPageView(QTextEdit *view)
    : QObject(view)
    , m_view(view)
{
    // The view wraps inside words that are wider than itself (its default), so nothing needs the
    // horizontal bar, and the height left to the text never depends on the text.
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->installEventFilter(this);
    settle();
}

bool cPageView::needsScrollBar(const QTextEdit *view)
{
    // The view has no margins of its own around its viewport: without bars, the viewport is the
    // whole area inside the frame.
    const QRect area = view->contentsRect();
    const std::unique_ptr<QTextDocument> copy(view->document()->clone());
    copy->documentLayout()->setPaintDevice(view->document()->documentLayout()->paintDevice());
    copy->setTextWidth(area.width());
    return qCeil(copy->size().height()) > area.height();
}

void cPageView::settle()
{
    // The view is laid out again only where the decision differs.
    const Qt::ScrollBarPolicy policy
        = needsScrollBar(m_view) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
    if (m_view->verticalScrollBarPolicy() != policy)
        m_view->setVerticalScrollBarPolicy(policy);
}

bool cPageView::eventFilter(QObject *watched, QEvent *event)
{
    // A new size (the progress bar shown or hidden below the text, another screen) or a new font
    // decides the bar again; neither follows from the decision itself.
    if (watched == m_view
        && (event->type() == QEvent::Resize || event->type() == QEvent::FontChange
            || event->type() == QEvent::StyleChange))
        settle();
    return QObject::eventFilter(watched, event);
}
