#pragma once

#include "app/pagetext.h"

#include <QString>

// The rich-text document of one wizard page. The page texts go in unescaped (callers put markup
// in them). A busy page (empty nextLabel) ends right after its second body line: it has no prompt
// and no closing tags.
QString pageHtml(const PageText &page);
