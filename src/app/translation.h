#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;

// The wizard speaks the user's language where a translation is compiled in (":/i18n/quaymend_<language>.qm").
// Only what the user sees is translated: the update log, the device's sentences and the debug trace
// stay English whatever the language, because support reads them.

// The translation to load for a list of UI languages in the user's order of preference (as
// QLocale::uiLanguages() gives them, "de-DE" or "de"): the name of the first compiled-in
// translation ("de"), or empty for English. The texts are written in English, so English anywhere
// in the list wins over every language after it.
QString pickTranslation(const QStringList &uiLanguages);

// Installs the translation for the system's UI languages (LANGUAGE, LC_ALL, LC_MESSAGES, LANG),
// and Qt's own base translation of the same language for the standard dialogs' buttons where the
// system has it. Without a translation for the user's languages nothing is installed: English.
// Call right after the application object is created, before any window exists.
void installTranslations(QCoreApplication &app);
