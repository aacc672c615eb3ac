#pragma once

#include <QObject>

class QTextEdit;

// Keeps the page's text view from laying itself out without end.
//
// Left to itself, a text view shows its scroll bars as needed, and each bar feeds back into the
// layout it depends on: the vertical bar takes width from the text, which wraps anew and can then
// need less height (a tall word at a line's end drops onto a line that is taller anyway), so the
// bar goes, the text widens and needs it again; the horizontal bar takes height whenever a word
// is wider than the view. The toolkit gives up after a few rounds, which can leave the bar hidden
// and the end of the text out of reach; whether a page meets such a cycle at all depends on the
// fonts a system has and the scale factor it runs at.
//
// Here nothing the text does can change the width it is laid out at: the vertical bar is decided
// from the text laid out at the view's full width (shown exactly when that text is taller than
// the view), once for each text and each size of the view, and the horizontal bar never shows: a
// word wider than the view wraps inside it instead.
class cPageView : public QObject
{
public:
    explicit cPageView(QTextEdit *view);
    ~cPageView() override = default;

    // To be called once the view's text has changed.
    void settle();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QTextEdit *m_view;

    // Whether the view's text, laid out at the view's full width, is taller than the view.
    static bool needsScrollBar(const QTextEdit *view);
};
