#pragma once

#include <QString>

// The seven texts of one wizard page. An empty nextLabel makes a busy page. The texts go into
// the page's HTML unescaped: callers embed markup in them.
struct PageText
{
    QString title;
    QString line1;
    QString line2;
    QString nextLabel;
    QString nextHint;
    QString retryLabel;
    QString retryHint;
};
