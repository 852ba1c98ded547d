#include "qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

QtTranslations::QtTranslations() = default;

QtTranslations::~QtTranslations()
{
    if (installed_)
        QCoreApplication::removeTranslator(russian_.get());
}

QString QtTranslations::folder() { return QLibraryInfo::path(QLibraryInfo::TranslationsPath); }

bool QtTranslations::use(int languageIndex)
{
    if (languageIndex != 0) {
        if (installed_)
            QCoreApplication::removeTranslator(russian_.get());
        installed_ = false;
        return true;
    }
    if (installed_)
        return true;
    if (!russian_) {
        auto translator = std::make_unique<QTranslator>();
        // qt_ru loads the translations of Qt's modules, qtbase among them.
        if (!translator->load(QLocale(QLocale::Russian), QStringLiteral("qt"), QStringLiteral("_"), folder()))
            return false;
        russian_ = std::move(translator);
    }
    installed_ = QCoreApplication::installTranslator(russian_.get());
    return installed_;
}
