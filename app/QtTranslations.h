#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;
class QTranslator;

// Qt's own texts (the standard buttons of message boxes, the file dialog, the player's
// messages) in the language of the windows: Chinese. Of the user's preferred languages
// the first Chinese one decides the script (traditional for Taiwan, Hong Kong and Macao);
// without one, simplified Chinese, the windows' own.
class QtTranslations {
public:
    // Loads Qt's catalogue for Choose(the user's languages) from folder (Qt's translations
    // folder when empty) and installs it in app, which owns it. The installed translator,
    // or nullptr when no catalogue was found (the texts stay in English).
    static QTranslator* Install(QCoreApplication& app, const QString& folder = QString());

    // The catalogue's locale name ("zh_CN" or "zh_TW") for preferred languages given as
    // QLocale::uiLanguages() gives them.
    static QString Choose(const QStringList& languages);
};
