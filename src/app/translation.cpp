#include "app/translation.h"

#include "support/trace.h"

#include <QCoreApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

const QString compiledIn = QStringLiteral(":/i18n/quaymend_%1.qm");

bool isEnglish(const QString &language)
{
    const QString primary = language.section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0);
    return primary.compare(QLatin1String("en"), Qt::CaseInsensitive) == 0 || primary == QLatin1String("C")
        || primary == QLatin1String("POSIX");
}

} // namespace

QString pickTranslation(const QStringList &uiLanguages)
{
    for (const QString &language : uiLanguages) {
        if (isEnglish(language))
            return QString();
        // "de-AT" finds quaymend_de_AT.qm, else quaymend_de.qm.
        QString name = language;
        name.replace(QLatin1Char('-'), QLatin1Char('_'));
        while (!name.isEmpty()) {
            if (QFile::exists(compiledIn.arg(name)))
                return name;
            const qsizetype cut = name.lastIndexOf(QLatin1Char('_'));
            name.truncate(cut < 0 ? 0 : cut);
        }
    }
    return QString();
}

void installTranslations(QCoreApplication &app)
{
    const QStringList languages = QLocale::system().uiLanguages();
    const QString name = pickTranslation(languages);
    QM_TRACE("installTranslations") << "UI languages:" << languages.join(QLatin1Char(','))
                                    << "translation:" << (name.isEmpty() ? QStringLiteral("none") : name);
    if (name.isEmpty())
        return;

    auto *own = new QTranslator(&app);
    if (!own->load(compiledIn.arg(name))) {
        delete own;
        return;
    }
    app.installTranslator(own);

    // The About box's button comes from Qt. Its translation belongs to the system (Debian's
    // qt6-translations-l10n); without it that one button stays English.
    auto *base = new QTranslator(&app);
    if (base->load(QStringLiteral("qtbase_") + name, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(base);
    else
        delete base;
}
