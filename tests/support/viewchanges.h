#pragma once

#include <QEvent>
#include <QObject>
#include <QScrollBar>
#include <QTextEdit>

// Counts, from its creation on, how often a text view's vertical scroll bar comes or goes and how
// often the area its text is laid out in gets a new size.
class cViewChanges : public QObject
{
public:
    int barShownOrHidden = 0;
    int viewportResized = 0;

    explicit cViewChanges(QTextEdit *view)
        : m_bar(view->verticalScrollBar())
        , m_viewport(view->viewport())
    {
        m_bar->installEventFilter(this);
        m_viewport->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_bar && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
            ++barShownOrHidden;
        if (watched == m_viewport && event->type() == QEvent::Resize)
            ++viewportResized;
        return false;
    }

private:
    QObject *m_bar;
    QObject *m_viewport;
};
