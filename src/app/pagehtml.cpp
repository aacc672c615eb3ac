#include "app/pagehtml.h"

#include <QCoreApplication>
#include <QTextDocumentFragment>

namespace {

const QString paragraphStyle = QStringLiteral(
    " margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; "
    "text-indent:0px;");

QString spaces(int count)
{
    return QString(count, QLatin1Char(' '));
}

QString spacerParagraph()
{
    return QStringLiteral("<p style=\"") + paragraphStyle
        + QStringLiteral("\"><span style=\" font-size:6pt;\"> </span></p>");
}

QString headPiece()
{
    return QStringLiteral("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" "
                          "\"http://www.w3.org/TR/REC-html40/strict.dtd\">")
        + spaces(25)
        + QStringLiteral("<html><head><meta name=\"qrichtext\" content=\"1\" /><style type=\"text/css\">")
        + spaces(25) + QStringLiteral("p, li { white-space: pre-wrap; }") + spaces(25)
        + QStringLiteral("</style></head><body style=\" font-family:'MS Shell Dlg 2'; font-size:8.25pt; "
                         "font-weight:400; font-style:normal;\">")
        + spaces(25) + QStringLiteral("<p align=\"center\" style=\"") + paragraphStyle
        + QStringLiteral("\"><span style=\" font-size:16pt;\">");
}

QString bodyLinePiece()
{
    return spacerParagraph() + spaces(43) + QStringLiteral("<p align=\"left\" style=\"") + paragraphStyle
        + QStringLiteral("\"><span style=\" font-size:10pt;\">");
}

QString promptPiece()
{
    return QStringLiteral("\n<p align=\"center\" style=\"") + paragraphStyle
        + QStringLiteral("\"><span style=\" font-size:10pt;\">__________________________________</span></p>")
        + spaces(24) + spacerParagraph() + spaces(24) + QStringLiteral("<p align=\"center\" style=\"")
        + paragraphStyle
        + QStringLiteral("\"><span style=\" font-size:10pt;\">")
        // The words before the first button's name; a translation must still lead up to it.
        + QCoreApplication::translate("Quaymend", "Click  ")
        + QStringLiteral("</span><span style=\" font-size:10pt; font-weight:600;\">");
}

const QString boldOpening = QStringLiteral("<span style=\" font-size:10pt; font-weight:600;\">");
const QString hintOpening = QStringLiteral(" </span><span style=\" font-size:10pt;\">");
const QString lineEnd = QStringLiteral("</span></p>");

} // namespace

QString pageHtml(const PageText &page)
{
    QString html = headPiece() + page.title + lineEnd;
    html += bodyLinePiece() + page.line1 + lineEnd;
    html += bodyLinePiece() + page.line2 + lineEnd;
    if (page.nextLabel.isEmpty())
        return html;

    html += promptPiece() + page.nextLabel + hintOpening + page.nextHint + QStringLiteral("</span>");
    if (!page.retryLabel.isEmpty())
        html += boldOpening + page.retryLabel + hintOpening + page.retryHint + QStringLiteral("</span>");
    return html + QStringLiteral("</p></body></html>");
}

namespace {

// A line as it reads aloud: markup and entities resolved, the paragraphs a line may open (the two
// versions, the confirmed version) joined by single spaces.
QString readAloud(const QString &line)
{
    return QTextDocumentFragment::fromHtml(line).toPlainText().simplified();
}

} // namespace

QString pageAccessibleName(const PageText &page)
{
    return readAloud(page.title);
}

QString pageAccessibleDescription(const PageText &page)
{
    const QString first = readAloud(page.line1);
    return first.isEmpty() ? readAloud(page.line2) : first;
}
