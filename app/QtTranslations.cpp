#include "app/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

QString QtTranslations::Choose(const QStringList& languages) {
    for (const QString& language : languages) {
        const QLocale locale(language);
        if (locale.language() != QLocale::Chinese) {
            continue;
        }
        const bool traditional = locale.script() == QLocale::TraditionalChineseScript ||
                                 locale.territory() == QLocale::Taiwan ||
                                 locale.territory() == QLocale::HongKong ||
                                 locale.territory() == QLocale::Macao;
        return traditional ? QStringLiteral("zh_TW") : QStringLiteral("zh_CN");
    }
    return QStringLiteral("zh_CN");
}

QTranslator* QtTranslations::Install(QCoreApplication& app, const QString& folder) {
    const QString from =
        folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
    auto* translator = new QTranslator(&app);
    // "qt_<locale>.qm" gathers the catalogues of every Qt module (base, multimedia, ...).
    if (!translator->load(QStringLiteral("qt_") + Choose(QLocale::system().uiLanguages()), from)) {
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}
