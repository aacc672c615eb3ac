#pragma once

#include "app/pagetext.h"

#include <QString>

// The rich-text document of one wizard page. The page texts go in unescaped (callers put markup
// in them). A busy page (empty nextLabel) ends right after its second body line: it has no prompt
// and no closing tags.
QString pageHtml(const PageText &page);

// What a screen reader is given for a page, as clean text without markup or layout: the title as
// the name of what the page shows, and its main sentence (its first body line, or the second
// where the first is empty) as the description.
QString pageAccessibleName(const PageText &page);
QString pageAccessibleDescription(const PageText &page);
